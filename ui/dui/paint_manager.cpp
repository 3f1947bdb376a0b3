#include "ui/dui/paint_manager.h"

#include <algorithm>

#include "ui/dui/backend.h"

namespace orlin::dui {

namespace {

std::mutex g_pathMutex;
std::filesystem::path g_instancePath;
std::filesystem::path g_resourcePath;

}  // namespace

std::intptr_t CTooltipWindow::SendMessageW(unsigned msg, std::uintptr_t, std::intptr_t lParam) {
  if (msg != kSetMaxTipWidth) return 0;
  int old = pm_.GetTooltipMaxWidth();
  pm_.SetTooltipMaxWidth(static_cast<int>(lParam));
  return old;
}

CPaintManagerUI::CPaintManagerUI() = default;

CPaintManagerUI::~CPaintManagerUI() {
  auto lock = ModelLock();
  // Controls are gone before the native window; nothing reports them any more.
  native_ = nullptr;
  root_.reset();
}

void CPaintManagerUI::SetInstance(const std::filesystem::path& instanceDir) {
  std::lock_guard lock(g_pathMutex);
  g_instancePath = instanceDir;
  if (g_resourcePath.empty()) g_resourcePath = instanceDir;
}

std::filesystem::path CPaintManagerUI::GetInstancePath() {
  std::lock_guard lock(g_pathMutex);
  return g_instancePath;
}

void CPaintManagerUI::SetResourcePath(const std::filesystem::path& dir) {
  std::lock_guard lock(g_pathMutex);
  g_resourcePath = dir;
}

std::filesystem::path CPaintManagerUI::GetResourcePath() {
  std::lock_guard lock(g_pathMutex);
  return g_resourcePath;
}

void CPaintManagerUI::MessageLoop() {
  if (auto backend = UiBackend::Current()) backend->MessageLoop();
}

void CPaintManagerUI::AttachDialog(CControlUI* root) {
  auto lock = ModelLock();
  hot_ = pushed_ = focus_ = nullptr;
  root_.reset(root);
  if (root_) root_->SetManager(this, nullptr);
  Reindex();
  needLayout_ = true;
}

void CPaintManagerUI::Reindex() {
  names_.clear();
  if (!root_) return;
  root_->Visit([this](CControlUI& c) {
    if (!c.GetName().empty()) names_.emplace(c.GetName(), &c);
    return true;
  });
}

void CPaintManagerUI::InitControls(CControlUI* control) {
  auto lock = ModelLock();
  control->Visit([this](CControlUI& c) {
    if (!c.GetName().empty()) names_.emplace(c.GetName(), &c);
    return true;
  });
  needLayout_ = true;
}

void CPaintManagerUI::ReapControls(CControlUI* control) {
  auto lock = ModelLock();
  control->Visit([this](CControlUI& c) {
    if (!c.GetName().empty()) {
      // Rows of one template share names and go from the end: look from the
      // back of the range of equal names.
      auto [first, last] = names_.equal_range(c.GetName());
      for (auto it = last; it != first;) {
        --it;
        if (it->second == &c) {
          names_.erase(it);
          break;
        }
      }
    }
    if (hot_ == &c) hot_ = nullptr;
    if (pushed_ == &c) pushed_ = nullptr;
    if (focus_ == &c) focus_ = nullptr;
    if (native_) native_->ControlRemoved(&c);
    return true;
  });
  needLayout_ = true;
}

void CPaintManagerUI::RenameControl(CControlUI* control, const std::wstring& oldName) {
  auto lock = ModelLock();
  bool known = false;
  if (!oldName.empty()) {
    auto [first, last] = names_.equal_range(oldName);
    for (auto it = first; it != last; ++it) {
      if (it->second == control) {
        names_.erase(it);
        known = true;
        break;
      }
    }
  }
  // Only controls of the tree are indexed; one still being built is not.
  if (known || (root_ && control->GetManager() == this && control->GetParent() != nullptr) || control == root_.get()) {
    if (!control->GetName().empty()) names_.emplace(control->GetName(), control);
  }
}

CControlUI* CPaintManagerUI::FindControl(const std::wstring& name) const {
  auto lock = ModelLock();
  // Equal names keep insertion order, and the tree was indexed in tree order.
  auto it = names_.find(name);
  return it == names_.end() ? nullptr : it->second;
}

CControlUI* CPaintManagerUI::FindControl(Point p) const {
  auto lock = ModelLock();
  return root_ ? root_->FindControlAt(p) : nullptr;
}

CControlUI* CPaintManagerUI::FindSubControlByName(CControlUI* parent, const std::wstring& name) const {
  return parent ? parent->FindSubControl(name) : nullptr;
}

std::vector<COptionUI*> CPaintManagerUI::GetOptionGroup(const std::wstring& group) const {
  std::vector<COptionUI*> out;
  if (!root_ || group.empty()) return out;
  auto lock = ModelLock();
  root_->Visit([&](CControlUI& c) {
    if (auto* o = dynamic_cast<COptionUI*>(&c); o && o->GetGroup() == group) out.push_back(o);
    return true;
  });
  return out;
}

void CPaintManagerUI::AddNotifier(INotifyUI* notifier) {
  if (std::find(notifiers_.begin(), notifiers_.end(), notifier) == notifiers_.end()) notifiers_.push_back(notifier);
}

void CPaintManagerUI::RemoveNotifier(INotifyUI* notifier) {
  notifiers_.erase(std::remove(notifiers_.begin(), notifiers_.end(), notifier), notifiers_.end());
}

void CPaintManagerUI::SendNotify(CControlUI* control, const std::wstring& type, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
  TNotifyUI msg{type, control, wParam, lParam};
  SendNotify(msg);
}

void CPaintManagerUI::SendNotify(TNotifyUI& msg) {
  // A copy: a handler may add or remove notifiers.
  auto notifiers = notifiers_;
  for (auto* n : notifiers) n->Notify(msg);
}

CControlUI* CPaintManagerUI::ClickTarget(Point p) const {
  CControlUI* c = FindControl(p);
  if (!c || !c->IsEnabled() || !c->IsMouseEnabled()) return nullptr;
  return c;
}

void CPaintManagerUI::MouseMove(Point p) {
  auto lock = ModelLock();
  LayoutIfNeeded();
  CControlUI* target = ClickTarget(p);
  if (target != hot_) {
    if (hot_) hot_->SetHot(false);
    hot_ = target;
    if (hot_) hot_->SetHot(true);
  }
}

void CPaintManagerUI::MouseLeave() {
  auto lock = ModelLock();
  if (hot_) hot_->SetHot(false);
  hot_ = nullptr;
}

void CPaintManagerUI::MouseDown(Point p) {
  auto lock = ModelLock();
  LayoutIfNeeded();
  MouseMove(p);
  CControlUI* target = ClickTarget(p);
  if (target && target->GetClass() == L"Edit") SetFocus(target);
  else if (focus_ && focus_ != target) SetFocus(nullptr);
  if (target && target->IsClickable()) {
    pushed_ = target;
    pushed_->SetPushed(true);
  } else if (target) {
    // A click on a list row selects it.
    for (CControlUI* c = target; c; c = c->GetParent()) {
      if (auto* row = dynamic_cast<CListContainerElementUI*>(c)) {
        if (auto* list = dynamic_cast<CListUI*>(row->GetParent())) list->SelectItem(row->GetIndex());
        break;
      }
    }
  }
}

void CPaintManagerUI::MouseUp(Point p) {
  auto lock = ModelLock();
  CControlUI* pushed = pushed_;
  pushed_ = nullptr;
  if (!pushed) return;
  pushed->SetPushed(false);
  if (pushed->GetPos().Contains(p) && pushed->IsEnabled() && pushed->IsMouseEnabled() && pushed->IsVisibleInTree()) {
    pushed->Activate();
  }
}

void CPaintManagerUI::DoubleClick(Point p) {
  auto lock = ModelLock();
  CControlUI* target = ClickTarget(p);
  for (CControlUI* c = target; c; c = c->GetParent()) {
    if (auto* row = dynamic_cast<CListContainerElementUI*>(c)) {
      if (auto* list = dynamic_cast<CListUI*>(row->GetParent())) list->ActivateRow(row->GetIndex());
      return;
    }
  }
}

void CPaintManagerUI::SetFocus(CControlUI* control) {
  auto lock = ModelLock();
  if (focus_ == control) return;
  CControlUI* old = focus_;
  focus_ = control;
  if (old) {
    old->SetFocusedState(false);
    SendNotify(old, kEventKillFocus);
  }
  if (focus_) {
    focus_->SetFocusedState(true);
    SendNotify(focus_, kEventSetFocus);
  }
}

void CPaintManagerUI::SetDPI(int dpi) {
  auto lock = ModelLock();
  dpi_.SetDPI(dpi);
  needLayout_ = true;
  if (root_) ControlChanged(root_.get(), true);
}

void CPaintManagerUI::AddFont(const FontSpec& font, bool isDefault) {
  auto lock = ModelLock();
  fonts_.push_back(font);
  if (isDefault || defaultFont_ < 0) defaultFont_ = static_cast<int>(fonts_.size()) - 1;
}

FontSpec CPaintManagerUI::GetFont(int index) const {
  auto lock = ModelLock();
  for (const auto& f : fonts_) {
    if (f.id == index && index >= 0) return f;
  }
  if (defaultFont_ >= 0) return fonts_[defaultFont_];
  return FontSpec{};
}

FontSpec CPaintManagerUI::GetScaledFont(int index) const {
  FontSpec f = GetFont(index);
  f.size = dpi_.Scale(f.size);
  return f;
}

void CPaintManagerUI::AddDefaultAttributeList(const std::wstring& controlClass, const std::wstring& list) {
  auto lock = ModelLock();
  defaults_[controlClass] = list;
}

std::wstring CPaintManagerUI::GetDefaultAttributeList(const std::wstring& controlClass) const {
  auto lock = ModelLock();
  auto it = defaults_.find(controlClass);
  return it == defaults_.end() ? std::wstring() : it->second;
}

void CPaintManagerUI::AddStyle(const std::wstring& name, const std::wstring& list) {
  auto lock = ModelLock();
  styles_[name] = list;
}

std::wstring CPaintManagerUI::GetStyle(const std::wstring& name) const {
  auto lock = ModelLock();
  auto it = styles_.find(name);
  return it == styles_.end() ? std::wstring() : it->second;
}

void CPaintManagerUI::SetTooltipMaxWidth(int cx) {
  auto lock = ModelLock();
  tooltipWidth_ = std::max(cx, 0);
}

void CPaintManagerUI::SetClientSize(Size s) {
  auto lock = ModelLock();
  if (s == clientSize_ && !needLayout_) return;
  clientSize_ = s;
  needLayout_ = true;
  LayoutIfNeeded();
}

bool CPaintManagerUI::LayoutIfNeeded() {
  auto lock = ModelLock();
  if (!needLayout_ || !root_) return false;
  needLayout_ = false;
  Size s = clientSize_;
  if (s.cx == 0 && s.cy == 0) s = Size{Scale(initSize_.cx), Scale(initSize_.cy)};
  // Containers lay their children out on every SetPos, even an unchanged one.
  root_->SetPos(Rect{0, 0, s.cx, s.cy});
  return true;
}

void CPaintManagerUI::ControlChanged(CControlUI* control, bool layout) {
  if (layout) needLayout_ = true;
  if (native_) native_->ControlChanged(control, layout);
}

void CPaintManagerUI::ControlRemoved(CControlUI* control) {
  if (native_) native_->ControlRemoved(control);
}

Size CPaintManagerUI::MeasureText(const std::wstring& text, int font, unsigned style, int maxWidth) const {
  auto backend = UiBackend::Current();
  if (!backend) return Size{};
  return backend->MeasureText(text, GetScaledFont(font), style, maxWidth);
}

}  // namespace orlin::dui
