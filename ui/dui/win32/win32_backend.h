#pragma once
// The Win32 backend of the window layer. Every DirectUI window is a native
// top-level window registered under the window's class name
// ("UIOrlinFrameWnd", "UILoginWnd", ...) with the styles the window asks
// for; its whole area is client area, painted by the portable paint pass
// through GDI+ (antialiased text, PNG images with alpha, double-buffered).
// The skin's caption band drags the window and its size box resizes it
// (WM_NCHITTEST). Edits and combo boxes are native EDIT and COMBOBOX
// children kept in step with the model both ways; a list's rows are painted
// on demand by one scrolling child window, so long lists build no window
// per row. The tray icon goes through Shell_NotifyIconW, the folder picker
// is IFileOpenDialog (SHBrowseForFolderW where that is missing).
//
// Threads: as in Win32 itself, a window belongs to the thread that creates
// it; that thread handles its messages (its message loop or a modal loop
// run there). NativeWindow::Dispatch posts to that thread; Send is a real
// SendMessage, so a thread waiting for another thread's window still
// handles what is sent to its own windows. Calls that change a window from
// another thread are carried out on the window's thread.
//
// This header names no Windows type: native handles travel as void*.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ui/dui/backend.h"

namespace orlin::dui {

namespace win32 {
class GdiplusResources;
}

class Win32Backend : public UiBackend, public std::enable_shared_from_this<Win32Backend> {
 public:
  // Starts GDI+ and common controls. The calling thread is the UI thread:
  // MessageLoop runs there. Every window must be gone before the backend.
  Win32Backend();
  ~Win32Backend() override;
  Win32Backend(const Win32Backend&) = delete;
  Win32Backend& operator=(const Win32Backend&) = delete;

  std::unique_ptr<NativeWindow> CreateNativeWindow(WindowImplBase& window, NativeWindow* owner,
                                                   const NativeWindowParams& params) override;
  Size MeasureText(const std::wstring& text, const FontSpec& font, unsigned style, int maxWidth) override;
  std::unique_ptr<TrayIconBackend> CreateTrayIcon(const std::filesystem::path& icon, const std::wstring& tooltip,
                                                  std::function<void(unsigned)> onMouse) override;
  // True when a taskbar with a notification area runs.
  bool HasSystemTray() const override;
  std::optional<std::filesystem::path> BrowseForFolder(NativeWindow* owner, const std::wstring& title,
                                                       const std::filesystem::path& start) override;
  Point GetCursorPos() const override;
  // Runs the calling thread's message loop until QuitMessageLoop.
  void MessageLoop() override;
  // Any thread: ends the loop of the UI thread.
  void QuitMessageLoop() override;

  // Queues `task` for the UI thread, which runs it from its message loop or
  // from a modal loop running there. Any thread; never runs it at once.
  void PostToUiThread(std::function<void()> task);

  // For tools and benchmarks that run no message loop of their own, on the
  // thread of their windows: handles that thread's messages for `time`;
  // runs only what was posted (the windows' passes over their models);
  // paints at once what of `window` and its children waits for a paint.
  void HandleMessagesFor(std::chrono::milliseconds time);
  void RunPosted();
  void PaintNow(NativeWindow* window);

  win32::GdiplusResources& Resources() { return *resources_; }

 private:
  std::unique_ptr<win32::GdiplusResources> resources_;
  unsigned long uiThread_ = 0;
  void* uiThreadWindow_ = nullptr;
};

// The native window (HWND) showing `window`, or null.
void* NativeHandleOf(NativeWindow* window);
// The window layer's window shown by a native window of this process, or null.
WindowImplBase* WindowOfNativeHandle(void* hwnd);

// The effective DPI of the monitor `window` is on (of the primary monitor
// without a window): GetDpiForMonitor from SHCore.dll, looked up at run
// time, and the screen's LOGPIXELSX where that is missing (Windows 7) or
// fails.
int MonitorDpiOf(NativeWindow* window);

// How many native child windows `window` has (edits, combo boxes, lists).
int NativeChildCount(NativeWindow* window);

// Writes the window as it is shown, native children included, into a PNG.
// On the window's thread; false on failure.
bool GrabWindow(NativeWindow* window, const std::filesystem::path& png);

}  // namespace orlin::dui
