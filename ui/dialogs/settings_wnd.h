#pragma once
// The settings window: the user's settings on three pages (general, Orlin's
// configuration, about), edited in the main window's settings record. It
// applies nothing itself: after OK (modal result 1) the main window hands
// the record to the controller's settings apply. From here the user picks
// the sync folder with the folder picker and opens the selective
// synchronisation window.
//
// While a child is open the main window must not act on the settings: it
// reads ChildState() (0 none, 1 the folder picker, 2 the selective
// synchronisation window) and ChildWindow() to say why.
//
// Threads: made and run modally on the UI thread by the main window; its
// notifications and messages are handled there. The folder picker and the
// child window run modally from messages the window posts to itself, never
// inside a click's notification.

#include <atomic>
#include <memory>
#include <string>

#include "app/controller/controller.h"
#include "common/message_presenter.h"
#include "engine/sync_settings.h"
#include "ui/dialogs/controller_msg_host.h"
#include "ui/dui/window_impl_base.h"

namespace orlin {

class CSettingWnd : public dui::WindowImplBase {
 public:
  static constexpr wchar_t kClassName[] = L"UISetWnd";
  static constexpr wchar_t kSkin[] = L"SetWnd.xml";
  // WS_POPUP | WS_VISIBLE | WS_CAPTION; the skin draws the title bar.
  static constexpr std::uint32_t kStyle = 0x90C00000u;
  static constexpr int kMaxDpi = 192;
  static constexpr int kDpiList[] = {96, 120, 144, 168, 192};

  enum ChildState { kNoChild = 0, kFolderPicker = 1, kSelectiveSync = 2 };

  // Posted to itself by the buttons that open modal windows.
  static constexpr unsigned kMsgOk = dui::kWmUserBase + 220;
  static constexpr unsigned kMsgBrowse = dui::kWmUserBase + 221;
  static constexpr unsigned kMsgSelectiveSync = dui::kWmUserBase + 222;

  // `record` is the main window's copy, edited in place; `initialTab` 0
  // general, 1 configuration, 2 about. `presenter` may be null: messages
  // then show in message windows over this window. All references must
  // outlive the window.
  CSettingWnd(SyncSettings& record, Controller& controller, int initialTab, MessagePresenter* presenter = nullptr);
  ~CSettingWnd() override;

  std::wstring GetWindowClassName() const override { return kClassName; }
  std::wstring GetSkinFile() override { return kSkin; }
  void InitWindow() override;
  void Notify(dui::TNotifyUI& msg) override;
  std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                                    bool& handled) override;
  std::optional<std::wstring> QueryControlText(const std::wstring& id, const std::wstring& type) override;

  // Shows page `tab` (the main window brings an open window to a page).
  void SelectTab(int tab);
  // Shows the record's values again (the main window refreshed it).
  void LoadFromRecord();
  int ChildState() const { return childState_.load(); }
  // The open selective synchronisation window, or null.
  dui::WindowImplBase* ChildWindow() const { return child_.load(); }

  // The window's steps, also reached by its buttons.
  void Ok();
  void Browse();
  void OpenSelectiveSync();

  // "( n )" for the number of non-empty lines of an ignore text.
  static std::wstring IgnoreCountText(int count);
  static int CountIgnoreLines(const std::wstring& ignoreText);
  // A limit as typed: the leading decimal digits (0 when there are none),
  // at most the largest 32-bit value.
  static std::int32_t ParseLimit(const std::wstring& text);

 private:
  void Collect();
  void ApplyDpi(int dpi);
  void Show(const wchar_t* key);
  void TakeTextsBack();

  SyncSettings& record_;
  Controller& controller_;
  int initialTab_;
  ControllerMsgWndHost host_;
  std::unique_ptr<MessagePresenter> ownPresenter_;
  MessagePresenter* presenter_;
  std::atomic<int> childState_{kNoChild};
  std::atomic<dui::WindowImplBase*> child_{nullptr};
  dui::Rect skinCaption_;
  // The sync folder as the window showed it: only another folder is checked
  // as a move.
  std::wstring shownFolder_;
};

}  // namespace orlin
