#include "ui/dui/win32/win32_list_view.h"

#include <windowsx.h>

#include <algorithm>

#include "ui/dui/controls.h"
#include "ui/dui/paint_manager.h"
#include "ui/dui/win32/gdiplus_surface.h"
#include "ui/dui/win32/win32_backend.h"
#include "ui/dui/win32/win32_window.h"

namespace orlin::dui::win32 {

namespace {

constexpr wchar_t kListViewClass[] = L"OrlinListView";

void RegisterListViewClass() {
  static const bool registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = &ListView::Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kListViewClass;
    return ::RegisterClassExW(&wc) != 0;
  }();
  (void)registered;
}

}  // namespace

ListView::ListView(Win32Window& window, CListUI& list) : window_(window), pm_(window.Manager()), list_(list) {
  RegisterListViewClass();
  hwnd_ = ::CreateWindowExW(0, kListViewClass, L"", WS_CHILD | WS_VSCROLL | WS_CLIPSIBLINGS, 0, 0, 0, 0,
                            window.Handle(), nullptr, ::GetModuleHandleW(nullptr), this);
}

ListView::~ListView() {
  if (hwnd_) {
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    ::DestroyWindow(hwnd_);
  }
}

int ListView::RowHeight() const {
  const CControlUI* first = list_.GetItemAt(0);
  const int h = first && first->GetFixedHeight() > 0 ? first->GetFixedHeight() : list_.GetItemHeight();
  return std::max(pm_.Scale(h), 1);
}

int ListView::ContentHeight() const { return list_.GetCount() * RowHeight(); }

int ListView::ViewHeight() const {
  RECT rc{};
  ::GetClientRect(hwnd_, &rc);
  return rc.bottom - rc.top;
}

void ListView::UpdateScrollBar() {
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  si.nMin = 0;
  si.nMax = std::max(ContentHeight() - 1, 0);
  si.nPage = static_cast<UINT>(std::max(ViewHeight(), 0));
  scroll_ = std::clamp(scroll_, 0, std::max(ContentHeight() - ViewHeight(), 0));
  si.nPos = scroll_;
  ::SetScrollInfo(hwnd_, SB_VERT, &si, TRUE);
}

void ListView::Sync(bool rowsChanged) {
  if (!hwnd_) return;
  if (list_.GetCount() != count_) {
    count_ = list_.GetCount();
    if (hover_ >= count_) hover_ = -1;
    UpdateScrollBar();
    rowsChanged = true;
  }
  if (rowsChanged) ::InvalidateRect(hwnd_, nullptr, FALSE);
}

void ListView::ScrollTo(int y) {
  const int most = std::max(ContentHeight() - ViewHeight(), 0);
  y = std::clamp(y, 0, most);
  if (y == scroll_) return;
  scroll_ = y;
  ::SetScrollPos(hwnd_, SB_VERT, scroll_, TRUE);
  ::InvalidateRect(hwnd_, nullptr, FALSE);
}

int ListView::RowAt(int y) const {
  const int row = (y + scroll_) / RowHeight();
  return y >= 0 && row < list_.GetCount() ? row : -1;
}

void ListView::SetHover(int row) {
  if (row == hover_) return;
  hover_ = row;
  ::InvalidateRect(hwnd_, nullptr, FALSE);
}

void ListView::Paint(HDC dc) {
  RECT rc{};
  ::GetClientRect(hwnd_, &rc);
  const int width = rc.right - rc.left, height = rc.bottom - rc.top;
  if (width <= 0 || height <= 0) return;
  PaintBuffer buffer(dc, width, height);
  GdiplusSurface surface(buffer.Graphics(), window_.Backend().Resources());
  {
    auto lock = pm_.ModelLock();
    // Under the rows, what the window shows there (the list's own colour and
    // border, the frames around it), as if the view were not there.
    POINT origin{0, 0};
    ::MapWindowPoints(hwnd_, ::GetParent(hwnd_), &origin, 1);
    surface.Save();
    surface.Translate(-origin.x, -origin.y);
    CRenderPass(pm_, surface).PaintBackdrop(list_);
    surface.Restore();
    const int h = RowHeight();
    const int first = scroll_ / h;
    const int last = std::min(list_.GetCount() - 1, (scroll_ + height) / h);
    CRenderPass pass(pm_, surface);
    for (int i = first; i <= last; ++i) {
      const int top = i * h - scroll_;
      pass.PaintListRow(list_, i, Rect{0, top, width, top + h}, i == hover_);
    }
  }
  buffer.CopyTo(dc, 0, 0);
}

CControlUI* ListView::ControlAt(int x, int y) const {
  const int index = RowAt(y);
  if (index < 0) return nullptr;
  CControlUI* row = list_.GetItemAt(index);
  const int top = index * RowHeight() - scroll_;
  return row->FindControlAt(Point{row->GetPos().left + x, row->GetPos().top + (y - top)});
}

void ListView::Click(int x, int y, bool dbl) {
  auto lock = pm_.ModelLock();
  const int index = RowAt(y);
  if (index < 0) return;
  if (dbl) {
    list_.ActivateRow(index);
    return;
  }
  list_.SelectItem(index);
  // A click on a button inside a row reaches that button.
  CControlUI* row = list_.GetItemAt(index);
  const int top = index * RowHeight() - scroll_;
  const Point inRow{row->GetPos().left + x, row->GetPos().top + (y - top)};
  CControlUI* hit = row->FindControlAt(inRow);
  if (hit && hit != row && hit->IsClickable() && hit->IsEnabled()) hit->Activate();
  ::InvalidateRect(hwnd_, nullptr, FALSE);
}

LRESULT CALLBACK ListView::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    static_cast<ListView*>(create->lpCreateParams)->hwnd_ = hwnd;
  }
  auto* view = reinterpret_cast<ListView*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!view) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
  return view->Handle(msg, wParam, lParam);
}

LRESULT ListView::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  const HWND hwnd = hwnd_;
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(hwnd_, &ps);
      Paint(dc);
      ::EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_SIZE: {
      auto lock = pm_.ModelLock();
      UpdateScrollBar();
      return 0;
    }
    case WM_VSCROLL: {
      auto lock = pm_.ModelLock();
      SCROLLINFO si{};
      si.cbSize = sizeof si;
      si.fMask = SIF_ALL;
      ::GetScrollInfo(hwnd_, SB_VERT, &si);
      int y = scroll_;
      switch (LOWORD(wParam)) {
        case SB_LINEUP: y -= RowHeight(); break;
        case SB_LINEDOWN: y += RowHeight(); break;
        case SB_PAGEUP: y -= ViewHeight(); break;
        case SB_PAGEDOWN: y += ViewHeight(); break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION: y = si.nTrackPos; break;
        case SB_TOP: y = 0; break;
        case SB_BOTTOM: y = ContentHeight(); break;
        default: break;
      }
      ScrollTo(y);
      return 0;
    }
    case WM_MOUSEWHEEL: {
      auto lock = pm_.ModelLock();
      const int notches = GET_WHEEL_DELTA_WPARAM(wParam);
      ScrollTo(scroll_ - notches * 3 * RowHeight() / WHEEL_DELTA);
      return 0;
    }
    case WM_MOUSEMOVE: {
      if (!tracking_) {
        TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, hwnd_, 0};
        tracking_ = ::TrackMouseEvent(&tme) != FALSE;
      }
      auto lock = pm_.ModelLock();
      SetHover(RowAt(GET_Y_LPARAM(lParam)));
      // Another control, another tooltip.
      CControlUI* pointed = ControlAt(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      if (pointed != pointed_) {
        pointed_ = pointed;
        window_.TooltipTargetChanged();
      }
      return 0;
    }
    case WM_MOUSELEAVE:
      tracking_ = false;
      pointed_ = nullptr;
      SetHover(-1);
      return 0;
    case WM_LBUTTONDOWN:
      ::SetFocus(hwnd_);
      return 0;
    case WM_LBUTTONUP:
      Click(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), false);
      return 0;
    case WM_LBUTTONDBLCLK:
      Click(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), true);
      return 0;
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      break;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace orlin::dui::win32
