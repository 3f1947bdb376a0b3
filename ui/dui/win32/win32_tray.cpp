#include "ui/dui/win32/win32_tray.h"

#include <shellapi.h>

#include <algorithm>

#include "ui/dui/ui_types.h"
#include "ui/dui/win32/gdiplus_surface.h"

namespace orlin::dui::win32 {

namespace {

constexpr UINT kTrayIconId = 1;
constexpr UINT kDestroyTray = WM_APP + 0x20;

class Win32Tray final : public TrayIconBackend {
 public:
  Win32Tray(HICON icon, bool ownIcon, const std::wstring& tooltip, std::function<void(unsigned)> onMouse)
      : icon_(icon), ownIcon_(ownIcon), tooltip_(tooltip), onMouse_(std::move(onMouse)),
        thread_(::GetCurrentThreadId()) {
    static const bool registered = [] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = &Win32Tray::Proc;
      wc.hInstance = ::GetModuleHandleW(nullptr);
      wc.lpszClassName = kTrayWindowClass;
      return ::RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
    taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
    // A hidden top-level window: the taskbar delivers to it, and it hears
    // TaskbarCreated, which is broadcast to top-level windows only.
    hwnd_ = ::CreateWindowExW(WS_EX_TOOLWINDOW, kTrayWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              ::GetModuleHandleW(nullptr), this);
  }

  ~Win32Tray() override {
    if (hwnd_) {
      if (::GetCurrentThreadId() == thread_) Remove();
      // Only the window's thread can destroy it.
      else ::SendMessageW(hwnd_, kDestroyTray, 0, 0);
    }
    if (icon_ && ownIcon_) ::DestroyIcon(icon_);
  }

  bool Add() {
    NOTIFYICONDATAW data = Data();
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    return hwnd_ && ::Shell_NotifyIconW(NIM_ADD, &data);
  }

 private:
  NOTIFYICONDATAW Data() const {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = hwnd_;
    data.uID = kTrayIconId;
    data.uCallbackMessage = kWmTrayCallback;
    data.hIcon = icon_;
    const std::size_t n = std::min(tooltip_.size(), std::size(data.szTip) - 1);
    std::copy_n(tooltip_.c_str(), n, data.szTip);
    return data;
  }

  void Remove() {
    NOTIFYICONDATAW data = Data();
    ::Shell_NotifyIconW(NIM_DELETE, &data);
    HWND hwnd = hwnd_;
    hwnd_ = nullptr;
    ::DestroyWindow(hwnd);
  }

  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32Tray*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self) {
      if (msg == kWmTrayCallback) {
        // lParam: the mouse message on the icon (513 left button down, ...).
        self->onMouse_(static_cast<unsigned>(LOWORD(lParam)));
        return 0;
      }
      if (msg == kDestroyTray) {
        self->Remove();
        return 0;
      }
      if (msg == self->taskbarCreated_ && msg != 0) {
        // The taskbar started again (Explorer restarted): the icon is gone.
        self->Add();
        return 0;
      }
      if (msg == WM_NCDESTROY) ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  }

  HWND hwnd_ = nullptr;
  HICON icon_ = nullptr;
  bool ownIcon_ = false;
  std::wstring tooltip_;
  std::function<void(unsigned)> onMouse_;
  DWORD thread_ = 0;
  UINT taskbarCreated_ = 0;
};

}  // namespace

std::unique_ptr<TrayIconBackend> MakeTrayIcon(GdiplusResources& resources, const std::filesystem::path& icon,
                                              const std::wstring& tooltip, std::function<void(unsigned)> onMouse) {
  HICON hicon = resources.MakeIcon(icon, ::GetSystemMetrics(SM_CXSMICON));
  const bool own = hicon != nullptr;
  // Without its image the icon still gives the program a way back.
  if (!hicon) hicon = ::LoadIconW(nullptr, IDI_APPLICATION);
  auto tray = std::make_unique<Win32Tray>(hicon, own, tooltip, std::move(onMouse));
  if (!tray->Add()) return nullptr;
  return tray;
}

}  // namespace orlin::dui::win32
