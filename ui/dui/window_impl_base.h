#pragma once
// The base of every window: builds the skin, owns the paint manager, routes
// notifications to Notify and window messages to HandleCustomMessage, and runs
// modal loops. It also is the window core code talks to (OwnerWindow).
//
// Threads:
//  - A window's messages (PostMessageW, SendMessageW, Post, Send) and its
//    notifications are handled on the window's message thread: the UI thread
//    of the Qt backend, the creating thread of the headless backend.
//  - PostMessageW queues and returns; SendMessageW called on the message
//    thread runs the handler at once, from another thread it blocks until the
//    message thread has run it, and returns its result (0 if the window went
//    away first).
//  - ShowModal runs on the calling thread until Close. See the backend for
//    where the window itself lives meanwhile.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/message_presenter.h"
#include "common/owner_window.h"
#include "ui/dui/backend.h"
#include "ui/dui/dialog_builder.h"
#include "ui/dui/paint_manager.h"
#include "ui/dui/resource_manager.h"

namespace orlin::dui {

class WindowImplBase : public INotifyUI, public IDialogBuilderCallback, public IQueryControlText, public OwnerWindow {
 public:
  WindowImplBase();
  ~WindowImplBase() override;

  // Names of the window class and of its skin file (below the resource path).
  virtual std::wstring GetWindowClassName() const = 0;
  virtual std::wstring GetSkinFile() = 0;
  // After the native window and the controls exist.
  virtual void InitWindow() {}
  // Window messages before the default handling; set `handled` to stop it.
  virtual std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam, bool& handled) {
    return 0;
  }
  void Notify(TNotifyUI& msg) override {}
  CControlUI* CreateControl(const std::wstring& className) override { return nullptr; }
  // Texts for the skin's text ids while this window is the provider.
  std::optional<std::wstring> QueryControlText(const std::wstring& id, const std::wstring& type) override {
    return std::nullopt;
  }
  // The native window went away; a window that deletes itself does it here.
  virtual void OnFinalMessage() {}
  // ShowWindow or ShowWindowCommand has run: `onScreen` tells whether the
  // window now shows (shown and not minimised). On the calling thread.
  virtual void OnShowStateChanged(bool onScreen) {}

  // Builds the skin and the native window, owned by `parent` (may be null).
  // Returns false when the skin cannot be read or no backend is installed.
  bool Create(WindowImplBase* parent, const std::wstring& windowName, std::uint32_t style, std::uint32_t exStyle,
              int x = kCwUseDefault, int y = kCwUseDefault, int cx = kCwUseDefault, int cy = kCwUseDefault);
  // Shows the window and runs a modal loop on the calling thread until
  // Close(result); returns that result. Returns -1 if the window was not made.
  int ShowModal();
  // Ends the window (the modal loop returns `result`). Any thread.
  void Close(int result = kModalCancel);
  void ShowWindow(bool show = true, bool takeFocus = true);
  // The Win32 ShowWindow commands (kSwHide, kSwShowNormal, kSwMinimize,
  // kSwMaximize, kSwRestore, ...).
  void ShowWindowCommand(int command);
  bool IsZoomed() const;
  bool IsIconic() const;
  // A disabled window takes no input; its controls keep their own state.
  void EnableWindow(bool enable);
  bool IsWindowEnabled() const;
  void BringWindowToTop();
  // Changes the extended style (kWsExToolWindow / kWsExAppWindow decide the
  // taskbar presence).
  void SetExStyle(std::uint32_t exStyle);
  void CenterWindow();
  // Sets the DPI and, for a window that took its size from the skin, resizes
  // it to the skin size at that DPI (keeping its centre).
  void ApplyDPI(int dpi);
  bool IsWindow() const { return native_ != nullptr && !closed_; }
  NativeWindow* GetHWND() const { return native_.get(); }
  CPaintManagerUI& GetPaintManager() { return pm_; }
  WindowImplBase* GetParentWindow() const { return parent_; }
  std::wstring GetWindowName() const;
  // Changes the window's name (its title), as FindWindow and the desktop
  // see it. Any thread.
  void SetWindowTitle(const std::wstring& title);
  std::uint32_t GetStyle() const { return style_; }
  std::uint32_t GetExStyle() const { return exStyle_; }

  // A window of this process by window class and name (either may be empty
  // to match any), as another part of the program finds the main window.
  // The pointer is valid while that window exists; post or send to it only.
  static WindowImplBase* FindWindow(const std::wstring& className, const std::wstring& windowName);
  // Every window of this process that has a native window, in the order
  // they were made. Same validity rule as FindWindow.
  static std::vector<WindowImplBase*> OpenWindows();

  // Window messages (Win32 numbering).
  void PostMessageW(unsigned msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
  std::intptr_t SendMessageW(unsigned msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
  // OwnerWindow: the same as PostMessageW / SendMessageW.
  void Post(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
  std::intptr_t Send(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

  // The full message handling on the message thread: custom hook first,
  // then the defaults (mouse messages to the controls, WM_CLOSE, DPI).
  std::intptr_t HandleMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);

  // Called by the backend when the native window went away.
  void NativeDestroyed();

 protected:
  CPaintManagerUI pm_;

 private:
  struct Life {
    // Recursive: a handler may run a modal loop that delivers more messages
    // to the same window.
    std::recursive_mutex mutex;
    WindowImplBase* window = nullptr;
  };
  std::shared_ptr<UiBackend> backend_;
  std::unique_ptr<NativeWindow> native_;
  std::shared_ptr<Life> life_;
  WindowImplBase* parent_ = nullptr;
  std::wstring windowName_;
  std::uint32_t style_ = 0, exStyle_ = 0;
  std::atomic<int> result_{-1};
  std::atomic<bool> closed_{false};
  std::atomic<bool> modalRunning_{false};
  bool skinSized_ = true;
};

}  // namespace orlin::dui
