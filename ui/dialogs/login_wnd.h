#pragma once
// The login window: the modal window through which a user without a
// configured account signs in. It collects the server address, the user
// name and the password, switches the interface language, makes sure the
// account's sync folder is chosen (the sync folder location window, unless
// the user keeps a default location), and runs the login on a worker thread.
// A successful login ends the modal run with 1.
//
// Threads:
//  - The window's notifications and messages are handled on its message
//    thread (the GUI thread with the Qt backend). RunLogin may be called on
//    any thread; with the Qt backend it blocks that thread until the window
//    closes, as the main window's start-up thread does.
//  - An attempt runs on a worker thread the window owns: it asks the
//    controller to log in (blocking) and may run the sync folder location
//    window and message windows modally. Meanwhile the window is disabled
//    (at most one attempt runs) but keeps painting and handling messages.
//    The worker hands its result back by posting kMsgAttemptEnded; the
//    window's controls are changed only on its message thread.
//  - The destructor waits for a worker still running.

#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/controller/controller.h"
#include "common/message_presenter.h"
#include "engine/sync_settings.h"
#include "ui/dialogs/controller_msg_host.h"
#include "ui/dialogs/sync_folder_rules.h"
#include "ui/dui/menu_wnd.h"
#include "ui/dui/window_impl_base.h"

namespace orlin {

class CLoginWnd : public dui::WindowImplBase {
 public:
  static constexpr wchar_t kClassName[] = L"UILoginWnd";
  static constexpr wchar_t kSkin[] = L"login.xml";
  // WS_POPUP | WS_CAPTION: the skin draws the title bar.
  static constexpr std::uint32_t kStyle = 0x80C00000u;
  static constexpr int kCaptionHeight = 60;
  static constexpr int kMaxDpi = 192;
  // The colour of the login button while an attempt runs.
  static constexpr dui::Color kBusyButtonColor = 0xFFCDCDCD;
  // Posted by the attempt's worker to the window when it has ended; private
  // to this window.
  static constexpr unsigned kMsgAttemptEnded = dui::kWmUserBase + 200;
  // Posted to itself by the language button: the menu is made outside the
  // click's notification, which holds this window's model lock (a new
  // window takes the resource manager's lock, which comes first).
  static constexpr unsigned kMsgOpenLanguageMenu = dui::kWmUserBase + 201;

  // `rules` and `presenter` may be null: the window then reads userconfig.xml
  // of the instance folder and shows its own messages in message windows
  // over itself. Everything given must outlive the window.
  explicit CLoginWnd(Controller& controller, SyncFolderRules* rules = nullptr, MessagePresenter* presenter = nullptr);
  ~CLoginWnd() override;

  std::wstring GetWindowClassName() const override { return kClassName; }
  std::wstring GetSkinFile() override { return kSkin; }
  void InitWindow() override;
  void Notify(dui::TNotifyUI& msg) override;
  std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                                    bool& handled) override;
  std::optional<std::wstring> QueryControlText(const std::wstring& id, const std::wstring& type) override;

  // The window's state, for its owner and tests (message thread).
  const SyncSettings& Settings() const { return settings_; }
  const std::wstring& Language() const { return settings_.language; }
  bool AttemptRunning() const { return attemptRunning_; }

  // Switches every text of the window to `language` ("en" or "zh_cn") and
  // stores it through the controller, as the language menu does.
  void SwitchLanguage(const std::wstring& language);

 private:
  // How an attempt was started: the button, or Enter in a field. They differ
  // only in how the button's look is refreshed afterwards.
  enum class AttemptForm { kButton, kKey };

  // An edit field, the id of its hint (which also names it in messages)
  // and where its typed text is kept.
  struct Field {
    const wchar_t* control;
    const wchar_t* textId;
    std::wstring* value;
    bool password;
  };

  struct Attempt {
    AttemptForm form = AttemptForm::kButton;
    std::wstring server, userName, password;
    SyncSettings settings;
  };

  struct AttemptResult {
    AttemptForm form = AttemptForm::kButton;
    bool loggedIn = false;
    // Set when a folder was chosen (kept for the next attempt even when the
    // login itself failed).
    bool folderChosen = false;
    std::wstring syncFolder;
    bool makeDefault = false;
  };

  void ApplyDpiAndCaption(int dpi);
  const Field* FieldOf(const dui::CControlUI* control);
  // The texts chosen in code: the title, the language button and the
  // fields' hints.
  void SetCodeTexts();
  void OpenLanguageMenu();
  void CloseRequested();

  void StartAttempt(AttemptForm form);
  // Worker thread.
  void RunAttempt(Attempt attempt);
  // Message thread: the attempt's end.
  void AttemptEnded();

  Controller& controller_;
  ControllerMsgWndHost host_;
  std::unique_ptr<MessagePresenter> ownPresenter_;
  MessagePresenter* presenter_;
  std::unique_ptr<SyncFolderRules> ownRules_;
  SyncFolderRules* rules_;

  std::wstring server_, userName_, password_;
  Field fields_[3];
  SyncSettings settings_;
  std::unique_ptr<dui::CMenuWnd> languageMenu_;
  int captionRight_ = 0;
  dui::Color loginButtonColor_ = 0;

  bool attemptRunning_ = false;
  std::jthread worker_;
  std::mutex resultMutex_;
  AttemptResult result_;
};

// Runs the login window modally over no owner, as the main window's start-up
// does when no account is configured: titled by the language of lang.xml in
// the instance folder, centred. Returns 1 after a successful login, 2 when
// the user closed the window (the close button has then also asked the main
// window to quit, or ended the message loop when there is none), -1 when the
// window could not be made (skin missing, no window backend).
int RunLogin(Controller& controller);

}  // namespace orlin
