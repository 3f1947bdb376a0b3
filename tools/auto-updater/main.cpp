// AutoUpdater: the updater Orlin's tray "Update" starts from the install
// directory, as `AutoUpdater updateApp`. It shows the window of class
// "UIAutoUpdaterWnd" titled "Tarn AutoUpdater" (updater_wnd.h), which asks
// the Tarn server Orlin is signed in to for the newest version and, on
// Update, downloads, checks and installs it, then starts Orlin again.
// One updater at a time per install directory; a second start ends at once.
//
// Linux: the Qt backend, on a display or offscreen (QT_QPA_PLATFORM). Orlin's
// language switch reaches the window over the install directory's channel
// "updater" (on Windows as the window message itself).

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "common/install_layout.h"
#include "common/window_messages.h"
#include "platform/executable_path.h"
#include "platform/install_directory.h"
#include "platform/process.h"
#include "platform/program_start.h"
#include "platform/single_instance.h"
#include "platform/window_lookup.h"
#include "tools/auto-updater/system_update.h"
#include "tools/auto-updater/updater.h"
#include "tools/auto-updater/updater_wnd.h"
#include "ui/dialogs/message_table.h"
#include "ui/dui/automation/qt/qt_automation.h"
#include "ui/dui/qt/qt_backend.h"

int main(int argc, char** argv) {
  using namespace orlin;
  namespace fs = std::filesystem;
  const auto words = platform::ProgramArguments(argc, argv);
  if (words.empty() || words[0] != "updateApp") {
    std::fputs("usage: AutoUpdater updateApp   (Orlin's tray \"Update\" starts it so)\n", stderr);
    return 2;
  }
  const fs::path program = platform::ExecutablePath();
  const fs::path installDir = platform::InstallDirectory();
  platform::SingleInstanceGuard instance(L"ORLIN_AUTOUPDATER", installDir);
  if (instance.AnotherInstanceRuns()) return 0;

  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(QIcon(QString::fromStdWString((installDir / "res" / "icons" / "128.png").wstring())));
  dui::UiBackend::Install(std::make_shared<dui::QtBackend>());
  dui::CPaintManagerUI::SetInstance(installDir);
  dui::CPaintManagerUI::SetResourcePath(installDir);

  platform::SystemProcessTable processes;
  update::HttpUpdateServer server;
  update::SystemUpdateOptions systemOptions;
  systemOptions.installDir = installDir;
  systemOptions.programDir = program.parent_path();
  systemOptions.extension = program.extension().wstring();
  update::SystemUpdateActions system(systemOptions, processes);
  update::UpdaterOptions options;
  options.layout = InstallLayout{installDir};
  options.currentVersion = ORLIN_VERSION;
  options.downloadDir = installDir / "update";
  update::Updater updater(options, server, system);

  int result = 1;
  {
    update::CAutoUpdaterWnd window(updater, ORLIN_VERSION, ReadLanguage(installDir));
    if (!window.Create(nullptr, kUpdaterWindowTitle, update::CAutoUpdaterWnd::kStyle, 0)) {
      std::fputs("AutoUpdater: cannot build the window from updater.xml\n", stderr);
      dui::UiBackend::Install(nullptr);
      return 1;
    }
    window.CenterWindow();
    // Orlin's language switch (2026) for this window.
    platform::MailboxHandlers handlers;
    handlers.postToUi = automation::QtGuiThreadPost();
    handlers.windowMessage = [&window](unsigned message, std::uintptr_t wParam,
                                       std::intptr_t lParam) -> std::optional<std::intptr_t> {
      if (message != kMsgLanguageChanged) return std::nullopt;
      return window.SendMessageW(message, wParam, lParam);
    };
    platform::MailboxOpen mailbox = platform::OpenMainWindowMailbox(installDir, std::move(handlers), kUpdaterWindowChannel);
    if (!mailbox.mailbox) std::fprintf(stderr, "AutoUpdater: no language changes from Orlin: %s\n", mailbox.error.c_str());
    window.ShowModal();
    result = 0;
    if (mailbox.mailbox) mailbox.mailbox->Stop();
  }
  dui::UiBackend::Install(nullptr);
  return result;
}
