// AutoUpdater.exe: the Win32 backend of the window layer; with
// ORLIN_AUTOMATION=1 orlin-ctl drives its window as it drives Orlin's. See
// updater_program.h.

#include <cstdio>
#include <memory>
#include <string>

#include "platform/install_directory.h"
#include "platform/program_start.h"
#include "tools/auto-updater/updater_program.h"
#include "ui/dui/automation/automation_server.h"
#include "ui/dui/automation/win32/win32_automation.h"
#include "ui/dui/win32/win32_backend.h"

int main(int argc, char** argv) {
  using namespace orlin;
  const auto words = platform::ProgramArguments(argc, argv);
  auto backend = std::make_shared<dui::Win32Backend>();
  dui::UiBackend::Install(backend);
  // orlin-ctl's other end while no Orlin of this install listens there.
  std::unique_ptr<automation::AutomationServer> automationServer;
  if (automation::AutomationRequested()) {
    automationServer = std::make_unique<automation::AutomationServer>(automation::Win32GuiThreadPost(),
                                                                      automation::Win32WindowPicture());
    std::string error;
    if (!automationServer->Start(platform::InstallDirectory(), &error)) {
      std::fprintf(stderr, "AutoUpdater: no automation: %s\n", error.c_str());
      automationServer.reset();
    }
  }
  const int result = update::RunUpdaterProgram(words, [backend](std::function<void()> task) {
    backend->PostToUiThread(std::move(task));
  });
  if (automationServer) automationServer->Stop();
  dui::UiBackend::Install(nullptr);
  return result;
}
