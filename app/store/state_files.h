#pragma once
// Orlin's own state files in and below the install directory, and the
// ignore file of the sync folder:
//
//   userconfig.xml   per-user sync folder and "default" flag
//   lang.xml         UI language ("en" or "zh_cn")
//   setting.xml      DPI (96..192) and the hide-from-taskbar style
//   <sync folder>/.stignore            the engine's ignore patterns
//   syncconfig/config.xml.configured   login marker, scrambled credentials
//   syncconfig/config.xml.tarncloud    account archive (user name, server)
//   syncconfig/config.xml.certificate  fingerprint of the server's certificate
//
// Every file is read whole and saved whole through an atomic replace. The
// engine controller owns the settings record; these operations take and
// return plain values, and a read that fails returns std::nullopt (or the
// given current value) so that the caller keeps what it had in memory.
// Failures the user must see go to the message presenter with the title
// "Orlin".
//
// Threads: every operation may be called from any thread (start-up thread,
// UI thread, login and settings workers). File updates of one StateFiles
// object are serialised; no lock is held while a message is shown or the
// main window is notified.

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "app/store/account_archive.h"
#include "common/install_layout.h"
#include "common/message_presenter.h"
#include "common/owner_window.h"

namespace orlin {

struct UserEntry {
  std::wstring path;
  bool isDefault = false;

  bool operator==(const UserEntry&) const = default;
};

struct MarkerLines {
  std::wstring server;  // without "http://" or "https://"
  std::wstring userName;
  std::wstring password;

  bool operator==(const MarkerLines&) const = default;
};

// The language code of lang.xml in `installDir`; std::nullopt, without a
// message, when the file is missing, unreadable or has no `lang` element.
// Used by every window to pick its texts.
std::optional<std::wstring> ReadLanguageFile(const std::filesystem::path& installDir);

// The file's content split at line feeds, empty pieces dropped, every
// remaining line followed by one line feed.
std::wstring NormalizeIgnoreText(std::wstring_view text);

class StateFiles {
 public:
  // `mainWindow` may be null while no main window exists; notifications are
  // then skipped.
  StateFiles(InstallLayout layout, MessagePresenter& presenter, OwnerWindow* mainWindow = nullptr);

  // Sent to the main window after the language was saved; wParam 1 when the
  // new language is not English, else 0.
  static constexpr unsigned kLanguageChangedMessage = kMsgLanguageChanged;
  // Sent (lParam 0) and then posted (lParam 1) to the main window with the
  // new DPI in wParam.
  static constexpr unsigned kDpiChangedMessage = kMsgDpi;

  static constexpr int kMinDpi = 96;
  static constexpr int kMaxDpi = 192;

  StateFiles(const StateFiles&) = delete;
  StateFiles& operator=(const StateFiles&) = delete;

  const InstallLayout& layout() const { return layout_; }

  // Set once the main window exists (before other threads use this object).
  void SetMainWindow(OwnerWindow* mainWindow) { mainWindow_ = mainWindow; }

  // Called with the saved flag after the taskbar style was written; the
  // window layer changes the main window's extended style. Called on the
  // thread that wrote the style.
  void SetTaskbarStyleHandler(std::function<void(bool hideFromTaskbar)> handler) {
    taskbarStyleHandler_ = std::move(handler);
  }

  // --- account archive -----------------------------------------------------
  // Both strings empty when the archive is missing or corrupt.
  AccountArchive ReadAccountArchive() const;
  bool WriteAccountArchive(const AccountArchive& account);

  // --- userconfig.xml ------------------------------------------------------
  // A file that is there but cannot be parsed (cut short, not XML) is
  // reported as damaged ("UserConfig_Damaged_Msg", with the Cancel button of
  // the message it stands for) instead of as missing, and is never
  // overwritten: the user decides what becomes of it.
  //
  // The first entry whose name equals `userName` exactly. std::nullopt when
  // there is none, or when the file cannot be loaded ("UserConfig_Failed_Msg"
  // shown without Cancel).
  std::optional<UserEntry> ReadUserEntry(const std::wstring& userName);
  // Sets name, path and flag of the first matching entry, or appends a new
  // `user` element. On a load failure "Userconfig_Failed_Msg" is shown with
  // Cancel and false returned.
  bool WriteUserEntry(const std::wstring& userName, const UserEntry& entry);
  // Change one attribute of the first matching entry; no entry is added.
  // True when the file was loaded (and, if changed, saved); the controller
  // then takes the new path into its settings record.
  bool WriteUserPath(const std::wstring& userName, const std::wstring& path);
  bool WriteUserDefault(const std::wstring& userName, bool isDefault);
  // True when some entry has exactly this path under a different name.
  // False when none has, and when the file cannot be loaded
  // ("Userconfig_Failed_Msg" shown with Cancel).
  bool IsPathTakenByAnotherUser(const std::wstring& path, const std::wstring& currentUserName);
  // True when the first entry named `userName` has default="true". A load
  // failure shows "UserConfig_Failed_Msg" without Cancel and gives false.
  bool UserHasDefault(const std::wstring& userName);

  // --- lang.xml ------------------------------------------------------------
  // "Lang_Failed_Msg" (with Cancel) when the file cannot be loaded.
  std::optional<std::wstring> ReadLanguage();
  // Saves the language, then sends kLanguageChangedMessage to the main window.
  bool WriteLanguage(const std::wstring& language);

  // --- setting.xml ---------------------------------------------------------
  // The stored DPI clamped to 96..192; `currentDpi` when the element is
  // missing or not a number; 96 when the file cannot be loaded
  // ("Setting_Failed_Msg" without Cancel).
  int ReadDpi(int currentDpi);
  // Ignores (returns false for) values outside 96..192. With `notify` and a
  // main window, kDpiChangedMessage is sent with lParam 0 and then posted with
  // lParam 1 once the file is saved.
  bool WriteDpi(int dpi, bool notify);
  // The stored hide-from-taskbar flag; false when the element is missing;
  // `current` when the file cannot be loaded ("Setting_Failed_Msg").
  bool ReadTaskbarStyle(bool current);
  // Saves the flag, then calls the taskbar style handler.
  bool WriteTaskbarStyle(bool hideFromTaskbar);

  // --- .stignore -------------------------------------------------------------
  // Creates an empty file when it is missing. std::nullopt when the file
  // cannot be created or read (the system's error text is shown without
  // Cancel) or when no sync folder is known yet.
  std::optional<std::wstring> ReadIgnoreText(const std::filesystem::path& syncFolder);
  // Replaces the content of an existing .stignore (never creates it) with
  // the UTF-8 form of `text`, one pattern per line, each ended by a line
  // feed. False, with the error text shown, when it cannot be written.
  bool WriteIgnoreText(const std::filesystem::path& syncFolder, const std::wstring& text);

  // --- credentials marker ----------------------------------------------------
  // Its existence alone means an account is configured.
  bool MarkerExists() const;
  // Three scrambled lines separated by CR LF, the last without; readable by
  // the owner only.
  bool CreateMarker(const MarkerLines& lines);
  // std::nullopt when the marker is missing or its lines are not three
  // scrambled texts. A bare line feed is accepted as separator.
  std::optional<MarkerLines> ReadMarker() const;

  // --- the server's certificate ---------------------------------------------
  // The fingerprint the login kept (owner-only file beside the marker; a
  // log-off deletes it with the engine home). Writing an empty fingerprint
  // (a login over plain http) removes the file.
  bool WriteServerFingerprint(const std::string& fingerprint);
  // "" when none was kept. A file that holds no well-formed fingerprint gives
  // its content, which matches no certificate: a damaged file must not turn
  // the check off.
  std::string ReadServerFingerprint() const;

 private:
  void Show(const wchar_t* key, bool showCancel);
  // `key`, or "UserConfig_Damaged_Msg" when userconfig.xml is there but
  // cannot be parsed.
  void ShowUserConfigFailure(const wchar_t* key, bool showCancel);
  void ShowText(const std::wstring& text, bool showCancel);

  InstallLayout layout_;
  MessagePresenter& presenter_;
  OwnerWindow* mainWindow_;
  std::function<void(bool)> taskbarStyleHandler_;
  std::mutex fileMutex_;
};

}  // namespace orlin
