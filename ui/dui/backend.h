#pragma once
// What the window layer asks of a toolkit. The portable model (controls,
// paint manager, windows) calls only this; a headless backend runs it in
// tests, the Qt backend on Linux, a Win32 backend on Windows.
//
// Threads: the model calls NativeWindow methods from whichever thread changes
// the window (see each method). Dispatch is the one hop onto the thread that
// handles the window's messages.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ui/dui/ui_types.h"

namespace orlin::dui {

class WindowImplBase;
class CPaintManagerUI;

struct NativeWindowParams {
  std::wstring windowName;
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  Rect rect;  // kCwUseDefault members: the skin's size, centred later
};

enum class WindowState { kNormal, kMinimized, kMaximized };

class NativeWindow {
 public:
  virtual ~NativeWindow() = default;
  // Queues `task` for the thread that handles this window's messages. Safe
  // from any thread; tasks run in the order they were queued.
  virtual void Dispatch(std::function<void()> task) = 0;
  // Runs `task` on the thread that handles this window's messages and
  // returns once it ran: true then, false when the window went away first
  // (the task then never runs). Called from other threads. The default
  // queues it with Dispatch and waits; a backend whose waiting threads keep
  // handling what is sent to their own windows (Win32's SendMessage) does
  // that instead, so two threads sending to each other's windows go on; a
  // task sent so may then run before tasks dispatched earlier, as a sent
  // Win32 message overtakes posted ones.
  virtual bool Send(std::function<void()> task);
  // True on the thread that handles this window's messages.
  virtual bool IsOwnThread() const = 0;
  // The title the desktop shows for the window (taskbar, window lists).
  // Any thread. Backends without such a place keep it nowhere.
  virtual void SetTitle(const std::wstring& title) {}
  // Any thread. Geometry in screen pixels.
  virtual void Show(bool show, bool activate) = 0;
  virtual bool IsShown() const = 0;
  // Any thread.
  virtual void SetWindowState(WindowState state) = 0;
  virtual WindowState GetWindowState() const = 0;
  virtual void SetInputEnabled(bool enabled) = 0;
  virtual bool IsInputEnabled() const = 0;
  // Extended style bits (kWsExToolWindow keeps the window off the taskbar).
  virtual void SetExStyle(std::uint32_t exStyle) = 0;
  virtual void BringToTop() = 0;
  virtual void SetRect(const Rect& r) = 0;
  virtual Rect GetRect() const = 0;
  // The work area of the screen the window is on (for centring).
  virtual Rect GetWorkArea() const = 0;
  // A control's state changed (`layout`: sizes or visibility too). Any thread,
  // with the model lock held; backends coalesce and repaint later.
  virtual void ControlChanged(CControlUI* control, bool layout) = 0;
  // A control is about to be deleted (model lock held).
  virtual void ControlRemoved(CControlUI* control) = 0;
  // Runs until EndModal; returns at once if EndModal already happened.
  // Called on the thread that calls ShowModal.
  virtual void RunModal() = 0;
  // Any thread; wakes RunModal.
  virtual void EndModal() = 0;
  // Destroys the native window; further calls are no-ops. Any thread.
  virtual void Destroy() = 0;
};

class TrayIconBackend {
 public:
  virtual ~TrayIconBackend() = default;
};

class UiBackend {
 public:
  virtual ~UiBackend() = default;
  // Called on the thread that calls WindowImplBase::Create.
  virtual std::unique_ptr<NativeWindow> CreateNativeWindow(WindowImplBase& window, NativeWindow* owner,
                                                           const NativeWindowParams& params) = 0;
  // Text extent for a font (size already scaled by the caller).
  virtual Size MeasureText(const std::wstring& text, const FontSpec& font, unsigned style, int maxWidth) = 0;
  // A notification-area icon whose mouse messages (Win32 numbers: 513 left
  // button down, 517 right button up, ...) go to `onMouse` on the UI thread.
  // Null when the desktop has no notification area.
  virtual std::unique_ptr<TrayIconBackend> CreateTrayIcon(const std::filesystem::path& icon, const std::wstring& tooltip,
                                                          std::function<void(unsigned mouseMessage)> onMouse) = 0;
  virtual bool HasSystemTray() const = 0;
  // The folder picker, modal over `owner`; nullopt when the user cancels.
  // Any thread (backends hop to their UI thread).
  virtual std::optional<std::filesystem::path> BrowseForFolder(NativeWindow* owner, const std::wstring& title,
                                                               const std::filesystem::path& start) = 0;
  // The screen position of the mouse pointer.
  virtual Point GetCursorPos() const = 0;
  // Runs the UI thread's message loop until QuitMessageLoop.
  virtual void MessageLoop() = 0;
  virtual void QuitMessageLoop() = 0;

  // The backend windows are made with. Set once at start-up (tests install a
  // headless one); not owned by any window.
  static void Install(std::shared_ptr<UiBackend> backend);
  static std::shared_ptr<UiBackend> Current();
};

}  // namespace orlin::dui
