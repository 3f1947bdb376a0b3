#pragma once
// The sync folder location window: before an account's first login on this
// computer the login window asks here where the account's folder lies and
// whether that place is the account's default location. It refuses an
// empty path, a path that is not an existing folder, and a folder another
// account of this computer already syncs.
//
// Threads: made and run modally by the login window's worker; its
// notifications and messages are handled on its message thread (the GUI
// thread with the Qt backend, the creating thread with the headless one).
// Result() is read after the modal run.

#include <memory>
#include <string>

#include "app/controller/controller.h"
#include "common/message_presenter.h"
#include "engine/sync_settings.h"
#include "ui/dialogs/controller_msg_host.h"
#include "ui/dialogs/sync_folder_rules.h"
#include "ui/dui/window_impl_base.h"

namespace orlin {

class CSyncPathWnd : public dui::WindowImplBase {
 public:
  static constexpr wchar_t kClassName[] = L"UISyncPathWnd";
  static constexpr wchar_t kSkin[] = L"SyncPath.xml";
  // WS_POPUP | WS_CAPTION: the skin draws the title bar.
  static constexpr std::uint32_t kStyle = 0x80C00000u;
  static constexpr int kCaptionHeight = 30;
  static constexpr int kMaxDpi = 192;
  // Posted to itself by the OK and browse buttons: their message windows
  // and the folder picker run modal loops, which should not hold the
  // click's notification (and this window's model lock) all along.
  static constexpr unsigned kMsgOk = dui::kWmUserBase + 210;
  static constexpr unsigned kMsgBrowse = dui::kWmUserBase + 211;

  // The record is copied: its language, its sync folder path (the proposal)
  // and, on OK, the chosen path and default flag. `userName` is the user
  // choosing (as typed into the login window). `presenter` may be null: the
  // window then shows its messages in message windows over itself. All
  // references must outlive the window.
  CSyncPathWnd(const SyncSettings& record, Controller& controller, SyncFolderRules& rules, std::wstring userName,
               MessagePresenter* presenter = nullptr);
  ~CSyncPathWnd() override;

  std::wstring GetWindowClassName() const override { return kClassName; }
  std::wstring GetSkinFile() override { return kSkin; }
  void InitWindow() override;
  void Notify(dui::TNotifyUI& msg) override;
  std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                                    bool& handled) override;
  std::optional<std::wstring> QueryControlText(const std::wstring& id, const std::wstring& type) override;

  // After a modal result of 1: the record with the chosen sync folder path
  // and the state of the default-location option.
  const SyncSettings& Result() const { return record_; }

  // The window's steps, also reached by its buttons.
  void Ok();
  void Browse();

 private:
  void ApplyDpiAndCaption(int dpi);
  void Show(const wchar_t* key);

  SyncSettings record_;
  Controller& controller_;
  SyncFolderRules& rules_;
  std::wstring userName_;
  ControllerMsgWndHost host_;
  std::unique_ptr<MessagePresenter> ownPresenter_;
  MessagePresenter* presenter_;
  int captionRight_ = 0;
};

}  // namespace orlin
