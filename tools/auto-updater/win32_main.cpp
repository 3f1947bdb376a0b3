// AutoUpdater.exe: the Win32 backend of the window layer. See
// updater_program.h.

#include <memory>

#include "platform/program_start.h"
#include "tools/auto-updater/updater_program.h"
#include "ui/dui/win32/win32_backend.h"

int main(int argc, char** argv) {
  using namespace orlin;
  const auto words = platform::ProgramArguments(argc, argv);
  auto backend = std::make_shared<dui::Win32Backend>();
  dui::UiBackend::Install(backend);
  const int result = update::RunUpdaterProgram(words, [backend](std::function<void()> task) {
    backend->PostToUiThread(std::move(task));
  });
  dui::UiBackend::Install(nullptr);
  return result;
}
