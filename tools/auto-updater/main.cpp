// AutoUpdater on Linux: the Qt backend, on a display or offscreen
// (QT_QPA_PLATFORM); with ORLIN_AUTOMATION=1 orlin-ctl drives its window as
// it drives Orlin's. See updater_program.h.

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/install_directory.h"
#include "platform/program_start.h"
#include "tools/auto-updater/updater_program.h"
#include "ui/dui/automation/automation_server.h"
#include "ui/dui/automation/qt/qt_automation.h"
#include "ui/dui/qt/qt_backend.h"

int main(int argc, char** argv) {
  using namespace orlin;
  const auto words = platform::ProgramArguments(argc, argv);
  // A wrong command line is said without a display.
  if (words.empty() || words[0] != "updateApp") return update::RunUpdaterProgram(words, nullptr);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(
      QIcon(QString::fromStdWString((platform::InstallDirectory() / "res" / "icons" / "128.png").wstring())));
  dui::UiBackend::Install(std::make_shared<dui::QtBackend>());
  // orlin-ctl's other end, as in orlin, when the environment asks for it and
  // no Orlin of this install listens there (the updater ends it anyway).
  std::unique_ptr<automation::AutomationServer> automationServer;
  if (automation::AutomationRequested()) {
    automationServer = std::make_unique<automation::AutomationServer>(automation::QtGuiThreadPost(),
                                                                      automation::QtWindowPicture());
    std::string error;
    if (!automationServer->Start(platform::InstallDirectory(), &error)) {
      std::fprintf(stderr, "AutoUpdater: no automation: %s\n", error.c_str());
      automationServer.reset();
    }
  }
  const int result = update::RunUpdaterProgram(words, automation::QtGuiThreadPost());
  if (automationServer) automationServer->Stop();
  dui::UiBackend::Install(nullptr);
  return result;
}
