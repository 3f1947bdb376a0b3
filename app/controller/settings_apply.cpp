#include "app/controller/settings_apply.h"

#include "common/text.h"
#include "platform/file_copy.h"

namespace orlin {

bool EngineSettingsDiffer(const SyncSettings& c, const SyncSettings& n) {
  return c.syncFolderPath != n.syncFolderPath || c.versionsKept != n.versionsKept || c.sendLimit != n.sendLimit ||
         c.receiveLimit != n.receiveLimit || c.folderType != n.folderType || c.ignoreText != n.ignoreText ||
         c.pullOrder != n.pullOrder;
}

bool FolderMoveAllowed(const std::wstring& from, const std::wstring& to) {
  if (to.empty()) return false;
  if (from.empty()) return true;
  return !platform::IsSameOrInside(PathFromWide(to), PathFromWide(from));
}

SettingsApplyReport SettingsApply::Run(SyncSettings& c, const SyncSettings& n) {
  SettingsApplyReport report;

  // 1.-6. The desktop and Orlin's own files.
  c.autostart = n.autostart;
  port_.SetAutostart(c.autostart);
  c.showInMyComputer = n.showInMyComputer;
  port_.SetFileManagerEntry(c.showInMyComputer, c.syncFolderPath);
  c.language = n.language;
  port_.WriteLanguage(c.language);
  c.hideFromTaskbar = n.hideFromTaskbar;
  port_.WriteTaskbarStyle(c.hideFromTaskbar);
  c.dpi = n.dpi;
  port_.WriteDpi(c.dpi);
  c.defaultLocation = n.defaultLocation;
  port_.WriteUserDefault(c.defaultLocation);
  port_.Store(c);

  // 7. Nothing of the engine's changed: no engine command at all.
  if (!EngineSettingsDiffer(c, n)) return report;
  report.engineChanged = true;

  // 8. The engine may rewrite config.xml while it runs; it is paused first.
  report.pauseConfirmed = port_.PauseForSettings();

  LiveSettingsFields live;
  auto restore = [&](ApplyStep step) { report.restored.push_back(step); };

  // 9. The sync folder: its content is copied over first; the old folder
  // stays the sync folder unless every step of the move succeeded.
  if (c.syncFolderPath != n.syncFolderPath) {
    const std::wstring old = c.syncFolderPath;
    if (!FolderMoveAllowed(old, n.syncFolderPath)) {
      restore(ApplyStep::kFolderMoveRefused);
    } else {
      c.syncFolderPath = n.syncFolderPath;
      port_.Store(c);
      bool moved = port_.TakeOverFolder(old, c.syncFolderPath) && port_.WriteFolderPath(c);
      if (moved && !port_.WriteUserPath(c.syncFolderPath)) {
        // config.xml already names the new folder: back to the old one, so
        // that the files agree with each other and with memory.
        SyncSettings back = c;
        back.syncFolderPath = old;
        port_.WriteFolderPath(back);
        moved = false;
      }
      if (moved) {
        live.folderPath = true;
        port_.FolderMoved(c.syncFolderPath);
      } else {
        c.syncFolderPath = old;
        restore(ApplyStep::kFolderPath);
      }
      port_.Store(c);
    }
  }

  // 10. Both limits together, as they are written together.
  if (c.sendLimit != n.sendLimit || c.receiveLimit != n.receiveLimit) {
    const int oldSend = c.sendLimit;
    const int oldReceive = c.receiveLimit;
    c.sendLimit = n.sendLimit;
    c.receiveLimit = n.receiveLimit;
    if (port_.WriteRateLimits(c)) {
      live.rateLimits = true;
    } else {
      c.sendLimit = oldSend;
      c.receiveLimit = oldReceive;
      restore(ApplyStep::kRateLimits);
    }
    port_.Store(c);
  }

  // 11.
  if (c.folderType != n.folderType) {
    const int old = c.folderType;
    c.folderType = n.folderType;
    if (port_.WriteFolderType(c)) {
      live.folderType = true;
    } else {
      c.folderType = old;
      restore(ApplyStep::kFolderType);
    }
    port_.Store(c);
  }

  // 12.
  if (c.pullOrder != n.pullOrder) {
    const int old = c.pullOrder;
    c.pullOrder = n.pullOrder;
    if (port_.WritePullOrder(c)) {
      live.pullOrder = true;
    } else {
      c.pullOrder = old;
      restore(ApplyStep::kPullOrder);
    }
    port_.Store(c);
  }

  // 13. The server keeps as many versions of its copy as the engine here.
  if (c.versionsKept != n.versionsKept) {
    const int old = c.versionsKept;
    c.versionsKept = n.versionsKept;
    if (port_.WriteVersioning(c)) {
      live.versioning = true;
      port_.Store(c);
      port_.SendVersioning(c.versionsKept);
    } else {
      c.versionsKept = old;
      restore(ApplyStep::kVersioning);
      port_.Store(c);
    }
  }

  // 14. Into the sync folder as it is now (the new one after a move).
  if (c.ignoreText != n.ignoreText) {
    const std::wstring old = c.ignoreText;
    c.ignoreText = n.ignoreText;
    if (!port_.WriteIgnoreText(c.syncFolderPath, c.ignoreText)) {
      c.ignoreText = old;
      restore(ApplyStep::kIgnoreText);
    }
    port_.Store(c);
  }

  // The running engine takes what config.xml now holds, so that the resume
  // (which posts the engine's configuration back) keeps it.
  report.livePush = port_.PushToEngine(c, live);

  // 15. The refresh (restart, reset, rescan) before the resume: a restart
  // taken while the resume's configuration post is still on its way loses
  // that post, and the folder would stay paused. The port's refresh returns
  // once the restarted engine answers.
  port_.QuietRefresh();
  port_.Resume();
  return report;
}

}  // namespace orlin
