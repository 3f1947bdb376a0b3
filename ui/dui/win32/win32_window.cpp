#include "ui/dui/win32/win32_window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <set>
#include <vector>

#include "ui/dui/controls.h"
#include "ui/dui/dirty_area.h"
#include "ui/dui/menu_wnd.h"
#include "ui/dui/paint_manager.h"
#include "ui/dui/win32/gdiplus_surface.h"
#include "ui/dui/win32/win32_backend.h"
#include "ui/dui/win32/win32_list_view.h"
#include "ui/dui/window_impl_base.h"

namespace orlin::dui::win32 {

namespace {

constexpr UINT_PTR kEditSubclassId = 1;
// The hint of an empty edit, in the colour of a disabled text.
constexpr COLORREF kPromptColour = RGB(0x8A, 0x99, 0xAD);
// The dropped list of a combo box, below its field.
constexpr int kComboDropHeight = 200;
// A combo box's item under the pointer or chosen in its dropped list, and
// the text of a disabled one.
constexpr Color kComboHighlight = 0xFFDCE6F4;
constexpr Color kComboDisabledText = 0xFF9AA5B1;

COLORREF ToColorRef(Color c) { return RGB((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }

// Every DirectUI window class redraws whole on a resize and takes double
// clicks; menus cast a shadow.
void RegisterWindowClass(const std::wstring& name, bool menu) {
  static std::mutex mutex;
  static std::set<std::wstring> registered;
  std::lock_guard lock(mutex);
  if (registered.count(name)) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS | (menu ? CS_DROPSHADOW : 0);
  wc.lpfnWndProc = &Win32Window::WindowProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  // The program's icon, resource 128, where the executable has one (Orlin.exe).
  wc.hIcon = ::LoadIconW(wc.hInstance, MAKEINTRESOURCEW(128));
  wc.hIconSm = static_cast<HICON>(::LoadImageW(wc.hInstance, MAKEINTRESOURCEW(128), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
  wc.lpszClassName = name.c_str();
  if (::RegisterClassExW(&wc) || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS) registered.insert(name);
}

std::intptr_t PointParam(LPARAM lParam) { return MakePointLParam(Point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}); }

std::intptr_t KeyModifiers() {
  std::intptr_t mods = 0;
  if (::GetKeyState(VK_CONTROL) < 0) mods |= kKeyModControl;
  if (::GetKeyState(VK_SHIFT) < 0) mods |= kKeyModShift;
  if (::GetKeyState(VK_MENU) < 0) mods |= kKeyModAlt;
  return mods;
}

std::wstring WindowText(HWND hwnd) {
  const int n = ::GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<std::size_t>(std::max(n, 0)) + 1, L'\0');
  const int got = ::GetWindowTextW(hwnd, text.data(), n + 1);
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return text;
}

// The colour under a control: its own, else that of the nearest control
// around it that has one (native children cannot show through).
Color GroundOf(const CControlUI& control) {
  for (const CControlUI* c = &control; c; c = c->GetParent()) {
    if (Color bk = c->CurrentBkColor(); bk && (bk >> 24) == 0xFF) return bk;
  }
  return kWindowGround;
}

int LineHeightOf(HWND hwnd, HFONT font) {
  HDC dc = ::GetDC(hwnd);
  HGDIOBJ old = ::SelectObject(dc, font);
  TEXTMETRICW tm{};
  ::GetTextMetricsW(dc, &tm);
  ::SelectObject(dc, old);
  ::ReleaseDC(hwnd, dc);
  return tm.tmHeight;
}

// Messages other processes send the window by number carry values only; one
// whose parameter is a pointer into the sender's memory is refused.
bool CarriesPointer(UINT msg) { return msg == kWmMenuCommand || msg == kMsgPathInUse; }

}  // namespace

// --------------------------------------------------------------- creation

Win32Window::Win32Window(Win32Backend& backend, WindowImplBase& window, Win32Window* owner,
                         const NativeWindowParams& params)
    : backend_(backend), window_(window), pm_(window.GetPaintManager()), thread_(::GetCurrentThreadId()) {
  popupMenu_ = dynamic_cast<CMenuWnd*>(&window) != nullptr;
  modalEnded_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const std::wstring cls = window.GetWindowClassName();
  RegisterWindowClass(cls, popupMenu_);
  // Shown later (ShowWindow, ShowModal), once placed and laid out.
  const DWORD style = (params.style & ~WS_VISIBLE) | WS_CLIPCHILDREN;
  DWORD exStyle = params.exStyle;
  if (popupMenu_) exStyle |= WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
  ownerHwnd_ = owner ? owner->Handle() : nullptr;
  ::CreateWindowExW(exStyle, cls.c_str(), params.windowName.c_str(), style, 0, 0, 0, 0, ownerHwnd_, nullptr,
                    ::GetModuleHandleW(nullptr), this);
}

Win32Window::~Win32Window() {
  *alive_ = false;
  Destroy();
  if (modalEnded_) ::CloseHandle(modalEnded_);
}

LRESULT CALLBACK Win32Window::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_ = hwnd;
  }
  auto* self = reinterpret_cast<Win32Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  return self->Handle(msg, wParam, lParam);
}

// ------------------------------------------------------------- threads

bool Win32Window::IsOwnThread() const { return ::GetCurrentThreadId() == thread_; }

void Win32Window::Dispatch(std::function<void()> task) {
  bool post = false;
  HWND hwnd = nullptr;
  {
    std::lock_guard lock(taskMutex_);
    // A window that went away drops the task unrun (here, as it returns).
    if (closed_ || !hwnd_) return;
    tasks_.push_back(std::move(task));
    if (!wakePosted_) wakePosted_ = post = true;
    hwnd = hwnd_;
  }
  // Hop: the window's thread runs the task from its message loop.
  if (post && !::PostMessageW(hwnd, kRunPostedTask, 0, 0)) {
    std::lock_guard lock(taskMutex_);
    wakePosted_ = false;
  }
}

void Win32Window::RunTasks() {
  // The tasks queued now run one after another from this one message: each
  // message costs a trip through the message queue (under Wine a round trip
  // to wineserver for the post and one for the fetch), and the poller's
  // changes come several at a time. Tasks queued meanwhile wait for the next
  // message, so input and painting are not held up by a busy poller.
  std::size_t batch = 0;
  {
    std::lock_guard lock(taskMutex_);
    wakePosted_ = false;
    batch = tasks_.size();
  }
  const std::shared_ptr<bool> alive = alive_;
  for (; batch > 0; --batch) {
    std::function<void()> task;
    bool post = false;
    {
      std::lock_guard lock(taskMutex_);
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
      // Posted before the task runs: a task that runs a modal loop leaves
      // the rest to that loop.
      if (!tasks_.empty() && !wakePosted_) wakePosted_ = post = true;
    }
    if (HWND hwnd = hwnd_; post && hwnd) ::PostMessageW(hwnd, kRunPostedTask, 0, 0);
    task();
    // A task may have closed the window and taken this object with it.
    if (!*alive) return;
  }
}

bool Win32Window::Send(std::function<void()> task) {
  HWND hwnd = hwnd_;
  if (!hwnd) return false;
  if (IsOwnThread()) {
    task();
    return true;
  }
  // Hop: a real SendMessage. This thread handles what is sent to its own
  // windows while it waits, and is let go when the window goes away.
  return ::SendMessageW(hwnd, kRunSentTask, 0, reinterpret_cast<LPARAM>(&task)) == 1;
}

void Win32Window::OnOwnThread(std::function<void()> task) {
  if (IsOwnThread()) task();
  else Dispatch(std::move(task));
}

// ------------------------------------------------------------- the window

void Win32Window::SetTitle(const std::wstring& title) {
  OnOwnThread([this, title] {
    if (hwnd_) ::SetWindowTextW(hwnd_, title.c_str());
  });
}

void Win32Window::Show(bool show, bool activate) {
  shown_ = show && hwnd_;
  OnOwnThread([this, show, activate] { ShowNow(show, activate); });
}

void Win32Window::ShowNow(bool show, bool activate) {
  if (!hwnd_) return;
  if (!show) {
    // The owner a modal window disabled takes the activation back.
    if (disabledOwner_ && ownerHwnd_) {
      ::EnableWindow(ownerHwnd_, TRUE);
      disabledOwner_ = false;
    }
    ::ShowWindow(hwnd_, SW_HIDE);
    return;
  }
  Sync();
  int command = activate ? SW_SHOW : SW_SHOWNA;
  switch (state_.load()) {
    case WindowState::kMinimized: command = SW_SHOWMINNOACTIVE; break;
    case WindowState::kMaximized: command = SW_SHOWMAXIMIZED; break;
    case WindowState::kNormal:
      if (::IsIconic(hwnd_) || ::IsZoomed(hwnd_)) command = SW_RESTORE;
      break;
  }
  ::ShowWindow(hwnd_, command);
  // A menu must hold the activation: clicking anywhere else then closes it.
  if (activate || popupMenu_) ::SetForegroundWindow(hwnd_);
  ::UpdateWindow(hwnd_);
}

void Win32Window::SetWindowState(WindowState state) {
  state_ = state;
  OnOwnThread([this, state] {
    if (!hwnd_ || !::IsWindowVisible(hwnd_)) return;
    ::ShowWindow(hwnd_, state == WindowState::kMinimized   ? SW_MINIMIZE
                        : state == WindowState::kMaximized ? SW_MAXIMIZE
                                                            : SW_RESTORE);
  });
}

void Win32Window::SetInputEnabled(bool enabled) {
  enabled_ = enabled;
  OnOwnThread([this, enabled] {
    if (hwnd_) ::EnableWindow(hwnd_, enabled);
  });
}

void Win32Window::SetExStyle(std::uint32_t exStyle) {
  OnOwnThread([this, exStyle] {
    if (!hwnd_) return;
    const auto old = static_cast<DWORD>(::GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
    DWORD style = exStyle;
    if (popupMenu_) style |= WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
    if (style == old) return;
    // The taskbar looks at the style when a window shows.
    const bool visible = ::IsWindowVisible(hwnd_) != FALSE;
    if (visible) ::ShowWindow(hwnd_, SW_HIDE);
    ::SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, static_cast<LONG_PTR>(style));
    ::SetWindowPos(hwnd_, (style & WS_EX_TOPMOST) ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    if (visible) ::ShowWindow(hwnd_, SW_SHOWNA);
  });
}

void Win32Window::BringToTop() {
  OnOwnThread([this] {
    if (!hwnd_) return;
    if (::IsIconic(hwnd_)) ::ShowWindow(hwnd_, SW_RESTORE);
    ::SetForegroundWindow(hwnd_);
    ::BringWindowToTop(hwnd_);
  });
}

void Win32Window::SetRect(const Rect& r) {
  {
    std::lock_guard lock(mutex_);
    rect_ = r;
  }
  OnOwnThread([this, r] {
    if (hwnd_) ::SetWindowPos(hwnd_, nullptr, r.left, r.top, r.Width(), r.Height(), SWP_NOZORDER | SWP_NOACTIVATE);
  });
}

Rect Win32Window::GetRect() const {
  std::lock_guard lock(mutex_);
  return rect_;
}

void Win32Window::UpdateRectFromWindow() {
  RECT r{};
  if (!hwnd_ || ::IsIconic(hwnd_) || !::GetWindowRect(hwnd_, &r)) return;
  std::lock_guard lock(mutex_);
  rect_ = Rect{r.left, r.top, r.right, r.bottom};
}

Rect Win32Window::GetWorkArea() const {
  HMONITOR monitor = hwnd_ ? ::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST)
                           : ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (!::GetMonitorInfoW(monitor, &info)) return Rect{0, 0, 1920, 1080};
  return Rect{info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
}

void Win32Window::ControlChanged(CControlUI* control, bool layout) {
  // What changes inside a list's row shows in the list's view only; a
  // refill of a long list repaints no more than that.
  if (CControlUI* list = ListHoldingRow(control)) {
    std::lock_guard lock(mutex_);
    dirtyLists_.insert(list);
  } else {
    dirty_.Add(control, layout);
    // A list's view paints what lies under its rows as well: the list and
    // the controls around it. A change there repaints the view; one
    // elsewhere (a label of the status area) leaves the rows as they are.
    std::lock_guard lock(mutex_);
    for (const auto& [shown, view] : lists_) {
      bool under = !control || Overlaps(shown->GetPos(), control->GetPos());
      for (const CControlUI* c = shown; c && !under; c = c->GetParent()) under = c == control;
      if (under) dirtyLists_.insert(shown);
    }
  }
  // Many changes, one pass: the window's thread lays out and repaints once.
  if (syncPending_.exchange(true)) return;
  Dispatch([this] { Sync(); });
}

void Win32Window::ControlRemoved(CControlUI* control) {
  HWND child = nullptr;
  std::shared_ptr<ListView> view;
  {
    std::lock_guard lock(mutex_);
    if (auto it = children_.find(control); it != children_.end()) {
      child = it->second;
      controlOfChild_.erase(child);
      children_.erase(it);
    }
    if (auto it = lists_.find(control); it != lists_.end()) {
      view = std::move(it->second);
      lists_.erase(it);
    }
  }
  if (!child && !view) return;
  // Native windows go on their own thread.
  OnOwnThread([child, view] {
    if (child && ::IsWindow(child)) ::DestroyWindow(child);
  });
}

void Win32Window::RunModal() {
  if (ended_) return;
  if (!IsOwnThread()) {
    // The window's own thread runs it; this one waits for Close, handling
    // what comes for its own windows meanwhile.
    while (!ended_) {
      ::MsgWaitForMultipleObjectsEx(1, &modalEnded_, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      MSG msg;
      while (!ended_ && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
          ::PostQuitMessage(static_cast<int>(msg.wParam));
          return;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
    }
    return;
  }
  // Modal over its owner: the owner takes no input until it ends.
  if (ownerHwnd_ && ::GetWindowThreadProcessId(ownerHwnd_, nullptr) == thread_ && ::IsWindowEnabled(ownerHwnd_)) {
    ::EnableWindow(ownerHwnd_, FALSE);
    disabledOwner_ = true;
  }
  MSG msg;
  while (!ended_) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      // The quit is the outer loop's.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got < 0) break;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (disabledOwner_ && ownerHwnd_) {
    ::EnableWindow(ownerHwnd_, TRUE);
    disabledOwner_ = false;
  }
}

void Win32Window::EndModal() {
  ended_ = true;
  ::SetEvent(modalEnded_);
  // Wakes the loop waiting in GetMessage.
  if (HWND hwnd = hwnd_) ::PostMessageW(hwnd, WM_NULL, 0, 0);
  else ::PostThreadMessageW(thread_, WM_NULL, 0, 0);
}

void Win32Window::Destroy() {
  HWND hwnd = hwnd_;
  // From here on the window layer's window is going (this may run in its
  // destructor): what the system still sends the native window on its way
  // out (focus, activation, its children's notifications) stays here.
  destroying_ = true;
  if (hwnd) {
    if (IsOwnThread()) ::DestroyWindow(hwnd);
    // Only the window's thread can destroy it; a thread that ended took its
    // windows with it and the call fails at once.
    else ::SendMessageW(hwnd, kDestroyNow, 0, 0);
  }
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard lock(taskMutex_);
    closed_ = true;
    dropped.swap(tasks_);
  }
  shown_ = false;
}

// --------------------------------------------------------------- painting

void Win32Window::Sync() {
  syncPending_ = false;
  if (!hwnd_) return;
  bool relaid = false;
  {
    auto lock = pm_.ModelLock();
    relaid = pm_.LayoutIfNeeded();
    SyncChildren(false);
  }
  // Only what changed is painted again, unless anything may have moved.
  const DirtyArea::Taken dirty = dirty_.Take();
  if (relaid || dirty.all) {
    ::InvalidateRect(hwnd_, nullptr, FALSE);
    return;
  }
  for (const Rect& r : dirty.rects) {
    const RECT rc{r.left, r.top, r.right, r.bottom};
    ::InvalidateRect(hwnd_, &rc, FALSE);
  }
}

void Win32Window::PaintTo(HDC dc, const RECT& area) {
  const int width = area.right - area.left, height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return;
  PaintBuffer buffer(dc, width, height);
  GdiplusSurface surface(buffer.Graphics(), backend_.Resources());
  {
    auto lock = pm_.ModelLock();
    surface.Translate(-area.left, -area.top);
    CRenderPass(pm_, surface).PaintWindow(Rect{area.left, area.top, area.right, area.bottom});
  }
  buffer.CopyTo(dc, area.left, area.top);
}

LRESULT Win32Window::HitTest(LPARAM lParam) {
  POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  ::ScreenToClient(hwnd_, &pt);
  RECT rc{};
  ::GetClientRect(hwnd_, &rc);
  const auto style = static_cast<DWORD>(::GetWindowLongPtrW(hwnd_, GWL_STYLE));
  auto lock = pm_.ModelLock();
  // The skin's size box: bands along the edges of a window that resizes.
  const Rect box = pm_.GetSizeBox();
  if ((style & WS_THICKFRAME) && !::IsZoomed(hwnd_) && box != Rect{}) {
    const bool left = pt.x < pm_.Scale(box.left), right = pt.x >= rc.right - pm_.Scale(box.right);
    const bool top = pt.y < pm_.Scale(box.top), bottom = pt.y >= rc.bottom - pm_.Scale(box.bottom);
    if (top) return left ? HTTOPLEFT : right ? HTTOPRIGHT : HTTOP;
    if (bottom) return left ? HTBOTTOMLEFT : right ? HTBOTTOMRIGHT : HTBOTTOM;
    if (left) return HTLEFT;
    if (right) return HTRIGHT;
  }
  if (IsCaptionPoint(pm_, Point{pt.x, pt.y}, rc.right)) return HTCAPTION;
  return HTCLIENT;
}

void Win32Window::ForwardWheel(WPARAM wParam, LPARAM lParam) {
  POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  ::ScreenToClient(hwnd_, &pt);
  // A list under the pointer scrolls itself.
  HWND child = ::ChildWindowFromPointEx(hwnd_, pt, CWP_SKIPINVISIBLE | CWP_SKIPDISABLED);
  if (child && child != hwnd_) {
    std::lock_guard lock(mutex_);
    for (auto& [control, view] : lists_) {
      if (view->Handle() == child) {
        ::PostMessageW(child, WM_MOUSEWHEEL, wParam, lParam);
        return;
      }
    }
  }
  window_.HandleMessage(kWmMouseWheel, static_cast<std::uintptr_t>(wParam & 0xFFFF0000u),
                        MakePointLParam(Point{pt.x, pt.y}));
}

// ----------------------------------------------------------------- messages

LRESULT Win32Window::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  HWND hwnd = hwnd_;
  if (destroying_ && msg != WM_NCDESTROY && msg != kDestroyNow) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  switch (msg) {
    case kRunPostedTask:
      RunTasks();
      return 0;
    case kRunSentTask:
      (*reinterpret_cast<std::function<void()>*>(lParam))();
      return 1;
    case kDestroyNow:
      ::DestroyWindow(hwnd);
      return 0;
    case WM_NCCALCSIZE:
      // All of the window is client area: the skin draws its own frame.
      if (wParam) return 0;
      break;
    case WM_NCPAINT:
      return 0;
    case WM_NCACTIVATE:
      if (!::IsIconic(hwnd)) return TRUE;
      break;
    case WM_NCHITTEST:
      return HitTest(lParam);
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      // Maximised, a frameless window covers the work area, not the taskbar.
      MONITORINFO monitor{};
      monitor.cbSize = sizeof monitor;
      if (::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &monitor)) {
        info->ptMaxPosition.x = monitor.rcWork.left - monitor.rcMonitor.left;
        info->ptMaxPosition.y = monitor.rcWork.top - monitor.rcMonitor.top;
        info->ptMaxSize.x = monitor.rcWork.right - monitor.rcWork.left;
        info->ptMaxSize.y = monitor.rcWork.bottom - monitor.rcWork.top;
      }
      auto lock = pm_.ModelLock();
      const Size least = pm_.GetMinInfo();
      if (least.cx > 0) info->ptMinTrackSize.x = pm_.Scale(least.cx);
      if (least.cy > 0) info->ptMinTrackSize.y = pm_.Scale(least.cy);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(hwnd, &ps);
      bool relaid = false;
      {
        auto lock = pm_.ModelLock();
        relaid = pm_.LayoutIfNeeded();
      }
      PaintTo(dc, ps.rcPaint);
      ::EndPaint(hwnd, &ps);
      // A layout now may have moved what lies outside the painted part.
      if (relaid) ::InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    }
    case WM_PRINTCLIENT: {
      RECT rc{};
      ::GetClientRect(hwnd, &rc);
      PaintTo(reinterpret_cast<HDC>(wParam), rc);
      return 0;
    }
    case WM_SIZE: {
      if (wParam == SIZE_MINIMIZED) state_ = WindowState::kMinimized;
      else if (wParam == SIZE_MAXIMIZED) state_ = WindowState::kMaximized;
      else if (wParam == SIZE_RESTORED) state_ = WindowState::kNormal;
      UpdateRectFromWindow();
      if (wParam != SIZE_MINIMIZED) {
        {
          auto lock = pm_.ModelLock();
          pm_.SetClientSize(Size{LOWORD(lParam), HIWORD(lParam)});
          SyncChildren(true);
        }
        if (tooltip_) {
          TOOLINFOW tool{};
          tool.cbSize = sizeof tool;
          tool.hwnd = hwnd;
          tool.uId = 1;
          ::GetClientRect(hwnd, &tool.rect);
          ::SendMessageW(tooltip_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
        }
        ::InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    }
    case WM_MOVE:
      UpdateRectFromWindow();
      return 0;
    case WM_MOUSEMOVE: {
      if (!tracking_) {
        TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, hwnd, 0};
        tracking_ = ::TrackMouseEvent(&tme) != FALSE;
      }
      EnsureTooltip();
      window_.HandleMessage(kWmMouseMove, 0, PointParam(lParam));
      CControlUI* pointed = pm_.FindControl(Point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
      if (pointed != pointed_) {
        pointed_ = pointed;
        TooltipTargetChanged();
      }
      return 0;
    }
    case WM_MOUSELEAVE:
      tracking_ = false;
      pointed_ = nullptr;
      pm_.MouseLeave();
      return 0;
    case WM_NOTIFY:
      if (LRESULT r = OnNotify(reinterpret_cast<NMHDR*>(lParam))) return r;
      break;
    case WM_LBUTTONDOWN: {
      // The press takes the keyboard from an edit; a press on an edit's
      // border or padding gives it to that edit.
      ::SetFocus(hwnd);
      ::SetCapture(hwnd);
      window_.HandleMessage(kWmLButtonDown, 0, PointParam(lParam));
      HWND focusEdit = nullptr;
      {
        auto lock = pm_.ModelLock();
        std::lock_guard map(mutex_);
        if (CControlUI* focus = pm_.GetFocus()) {
          if (auto it = children_.find(focus); it != children_.end()) focusEdit = it->second;
        }
      }
      if (focusEdit) ::SetFocus(focusEdit);
      return 0;
    }
    case WM_LBUTTONUP:
      if (::GetCapture() == hwnd) ::ReleaseCapture();
      window_.HandleMessage(kWmLButtonUp, 0, PointParam(lParam));
      return 0;
    case WM_LBUTTONDBLCLK:
      window_.HandleMessage(kWmLButtonDblClk, 0, PointParam(lParam));
      return 0;
    case WM_RBUTTONDOWN:
      window_.HandleMessage(kWmRButtonDown, 0, PointParam(lParam));
      return 0;
    case WM_RBUTTONUP:
      window_.HandleMessage(kWmRButtonUp, 0, PointParam(lParam));
      return 0;
    case WM_MOUSEWHEEL:
      ForwardWheel(wParam, lParam);
      return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
      if (popupMenu_ && wParam == VK_ESCAPE) {
        window_.Close(0);
        return 0;
      }
      // Letters and digits reach the window with the modifiers held; other
      // keys keep the system's handling (Alt+F4 among them).
      const bool letterOrDigit = (wParam >= 'A' && wParam <= 'Z') || (wParam >= '0' && wParam <= '9');
      if (!letterOrDigit) break;
      window_.HandleMessage(kWmKeyDown, wParam, KeyModifiers());
      return 0;
    }
    case WM_CLOSE:
      // The system's close (Alt+F4, the taskbar) is the window's WM_CLOSE.
      window_.HandleMessage(kWmClose, 0, 0);
      return 0;
    case WM_COPYDATA:
      return window_.HandleMessage(kWmCopyData, wParam, lParam);
    case WM_DPICHANGED:
      window_.HandleMessage(kWmDpiChanged, wParam, lParam);
      return 0;
    case WM_COMMAND:
      if (lParam) {
        OnCommand(wParam, lParam);
        return 0;
      }
      break;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORLISTBOX:
      return OnControlColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_MEASUREITEM: {
      // Asked while a combo box is made, before it is known here: the rows
      // of its dropped list (its field's height is set as it is placed).
      auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      if (item->CtlType != ODT_COMBOBOX) break;
      auto lock = pm_.ModelLock();
      item->itemHeight = static_cast<UINT>(pm_.Scale(24));
      return TRUE;
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item->CtlType != ODT_COMBOBOX) break;
      DrawComboItem(*item);
      return TRUE;
    }
    case WM_ACTIVATE:
      // A menu ends without a command when anything else is activated.
      if (popupMenu_ && LOWORD(wParam) == WA_INACTIVE && window_.IsWindow()) window_.Close(0);
      break;
    case WM_NCDESTROY: {
      ForgetChildren();
      std::deque<std::function<void()>> dropped;
      {
        std::lock_guard lock(taskMutex_);
        closed_ = true;
        dropped.swap(tasks_);
      }
      if (disabledOwner_ && ownerHwnd_) {
        ::EnableWindow(ownerHwnd_, TRUE);
        disabledOwner_ = false;
      }
      ended_ = true;
      ::SetEvent(modalEnded_);
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      shown_ = false;
      return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    default:
      // What other threads and processes send by number (the main window's
      // messages) goes to the window's handling.
      if (msg >= WM_USER && msg < WM_APP && !CarriesPointer(msg)) return window_.HandleMessage(msg, wParam, lParam);
      break;
  }
  return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

// ----------------------------------------------------------------- children

CControlUI* Win32Window::ControlOfChild(HWND child) {
  std::lock_guard lock(mutex_);
  auto it = controlOfChild_.find(child);
  return it == controlOfChild_.end() ? nullptr : it->second.control;
}

ListView* Win32Window::ListViewOf(CListUI* list) {
  std::lock_guard lock(mutex_);
  auto it = lists_.find(list);
  return it == lists_.end() ? nullptr : it->second.get();
}

void Win32Window::ForgetChildren() {
  std::map<CControlUI*, std::shared_ptr<ListView>> lists;
  {
    std::lock_guard lock(mutex_);
    children_.clear();
    controlOfChild_.clear();
    lists.swap(lists_);
  }
  lists.clear();
  for (auto& [colour, brush] : brushes_) ::DeleteObject(brush);
  brushes_.clear();
  if (tooltip_) ::DestroyWindow(tooltip_);
  tooltip_ = nullptr;
  pointed_ = nullptr;
}

void Win32Window::SyncChildren(bool repaintAll) {
  // A list view repaints when its rows or what lies under them changed
  // (ControlChanged), or when it moved.
  std::set<CControlUI*> dirty;
  {
    std::lock_guard lock(mutex_);
    dirty.swap(dirtyLists_);
  }
  for (const NativeControlPlace& place : NativeControls(pm_)) {
    switch (place.kind) {
      case NativeControlKind::kEdit: SyncEdit(static_cast<CEditUI&>(*place.control), place.rect, place.shown); break;
      case NativeControlKind::kCombo: SyncCombo(static_cast<CComboUI&>(*place.control), place.rect, place.shown); break;
      case NativeControlKind::kList:
        SyncList(static_cast<CListUI&>(*place.control), place.rect, place.shown,
                 repaintAll || dirty.count(place.control) > 0);
        break;
    }
  }
}

bool Win32Window::Place(HWND child, CControlUI& control, const Rect& wanted, bool shown) {
  const bool visible = (::GetWindowLongPtrW(child, GWL_STYLE) & WS_VISIBLE) != 0;
  bool moved = false;
  // A hidden control has no room (a list's inset then turns its rectangle
  // inside out); the system keeps no negative size, so comparing with one
  // would move the child on every pass. A child that stays hidden stays put.
  const Rect r{wanted.left, wanted.top, std::max(wanted.right, wanted.left), std::max(wanted.bottom, wanted.top)};
  if (shown || visible) {
    RECT now{};
    ::GetWindowRect(child, &now);
    ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&now), 2);
    if (now.left != r.left || now.top != r.top || now.right != r.right || now.bottom != r.bottom) {
      ::SetWindowPos(child, nullptr, r.left, r.top, r.Width(), r.Height(), SWP_NOZORDER | SWP_NOACTIVATE);
      moved = true;
    }
  }
  if (visible != shown) ::ShowWindow(child, shown ? SW_SHOWNA : SW_HIDE);
  if ((::IsWindowEnabled(child) != FALSE) != control.IsEnabled()) ::EnableWindow(child, control.IsEnabled());
  return moved;
}

void Win32Window::SyncEdit(CEditUI& edit, const Rect& rect, bool shown) {
  HWND w = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (auto it = children_.find(&edit); it != children_.end()) w = it->second;
  }
  if (!w) {
    w = ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_TABSTOP | ES_AUTOHSCROLL, 0, 0, 0, 0, hwnd_, nullptr,
                          ::GetModuleHandleW(nullptr), nullptr);
    if (!w) return;
    ::SetWindowSubclass(w, &Win32Window::EditProc, kEditSubclassId, reinterpret_cast<DWORD_PTR>(this));
    std::lock_guard lock(mutex_);
    children_[&edit] = w;
    controlOfChild_[w] = Child{&edit, NativeControlKind::kEdit};
  }
  HFONT font = backend_.Resources().GetGdiFont(pm_.GetScaledFont(edit.GetFont()));
  if (reinterpret_cast<HFONT>(::SendMessageW(w, WM_GETFONT, 0, 0)) != font) {
    ::SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  // An edit shows one line, centred in the room the model gives it.
  const int line = std::min(LineHeightOf(w, font) + 2, std::max(rect.Height(), 0));
  const int top = rect.top + (rect.Height() - line) / 2;
  Place(w, edit, Rect{rect.left, top, rect.right, top + line}, shown);

  const wchar_t echo = edit.IsPasswordMode() ? L'\x25CF' : 0;
  if (static_cast<wchar_t>(::SendMessageW(w, EM_GETPASSWORDCHAR, 0, 0)) != echo) {
    ::SendMessageW(w, EM_SETPASSWORDCHAR, echo, 0);
    ::InvalidateRect(w, nullptr, TRUE);
  }
  const bool readOnly = (::GetWindowLongPtrW(w, GWL_STYLE) & ES_READONLY) != 0;
  if (readOnly != edit.IsReadOnly()) ::SendMessageW(w, EM_SETREADONLY, edit.IsReadOnly(), 0);
  ::SendMessageW(w, EM_SETLIMITTEXT, edit.GetMaxChar() > 0 ? edit.GetMaxChar() : 0, 0);
  if (WindowText(w) != edit.GetText()) {
    ++suppressEditNotify_;
    ::SetWindowTextW(w, edit.GetText().c_str());
    --suppressEditNotify_;
  }
  std::wstring& prompt = prompts_[w];
  const auto colours = std::make_pair(GroundOf(edit), TextColorOf(edit));
  if (prompt != edit.GetPromptText() || editColours_[w] != colours) {
    prompt = edit.GetPromptText();
    editColours_[w] = colours;
    ::InvalidateRect(w, nullptr, TRUE);
  }
}

void Win32Window::SyncCombo(CComboUI& combo, const Rect& rect, bool shown) {
  HWND w = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (auto it = children_.find(&combo); it != children_.end()) w = it->second;
  }
  if (!w) {
    w = ::CreateWindowExW(0, L"COMBOBOX", L"",
                          WS_CHILD | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS,
                          0, 0, 0, 0, hwnd_, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (!w) return;
    std::lock_guard lock(mutex_);
    children_[&combo] = w;
    controlOfChild_[w] = Child{&combo, NativeControlKind::kCombo};
  }
  HFONT font = backend_.Resources().GetGdiFont(pm_.GetScaledFont(combo.GetFont()));
  if (reinterpret_cast<HFONT>(::SendMessageW(w, WM_GETFONT, 0, 0)) != font) {
    ::SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  // The field as tall as the model's combo box; the dropped list below it.
  const int field = std::max(rect.Height() - 6, 1);
  if (::SendMessageW(w, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0) != field) {
    ::SendMessageW(w, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
  }
  Place(w, combo, Rect{rect.left, rect.top, rect.right, rect.bottom + kComboDropHeight}, shown);
  bool same = ::SendMessageW(w, CB_GETCOUNT, 0, 0) == combo.GetCount();
  for (int i = 0; same && i < combo.GetCount(); ++i) {
    const LRESULT n = ::SendMessageW(w, CB_GETLBTEXTLEN, i, 0);
    std::wstring item(static_cast<std::size_t>(std::max<LRESULT>(n, 0)) + 1, L'\0');
    ::SendMessageW(w, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));
    item.resize(static_cast<std::size_t>(std::max<LRESULT>(n, 0)));
    same = item == combo.GetItemAt(i)->GetText();
  }
  if (!same) {
    ::SendMessageW(w, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < combo.GetCount(); ++i) {
      ::SendMessageW(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(combo.GetItemAt(i)->GetText().c_str()));
    }
  }
  if (::SendMessageW(w, CB_GETCURSEL, 0, 0) != combo.GetCurSel()) ::SendMessageW(w, CB_SETCURSEL, combo.GetCurSel(), 0);
}

void Win32Window::SyncList(CListUI& list, const Rect& rect, bool shown, bool repaint) {
  ListView* view = ListViewOf(&list);
  if (!view) {
    auto made = std::make_shared<ListView>(*this, list);
    if (!made->Handle()) return;
    view = made.get();
    {
      std::lock_guard lock(mutex_);
      lists_[&list] = std::move(made);
    }
    if (tooltip_) AddTooltipTool(view->Handle());
  }
  // Inside the list's border: a native child does not let it show through.
  const int border = pm_.Scale(list.GetBorderSize());
  const bool moved =
      Place(view->Handle(), list, Rect{rect.left + border, rect.top, rect.right - border, rect.bottom - border}, shown);
  view->Sync(repaint || moved);
}

void Win32Window::OnCommand(WPARAM wParam, LPARAM lParam) {
  const HWND child = reinterpret_cast<HWND>(lParam);
  const WORD code = HIWORD(wParam);
  auto lock = pm_.ModelLock();
  Child found;
  {
    std::lock_guard map(mutex_);
    auto it = controlOfChild_.find(child);
    if (it == controlOfChild_.end()) return;
    found = it->second;
  }
  if (found.kind == NativeControlKind::kEdit) {
    auto* edit = static_cast<CEditUI*>(found.control);
    switch (code) {
      case EN_CHANGE:
        if (suppressEditNotify_ == 0) edit->UserSetText(WindowText(child));
        break;
      case EN_SETFOCUS:
        pm_.SetFocus(edit);
        break;
      case EN_KILLFOCUS:
        if (pm_.GetFocus() == edit) pm_.SetFocus(nullptr);
        break;
      default:
        break;
    }
  } else if (found.kind == NativeControlKind::kCombo && code == CBN_SELCHANGE) {
    const auto index = static_cast<int>(::SendMessageW(child, CB_GETCURSEL, 0, 0));
    static_cast<CComboUI*>(found.control)->SelectItem(index);
  }
}

HBRUSH Win32Window::BrushOf(Color colour) {
  HBRUSH& brush = brushes_[colour];
  if (!brush) brush = ::CreateSolidBrush(ToColorRef(colour));
  return brush;
}

LRESULT Win32Window::OnControlColour(HDC dc, HWND child) {
  CControlUI* control = ControlOfChild(child);
  if (!control) return reinterpret_cast<LRESULT>(BrushOf(kWindowGround));
  auto lock = pm_.ModelLock();
  const Color ground = GroundOf(*control);
  ::SetTextColor(dc, ToColorRef(TextColorOf(*control)));
  ::SetBkColor(dc, ToColorRef(ground));
  return reinterpret_cast<LRESULT>(BrushOf(ground));
}

void Win32Window::DrawComboItem(const DRAWITEMSTRUCT& item) {
  CControlUI* control = ControlOfChild(item.hwndItem);
  HDC dc = item.hDC;
  RECT rc = item.rcItem;
  const bool field = (item.itemState & ODS_COMBOBOXEDIT) != 0;
  const bool highlighted = !field && (item.itemState & ODS_SELECTED) != 0;
  Color ground = kWindowGround, text = kDefaultTextColor;
  int inset = 6;
  {
    auto lock = pm_.ModelLock();
    if (control) {
      ground = GroundOf(*control);
      text = TextColorOf(*control);
    }
    inset = pm_.Scale(6);
  }
  if (highlighted) ground = kComboHighlight;
  ::FillRect(dc, &rc, BrushOf(ground));
  if (item.itemID == static_cast<UINT>(-1)) return;
  const LRESULT n = ::SendMessageW(item.hwndItem, CB_GETLBTEXTLEN, item.itemID, 0);
  if (n <= 0) return;
  std::wstring label(static_cast<std::size_t>(n) + 1, L'\0');
  ::SendMessageW(item.hwndItem, CB_GETLBTEXT, item.itemID, reinterpret_cast<LPARAM>(label.data()));
  label.resize(static_cast<std::size_t>(n));
  HGDIOBJ oldFont = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(item.hwndItem, WM_GETFONT, 0, 0)));
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ToColorRef(item.itemState & ODS_DISABLED ? kComboDisabledText : text));
  rc.left += inset;
  rc.right -= inset / 2;
  ::DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &rc,
              DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
  ::SelectObject(dc, oldFont);
}

LRESULT CALLBACK Win32Window::EditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<Win32Window*>(data);
  switch (msg) {
    case WM_KEYDOWN:
      if (wParam == VK_RETURN) return 0;
      if (wParam == VK_TAB) {
        self->FocusNextEdit(hwnd, ::GetKeyState(VK_SHIFT) < 0);
        return 0;
      }
      break;
    case WM_CHAR:
      if (wParam == L'\r') {
        if (CControlUI* control = self->ControlOfChild(hwnd)) {
          auto lock = self->pm_.ModelLock();
          self->pm_.SendNotify(control, kEventReturn);
        }
        return 0;
      }
      if (wParam == L'\t') return 0;
      break;
    case WM_PAINT:
    case WM_PRINTCLIENT: {
      // The edit's own painting may leave the clip of a given context narrowed.
      const int saved = msg == WM_PRINTCLIENT ? ::SaveDC(reinterpret_cast<HDC>(wParam)) : 0;
      const LRESULT result = ::DefSubclassProc(hwnd, msg, wParam, lParam);
      if (saved) ::RestoreDC(reinterpret_cast<HDC>(wParam), saved);
      // The hint shows while the field is empty, where the text would be.
      auto it = self->prompts_.find(hwnd);
      if (it != self->prompts_.end() && !it->second.empty() && ::GetWindowTextLengthW(hwnd) == 0) {
        HDC dc = msg == WM_PRINTCLIENT ? reinterpret_cast<HDC>(wParam) : ::GetDC(hwnd);
        RECT rc{};
        ::SendMessageW(hwnd, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&rc));
        HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0)));
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, kPromptColour);
        ::DrawTextW(dc, it->second.c_str(), static_cast<int>(it->second.size()), &rc,
                    DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX | DT_END_ELLIPSIS);
        ::SelectObject(dc, old);
        if (msg == WM_PAINT) ::ReleaseDC(hwnd, dc);
      }
      return result;
    }
    case WM_NCDESTROY:
      self->prompts_.erase(hwnd);
      self->editColours_.erase(hwnd);
      ::RemoveWindowSubclass(hwnd, &Win32Window::EditProc, kEditSubclassId);
      break;
    default:
      break;
  }
  return ::DefSubclassProc(hwnd, msg, wParam, lParam);
}

// ----------------------------------------------------------------- tooltips

void Win32Window::AddTooltipTool(HWND tool) {
  TOOLINFOW info{};
  info.cbSize = sizeof info;
  info.uFlags = TTF_SUBCLASS | TTF_IDISHWND;
  info.hwnd = hwnd_;
  info.uId = reinterpret_cast<UINT_PTR>(tool);
  info.lpszText = LPSTR_TEXTCALLBACKW;
  ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

void Win32Window::EnsureTooltip() {
  if (tooltip_ || !hwnd_) return;
  tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0,
                               0, 0, 0, hwnd_, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  if (!tooltip_) return;
  // One tool for the painted controls (the text asked for when the tip
  // shows, of the control under the pointer then), one per list view.
  TOOLINFOW info{};
  info.cbSize = sizeof info;
  info.uFlags = TTF_SUBCLASS;
  info.hwnd = hwnd_;
  info.uId = 1;
  info.lpszText = LPSTR_TEXTCALLBACKW;
  ::GetClientRect(hwnd_, &info.rect);
  ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
  std::vector<HWND> views;
  {
    std::lock_guard lock(mutex_);
    for (auto& [control, view] : lists_) views.push_back(view->Handle());
  }
  for (HWND view : views) AddTooltipTool(view);
}

void Win32Window::TooltipTargetChanged() {
  // Gone now; it comes back after the usual pause with the new text.
  if (tooltip_) ::SendMessageW(tooltip_, TTM_POP, 0, 0);
}

LRESULT Win32Window::OnNotify(NMHDR* header) {
  if (!tooltip_ || header->hwndFrom != tooltip_ || header->code != TTN_GETDISPINFOW) return 0;
  auto* info = reinterpret_cast<NMTTDISPINFOW*>(header);
  POINT pt{};
  ::GetCursorPos(&pt);
  tipText_.clear();
  {
    auto lock = pm_.ModelLock();
    CControlUI* control = nullptr;
    if (header->idFrom == 1) {
      ::ScreenToClient(hwnd_, &pt);
      control = pm_.FindControl(Point{pt.x, pt.y});
    } else {
      std::lock_guard map(mutex_);
      for (auto& [list, view] : lists_) {
        if (reinterpret_cast<UINT_PTR>(view->Handle()) != header->idFrom) continue;
        ::ScreenToClient(view->Handle(), &pt);
        control = view->ControlAt(pt.x, pt.y);
      }
    }
    if (control) tipText_ = control->GetToolTip();
    // With a widest width set, a tip stays on one line up to that width.
    const int widest = pm_.GetTooltipMaxWidth();
    ::SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, widest > 0 ? widest : -1);
  }
  info->lpszText = tipText_.data();
  info->hinst = nullptr;
  return 0;
}

void Win32Window::FocusNextEdit(HWND from, bool backwards) {
  std::vector<HWND> edits;
  {
    auto lock = pm_.ModelLock();
    for (const NativeControlPlace& place : NativeControls(pm_)) {
      if (place.kind != NativeControlKind::kEdit || !place.shown || !place.control->IsEnabled()) continue;
      std::lock_guard map(mutex_);
      if (auto it = children_.find(place.control); it != children_.end()) edits.push_back(it->second);
    }
  }
  auto it = std::find(edits.begin(), edits.end(), from);
  if (edits.empty() || it == edits.end()) return;
  const auto n = static_cast<long>(edits.size());
  const long at = ((it - edits.begin()) + (backwards ? n - 1 : 1)) % n;
  ::SetFocus(edits[static_cast<std::size_t>(at)]);
  ::SendMessageW(edits[static_cast<std::size_t>(at)], EM_SETSEL, 0, -1);
}

}  // namespace orlin::dui::win32
