// AutoUpdater on Linux: the Qt backend, on a display or offscreen
// (QT_QPA_PLATFORM). See updater_program.h.

#include <QApplication>
#include <QIcon>

#include <memory>

#include "platform/install_directory.h"
#include "platform/program_start.h"
#include "tools/auto-updater/updater_program.h"
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
  const int result = update::RunUpdaterProgram(words, automation::QtGuiThreadPost());
  dui::UiBackend::Install(nullptr);
  return result;
}
