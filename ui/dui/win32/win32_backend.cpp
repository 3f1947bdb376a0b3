#include "ui/dui/win32/win32_backend.h"

#include <windows.h>
#include <commctrl.h>

#include <deque>
#include <mutex>

#include "ui/dui/win32/gdiplus_surface.h"
#include "ui/dui/win32/win32_folder_picker.h"
#include "ui/dui/win32/win32_tray.h"
#include "ui/dui/win32/win32_window.h"
#include "ui/dui/window_impl_base.h"

namespace orlin::dui {

namespace {

constexpr wchar_t kUiThreadClass[] = L"OrlinUiThreadWnd";
constexpr UINT kRunUiTask = WM_APP + 0x30;

// Tasks for the UI thread, run one per message so a modal loop started by a
// task runs the rest.
struct UiTasks {
  std::mutex mutex;
  std::deque<std::function<void()>> tasks;
};

LRESULT CALLBACK UiThreadProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kRunUiTask) {
    auto* queue = reinterpret_cast<UiTasks*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!queue) return 0;
    std::function<void()> task;
    {
      std::lock_guard lock(queue->mutex);
      if (queue->tasks.empty()) return 0;
      task = std::move(queue->tasks.front());
      queue->tasks.pop_front();
    }
    task();
    return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

// SHCore.dll's GetDpiForMonitor, looked up once: Windows 7 has neither.
GetDpiForMonitorFn DpiForMonitor() {
  static const GetDpiForMonitorFn fn = []() -> GetDpiForMonitorFn {
    HMODULE shcore = ::LoadLibraryW(L"SHCore.dll");
    if (!shcore) return nullptr;
    FARPROC proc = ::GetProcAddress(shcore, "GetDpiForMonitor");
    return reinterpret_cast<GetDpiForMonitorFn>(reinterpret_cast<void*>(proc));
  }();
  return fn;
}

win32::Win32Window* AsWin32(NativeWindow* window) { return dynamic_cast<win32::Win32Window*>(window); }

}  // namespace

Win32Backend::Win32Backend() : resources_(std::make_unique<win32::GdiplusResources>()) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&icc);
  uiThread_ = ::GetCurrentThreadId();
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &UiThreadProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = kUiThreadClass;
  ::RegisterClassExW(&wc);
  HWND hwnd = ::CreateWindowExW(0, kUiThreadClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
  if (hwnd) ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new UiTasks));
  uiThreadWindow_ = hwnd;
}

Win32Backend::~Win32Backend() {
  if (auto* hwnd = static_cast<HWND>(uiThreadWindow_)) {
    auto* queue = reinterpret_cast<UiTasks*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    if (::GetCurrentThreadId() == uiThread_) ::DestroyWindow(hwnd);
    delete queue;
  }
  resources_.reset();
}

void Win32Backend::PostToUiThread(std::function<void()> task) {
  auto* hwnd = static_cast<HWND>(uiThreadWindow_);
  auto* queue = hwnd ? reinterpret_cast<UiTasks*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA)) : nullptr;
  if (!queue) return;
  {
    std::lock_guard lock(queue->mutex);
    queue->tasks.push_back(std::move(task));
  }
  // Hop: the UI thread runs it from its message loop.
  ::PostMessageW(hwnd, kRunUiTask, 0, 0);
}

std::unique_ptr<NativeWindow> Win32Backend::CreateNativeWindow(WindowImplBase& window, NativeWindow* owner,
                                                               const NativeWindowParams& params) {
  auto native = std::make_unique<win32::Win32Window>(*this, window, AsWin32(owner), params);
  if (!native->Handle()) return nullptr;
  return native;
}

Size Win32Backend::MeasureText(const std::wstring& text, const FontSpec& font, unsigned style, int maxWidth) {
  return resources_->MeasureText(text, font, style, maxWidth);
}

std::unique_ptr<TrayIconBackend> Win32Backend::CreateTrayIcon(const std::filesystem::path& icon,
                                                              const std::wstring& tooltip,
                                                              std::function<void(unsigned)> onMouse) {
  if (!HasSystemTray()) return nullptr;
  return win32::MakeTrayIcon(*resources_, icon, tooltip, std::move(onMouse));
}

bool Win32Backend::HasSystemTray() const { return ::FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr; }

std::optional<std::filesystem::path> Win32Backend::BrowseForFolder(NativeWindow* owner, const std::wstring& title,
                                                                   const std::filesystem::path& start) {
  win32::Win32Window* native = AsWin32(owner);
  HWND hwnd = native ? native->Handle() : nullptr;
  std::optional<std::filesystem::path> out;
  auto pick = [&] { out = win32::PickFolder(hwnd, title, start).folder; };
  // Hop: the picker is modal over its owner, on the owner's thread.
  if (native && hwnd && !native->IsOwnThread()) {
    if (!native->Send(pick)) return std::nullopt;
  } else {
    pick();
  }
  return out;
}

Point Win32Backend::GetCursorPos() const {
  POINT p{};
  ::GetCursorPos(&p);
  return Point{p.x, p.y};
}

void Win32Backend::MessageLoop() {
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

void Win32Backend::QuitMessageLoop() { ::PostThreadMessageW(uiThread_, WM_QUIT, 0, 0); }

void Win32Backend::HandleMessagesFor(std::chrono::milliseconds time) {
  const auto end = std::chrono::steady_clock::now() + time;
  for (;;) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
  }
}

void Win32Backend::RunPosted() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_POSTMESSAGE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

void Win32Backend::PaintNow(NativeWindow* window) {
  if (HWND hwnd = static_cast<HWND>(NativeHandleOf(window))) {
    ::RedrawWindow(hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    ::GdiFlush();
  }
}

int NativeChildCount(NativeWindow* window) {
  int count = 0;
  if (HWND hwnd = static_cast<HWND>(NativeHandleOf(window))) {
    for (HWND child = ::GetWindow(hwnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) ++count;
  }
  return count;
}

void* NativeHandleOf(NativeWindow* window) {
  auto* native = AsWin32(window);
  return native ? native->Handle() : nullptr;
}

WindowImplBase* WindowOfNativeHandle(void* handle) {
  auto hwnd = static_cast<HWND>(handle);
  DWORD process = 0;
  ::GetWindowThreadProcessId(hwnd, &process);
  if (!hwnd || process != ::GetCurrentProcessId()) return nullptr;
  // Only windows of the layer's own procedure carry a window there.
  if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hwnd, GWLP_WNDPROC)) != &win32::Win32Window::WindowProc) {
    return nullptr;
  }
  auto* native = reinterpret_cast<win32::Win32Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  return native ? &native->Window() : nullptr;
}

int MonitorDpiOf(NativeWindow* window) {
  HWND hwnd = static_cast<HWND>(NativeHandleOf(window));
  HMONITOR monitor = hwnd ? ::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST)
                          : ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  if (GetDpiForMonitorFn fn = DpiForMonitor()) {
    UINT x = 0, y = 0;
    // 0: MDT_EFFECTIVE_DPI.
    if (SUCCEEDED(fn(monitor, 0, &x, &y)) && x > 0) return static_cast<int>(x);
  }
  HDC dc = ::GetDC(hwnd);
  const int dpi = dc ? ::GetDeviceCaps(dc, LOGPIXELSX) : 96;
  if (dc) ::ReleaseDC(hwnd, dc);
  return dpi > 0 ? dpi : 96;
}

namespace {

struct PrintChildren {
  HWND parent;
  HDC dc;
};

BOOL CALLBACK PrintChild(HWND child, LPARAM data) {
  const auto* print = reinterpret_cast<const PrintChildren*>(data);
  if (::GetParent(child) != print->parent || !::IsWindowVisible(child)) return TRUE;
  RECT r{};
  ::GetWindowRect(child, &r);
  ::MapWindowPoints(nullptr, print->parent, reinterpret_cast<POINT*>(&r), 2);
  const int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return TRUE;
  // Each child prints into a context of its own at its own origin, copied
  // in place afterwards: a control that clips its painting in device
  // coordinates (an owner-drawn combo box's field) would miss a moved origin.
  HDC dc = ::CreateCompatibleDC(print->dc);
  HBITMAP bitmap = ::CreateCompatibleBitmap(print->dc, width, height);
  HGDIOBJ old = ::SelectObject(dc, bitmap);
  ::BitBlt(dc, 0, 0, width, height, print->dc, r.left, r.top, SRCCOPY);
  ::SendMessageW(child, WM_PRINT, reinterpret_cast<WPARAM>(dc),
                 PRF_CLIENT | PRF_NONCLIENT | PRF_ERASEBKGND | PRF_CHILDREN);
  ::BitBlt(print->dc, r.left, r.top, width, height, dc, 0, 0, SRCCOPY);
  ::SelectObject(dc, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);
  return TRUE;
}

}  // namespace

bool GrabWindow(NativeWindow* window, const std::filesystem::path& png) {
  auto* native = AsWin32(window);
  HWND hwnd = native ? native->Handle() : nullptr;
  if (!hwnd || !native->IsOwnThread()) return false;
  native->Sync();
  RECT rc{};
  ::GetClientRect(hwnd, &rc);
  if (rc.right <= 0 || rc.bottom <= 0) return false;
  // The window as its paint makes it, with each native child printing itself
  // on top: the same whether or not another window covers it.
  HDC screen = ::GetDC(hwnd);
  win32::PaintBuffer buffer(screen, rc.right, rc.bottom);
  ::ReleaseDC(hwnd, screen);
  native->PaintTo(buffer.Dc(), rc);
  buffer.Graphics().Flush(Gdiplus::FlushIntentionSync);
  PrintChildren print{hwnd, buffer.Dc()};
  ::EnumChildWindows(hwnd, &PrintChild, reinterpret_cast<LPARAM>(&print));
  ::GdiFlush();
  return win32::SavePng(buffer.Bitmap(), png);
}

}  // namespace orlin::dui
