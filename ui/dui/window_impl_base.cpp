#include "ui/dui/window_impl_base.h"

#include <algorithm>
#include <string>
#include <vector>

#include "ui/dui/missing_resources.h"

namespace orlin::dui {

namespace {
// Windows that have a native window, for FindWindow.
std::mutex g_windowsMutex;
std::vector<WindowImplBase*> g_windows;

void Register(WindowImplBase* w) {
  std::lock_guard lock(g_windowsMutex);
  g_windows.push_back(w);
}

void Unregister(WindowImplBase* w) {
  std::lock_guard lock(g_windowsMutex);
  g_windows.erase(std::remove(g_windows.begin(), g_windows.end(), w), g_windows.end());
}
}  // namespace

WindowImplBase* WindowImplBase::FindWindow(const std::wstring& className, const std::wstring& windowName) {
  std::lock_guard lock(g_windowsMutex);
  for (auto* w : g_windows) {
    if ((className.empty() || w->GetWindowClassName() == className) &&
        (windowName.empty() || w->windowName_ == windowName)) {
      return w;
    }
  }
  return nullptr;
}

std::vector<WindowImplBase*> WindowImplBase::OpenWindows() {
  std::lock_guard lock(g_windowsMutex);
  return g_windows;
}

WindowImplBase::WindowImplBase() : life_(std::make_shared<Life>()) {
  life_->window = this;
  pm_.SetMessageTarget(this);
}

WindowImplBase::~WindowImplBase() {
  Unregister(this);
  {
    std::lock_guard lock(life_->mutex);
    life_->window = nullptr;
  }
  CResourceManager::GetInstance().RemoveTextQueryInterface(this);
  CResourceManager::GetInstance().UnregisterManager(&pm_);
  pm_.RemoveNotifier(this);
  if (native_) native_->Destroy();
  pm_.SetNativeWindow(nullptr);
  native_.reset();
}

bool WindowImplBase::Create(WindowImplBase* parent, const std::wstring& windowName, std::uint32_t style,
                            std::uint32_t exStyle, int x, int y, int cx, int cy) {
  backend_ = UiBackend::Current();
  if (!backend_ || native_) return false;
  parent_ = parent;
  windowName_ = windowName;
  style_ = style;
  exStyle_ = exStyle;
  CDialogBuilder builder;
  CControlUI* root = builder.Create(GetSkinFile(), this, &pm_);
  if (!root) {
    ReportMissingResource("skin missing or unreadable: " + builder.GetLastError());
    return false;
  }
  pm_.AttachDialog(root);
  pm_.AddNotifier(this);
  CResourceManager::GetInstance().RegisterManager(&pm_);
  CResourceManager::GetInstance().ApplyTexts(pm_);

  NativeWindowParams params{windowName, style, exStyle, Rect{x, y, cx, cy}};
  native_ = backend_->CreateNativeWindow(*this, parent ? parent->GetHWND() : nullptr, params);
  if (!native_) return false;
  pm_.SetNativeWindow(native_.get());
  Register(this);
  skinSized_ = cx == kCwUseDefault || cy == kCwUseDefault;
  Size size = skinSized_ ? Size{pm_.Scale(pm_.GetInitSize().cx), pm_.Scale(pm_.GetInitSize().cy)} : Size{cx, cy};
  int left = x == kCwUseDefault ? 0 : x;
  int top = y == kCwUseDefault ? 0 : y;
  pm_.SetClientSize(size);
  native_->SetRect(Rect{left, top, left + size.cx, top + size.cy});
  InitWindow();
  // "windowinit" arrives once the window handles messages, as after its
  // first paint.
  auto life = life_;
  native_->Dispatch([life] {
    std::lock_guard lock(life->mutex);
    if (life->window && life->window->pm_.GetRoot()) {
      life->window->pm_.SendNotify(life->window->pm_.GetRoot(), kEventWindowInit);
    }
  });
  return true;
}

std::wstring WindowImplBase::GetWindowName() const {
  // Guarded like FindWindow's reads: the name may change on another thread.
  std::lock_guard lock(g_windowsMutex);
  return windowName_;
}

void WindowImplBase::SetWindowTitle(const std::wstring& title) {
  {
    std::lock_guard lock(g_windowsMutex);
    windowName_ = title;
  }
  if (native_) native_->SetTitle(title);
}

void WindowImplBase::ApplyDPI(int dpi) {
  pm_.SetDPI(dpi);
  if (!native_ || !skinSized_) return;
  Rect r = native_->GetRect();
  Size size{pm_.Scale(pm_.GetInitSize().cx), pm_.Scale(pm_.GetInitSize().cy)};
  int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
  pm_.SetClientSize(size);
  native_->SetRect(Rect{cx - size.cx / 2, cy - size.cy / 2, cx - size.cx / 2 + size.cx, cy - size.cy / 2 + size.cy});
}

int WindowImplBase::ShowModal() {
  if (!native_) return -1;
  modalRunning_ = true;
  if (!closed_) native_->Show(true, true);
  native_->RunModal();
  modalRunning_ = false;
  int result = result_;
  native_->Destroy();
  NativeDestroyed();  // may delete this
  return result;
}

void WindowImplBase::Close(int result) {
  if (closed_.exchange(true)) return;
  result_ = result;
  if (!native_) return;
  native_->Show(false, false);
  native_->EndModal();
  if (!modalRunning_) {
    // A window shown without a modal loop goes away on its message thread.
    auto life = life_;
    native_->Dispatch([life] {
      std::unique_lock lock(life->mutex);
      WindowImplBase* w = life->window;
      if (!w || w->modalRunning_) return;
      w->native_->Destroy();
      lock.unlock();
      w->NativeDestroyed();
    });
  }
}

void WindowImplBase::ShowWindow(bool show, bool takeFocus) {
  if (!native_) return;
  native_->Show(show, takeFocus);
  OnShowStateChanged(native_->IsShown() && native_->GetWindowState() != WindowState::kMinimized);
}

void WindowImplBase::ShowWindowCommand(int command) {
  if (!native_) return;
  switch (command) {
    case kSwHide:
      native_->Show(false, false);
      break;
    case kSwShowMinimized:
    case kSwMinimize:
      native_->SetWindowState(WindowState::kMinimized);
      native_->Show(true, false);
      break;
    case kSwMaximize:
      native_->SetWindowState(WindowState::kMaximized);
      native_->Show(true, true);
      break;
    case kSwShowNormal:
    case kSwRestore:
      native_->SetWindowState(WindowState::kNormal);
      native_->Show(true, true);
      break;
    case kSwShowNoActivate:
      native_->Show(true, false);
      break;
    default:
      native_->Show(true, true);
      break;
  }
  OnShowStateChanged(native_->IsShown() && native_->GetWindowState() != WindowState::kMinimized);
}

bool WindowImplBase::IsZoomed() const { return native_ && native_->GetWindowState() == WindowState::kMaximized; }

bool WindowImplBase::IsIconic() const { return native_ && native_->GetWindowState() == WindowState::kMinimized; }

void WindowImplBase::EnableWindow(bool enable) {
  if (native_) native_->SetInputEnabled(enable);
}

bool WindowImplBase::IsWindowEnabled() const { return native_ && native_->IsInputEnabled(); }

void WindowImplBase::BringWindowToTop() {
  if (native_) native_->BringToTop();
}

void WindowImplBase::SetExStyle(std::uint32_t exStyle) {
  exStyle_ = exStyle;
  if (native_) native_->SetExStyle(exStyle);
}

void WindowImplBase::CenterWindow() {
  if (!native_) return;
  Rect r = native_->GetRect();
  Rect area = parent_ && parent_->GetHWND() && parent_->GetHWND()->IsShown() ? parent_->GetHWND()->GetRect()
                                                                           : native_->GetWorkArea();
  int left = area.left + (area.Width() - r.Width()) / 2;
  int top = area.top + (area.Height() - r.Height()) / 2;
  native_->SetRect(Rect{left, top, left + r.Width(), top + r.Height()});
}

void WindowImplBase::PostMessageW(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
  if (!native_) return;
  auto life = life_;
  // Hop: runs on the window's message thread.
  native_->Dispatch([life, msg, wParam, lParam] {
    std::lock_guard lock(life->mutex);
    if (life->window) life->window->HandleMessage(msg, wParam, lParam);
  });
}

std::intptr_t WindowImplBase::SendMessageW(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
  if (!native_) return 0;
  if (native_->IsOwnThread()) return HandleMessage(msg, wParam, lParam);
  auto life = life_;
  std::intptr_t result = 0;
  // Hop: the handler runs on the window's message thread while this thread
  // waits (the result is written before Send returns, or never).
  native_->Send([life, &result, msg, wParam, lParam] {
    std::lock_guard lock(life->mutex);
    if (life->window) result = life->window->HandleMessage(msg, wParam, lParam);
  });
  return result;
}

void WindowImplBase::Post(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  PostMessageW(message, wParam, lParam);
}

std::intptr_t WindowImplBase::Send(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  return SendMessageW(message, wParam, lParam);
}

std::intptr_t WindowImplBase::HandleMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
  bool handled = false;
  std::intptr_t r = HandleCustomMessage(msg, wParam, lParam, handled);
  if (handled) return r;
  const bool mouse = msg >= kWmMouseMove && msg <= kWmRButtonUp;
  if (mouse && native_ && !native_->IsInputEnabled()) return 0;
  switch (msg) {
    case kWmMouseMove:
      pm_.MouseMove(PointFromLParam(lParam));
      return 0;
    case kWmLButtonDown:
      pm_.MouseDown(PointFromLParam(lParam));
      return 0;
    case kWmLButtonUp:
      pm_.MouseUp(PointFromLParam(lParam));
      return 0;
    case kWmLButtonDblClk:
      pm_.DoubleClick(PointFromLParam(lParam));
      return 0;
    case kWmClose:
      Close(wParam ? static_cast<int>(wParam) : kModalCancel);
      return 0;
    default:
      return 0;
  }
}

void WindowImplBase::NativeDestroyed() {
  Unregister(this);
  pm_.SetNativeWindow(nullptr);
  closed_ = true;
  OnFinalMessage();
}

}  // namespace orlin::dui
