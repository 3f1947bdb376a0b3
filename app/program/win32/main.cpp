// Orlin.exe: the program of program.h on the window layer's Win32 backend.
// A window program (no console) with a wide entry point; its arguments are
// read from the wide command line (platform::ProgramArguments). WM_COPYDATA
// from Ravel and the exit request 2024 of the updater and the uninstaller
// reach the main window itself, found by its class "UIOrlinFrameWnd".

#include <memory>

#include "app/program/program.h"
#include "platform/program_start.h"
#include "ui/dui/automation/win32/win32_automation.h"
#include "ui/dui/win32/win32_backend.h"

namespace {

using namespace orlin;

class Win32WindowSystem final : public program::ProgramWindowSystem {
 public:
  // The windows take the program's icon (resource 128) from the executable.
  void Start(const std::filesystem::path&) override {
    dui::UiBackend::Install(std::make_shared<dui::Win32Backend>());
  }
  automation::UiThreadPost UiThreadPost() override { return automation::Win32GuiThreadPost(); }
  automation::WindowPicture WindowPicture() override { return automation::Win32WindowPicture(); }
};

}  // namespace

int wmain(int, wchar_t**) {
  Win32WindowSystem windowSystem;
  return program::RunOrlin(platform::ProgramArguments(0, nullptr), windowSystem);
}
