// orlin on Linux: the program of program.h on the window layer's Qt
// backend. Runs on a display or offscreen (QT_QPA_PLATFORM=offscreen), with
// or without a notification area.

#include <QApplication>
#include <QIcon>

#include <memory>

#include "app/program/program.h"
#include "platform/program_start.h"
#include "ui/dui/automation/qt/qt_automation.h"
#include "ui/dui/qt/qt_backend.h"

namespace {

using namespace orlin;

class QtWindowSystem final : public program::ProgramWindowSystem {
 public:
  QtWindowSystem(int& argc, char** argv) : argc_(argc), argv_(argv) {}

  void Start(const std::filesystem::path& programIcon) override {
    application_ = std::make_unique<QApplication>(argc_, argv_);
    // The main window hides into the tray and dialogs come and go: the
    // program ends by its exit command only.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(QIcon(QString::fromStdWString(programIcon.wstring())));
    dui::UiBackend::Install(std::make_shared<dui::QtBackend>());
  }
  automation::UiThreadPost UiThreadPost() override { return automation::QtGuiThreadPost(); }
  automation::WindowPicture WindowPicture() override { return automation::QtWindowPicture(); }

 private:
  int& argc_;
  char** argv_;
  // Outlives the run: the window layer's backend is taken down first.
  std::unique_ptr<QApplication> application_;
};

}  // namespace

int main(int argc, char** argv) {
  QtWindowSystem windowSystem(argc, argv);
  return program::RunOrlin(platform::ProgramArguments(argc, argv), windowSystem);
}
