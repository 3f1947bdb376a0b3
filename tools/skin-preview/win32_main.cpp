// orlin-skin-preview.exe: the skin preview of the Win32 backend. The same
// command line as the Qt one (see main.cpp); the window is shown on the
// desktop (a virtual display under Wine) and painted with its native
// children into the PNG.

#include <chrono>
#include <cstdio>

#include "platform/executable_path.h"
#include "tools/skin-preview/skin_preview.h"
#include "ui/dui/win32/win32_backend.h"

int main(int argc, char** argv) {
  using namespace orlin;
  const auto request = preview::ParseRequest(argc, argv);
  if (!request) return 2;
  auto backend = std::make_shared<dui::Win32Backend>();
  dui::UiBackend::Install(backend);
  int status = 1;
  {
    preview::ScratchInstance instance(request->lang);
    auto window = preview::ShowPreview(*request, platform::ExecutablePath().parent_path(), instance);
    if (window) {
      // The window shows and its children take their places.
      backend->HandleMessagesFor(std::chrono::milliseconds(200));
      if (dui::GrabWindow(window->GetHWND(), request->out)) status = 0;
      else std::fprintf(stderr, "orlin-skin-preview: cannot write %s\n", request->out.string().c_str());
    }
  }
  dui::UiBackend::Install(nullptr);
  return status;
}
