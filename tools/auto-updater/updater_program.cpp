#include "tools/auto-updater/updater_program.h"

#include <cstdio>
#include <filesystem>
#include <optional>

#include "common/install_layout.h"
#include "common/window_messages.h"
#include "platform/executable_path.h"
#include "platform/install_directory.h"
#include "platform/process.h"
#include "platform/single_instance.h"
#include "platform/window_lookup.h"
#include "tools/auto-updater/system_update.h"
#include "tools/auto-updater/updater.h"
#include "tools/auto-updater/updater_wnd.h"
#include "ui/dialogs/message_table.h"

namespace orlin::update {

int RunUpdaterProgram(const std::vector<std::string>& words, std::function<void(std::function<void()>)> postToUi) {
  namespace fs = std::filesystem;
  if (words.empty() || words[0] != "updateApp") {
    std::fputs("usage: AutoUpdater updateApp   (Orlin's tray \"Update\" starts it so)\n", stderr);
    return 2;
  }
  const fs::path program = platform::ExecutablePath();
  const fs::path installDir = platform::InstallDirectory();
  platform::SingleInstanceGuard instance(L"ORLIN_AUTOUPDATER", installDir);
  if (instance.AnotherInstanceRuns()) return 0;
  dui::CPaintManagerUI::SetInstance(installDir);
  dui::CPaintManagerUI::SetResourcePath(installDir);

  platform::SystemProcessTable processes;
  HttpUpdateServer server;
  SystemUpdateOptions systemOptions;
  systemOptions.installDir = installDir;
  systemOptions.programDir = program.parent_path();
  systemOptions.extension = program.extension().wstring();
  SystemUpdateActions system(systemOptions, processes);
  UpdaterOptions options;
  options.layout = InstallLayout{installDir};
  options.currentVersion = ORLIN_VERSION;
  options.downloadDir = installDir / "update";
  Updater updater(options, server, system);

  CAutoUpdaterWnd window(updater, ORLIN_VERSION, ReadLanguage(installDir));
  if (!window.Create(nullptr, kUpdaterWindowTitle, CAutoUpdaterWnd::kStyle, 0)) {
    std::fputs("AutoUpdater: cannot build the window from updater.xml\n", stderr);
    return 1;
  }
  window.CenterWindow();
  platform::MailboxHandlers handlers;
  handlers.postToUi = std::move(postToUi);
  handlers.windowMessage = [&window](unsigned message, std::uintptr_t wParam,
                                     std::intptr_t lParam) -> std::optional<std::intptr_t> {
    if (message != kMsgLanguageChanged) return std::nullopt;
    return window.SendMessageW(message, wParam, lParam);
  };
  platform::MailboxOpen mailbox = platform::OpenMainWindowMailbox(installDir, std::move(handlers), kUpdaterWindowChannel);
  if (!mailbox.mailbox) std::fprintf(stderr, "AutoUpdater: no language changes from Orlin: %s\n", mailbox.error.c_str());
  window.ShowModal();
  if (mailbox.mailbox) mailbox.mailbox->Stop();
  return 0;
}

}  // namespace orlin::update
