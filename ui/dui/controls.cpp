#include "ui/dui/controls.h"

#include <algorithm>
#include <charconv>

#include "common/text.h"
#include "ui/dui/paint_manager.h"

namespace orlin::dui {

namespace {

int ToInt(const std::wstring& v) {
  std::string s = WideToUtf8(v);
  int out = 0;
  auto b = s.data();
  while (b < s.data() + s.size() && *b == ' ') ++b;
  std::from_chars(b, s.data() + s.size(), out);
  return out;
}

Color ToColor(const std::wstring& v) { return ParseColor(WideToUtf8(v)).value_or(0); }
bool ToBool(const std::wstring& v) { return ParseBool(WideToUtf8(v)); }
ImageSpec ToImage(const std::wstring& v) { return ParseImage(WideToUtf8(v)); }
Rect ToRect(const std::wstring& v) { return ParseRect(WideToUtf8(v)); }

// Locks the owning window's model while a control changes, when it has one.
std::unique_lock<std::recursive_mutex> Lock(CPaintManagerUI* m) {
  return m ? m->ModelLock() : std::unique_lock<std::recursive_mutex>();
}

}  // namespace

// ---------------------------------------------------------------- CControlUI

CControlUI::CControlUI() = default;

CControlUI::~CControlUI() = default;

void CControlUI::SetName(const std::wstring& name) {
  auto lock = Lock(manager_);
  if (name_ == name) return;
  std::wstring old = std::move(name_);
  name_ = name;
  if (manager_) manager_->RenameControl(this, old);
}

void CControlUI::SetText(const std::wstring& text) {
  auto lock = Lock(manager_);
  if (text_ == text) return;
  text_ = text;
  ++revision_;
  if (SizedByText()) NeedParentUpdate();
  else Invalidate();
}

void CControlUI::SetTextId(const std::wstring& id) {
  auto lock = Lock(manager_);
  textId_ = id;
}

void CControlUI::SetToolTip(const std::wstring& tip) {
  auto lock = Lock(manager_);
  tooltip_ = tip;
  Changed();
}

void CControlUI::SetUserData(const std::wstring& data) {
  auto lock = Lock(manager_);
  userData_ = data;
}

void CControlUI::SetVisible(bool visible) {
  auto lock = Lock(manager_);
  if (visible_ == visible) return;
  visible_ = visible;
  if (!visible && manager_) {
    // A hidden control can no longer be hot, pushed or focused.
    Visit([this](CControlUI& c) {
      if (manager_->GetFocus() == &c) manager_->SetFocus(nullptr);
      c.SetHot(false);
      c.SetPushed(false);
      return true;
    });
  }
  ++revision_;
  NeedParentUpdate();
}

bool CControlUI::IsVisibleInTree() const {
  for (const CControlUI* c = this; c; c = c->parent_) {
    if (!c->visible_) return false;
  }
  return true;
}

void CControlUI::SetEnabled(bool enabled) {
  auto lock = Lock(manager_);
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  if (!enabled) {
    hot_ = false;
    pushed_ = false;
  }
  Changed();
}

void CControlUI::SetMouseEnabled(bool enabled) {
  auto lock = Lock(manager_);
  mouseEnabled_ = enabled;
  if (!enabled) {
    hot_ = false;
    pushed_ = false;
  }
  Changed();
}

void CControlUI::SetBkColor(Color c) {
  auto lock = Lock(manager_);
  bkColor_ = c;
  Changed();
}

void CControlUI::SetTextColor(Color c) {
  auto lock = Lock(manager_);
  textColor_ = c;
  Changed();
}

Color CControlUI::CurrentBkColor() const {
  if (!enabled_ && disabledBkColor_) return disabledBkColor_;
  if (enabled_ && pushed_ && pushedBkColor_) return pushedBkColor_;
  if (enabled_ && (hot_ || pushed_) && hotBkColor_) return hotBkColor_;
  return bkColor_;
}

Color CControlUI::CurrentTextColor() const {
  if (!enabled_ && disabledTextColor_) return disabledTextColor_;
  if (enabled_ && pushed_ && pushedTextColor_) return pushedTextColor_;
  if (enabled_ && (hot_ || pushed_) && hotTextColor_) return hotTextColor_;
  return textColor_;
}

const ImageSpec CControlUI::kNoImage{};

CControlUI::Images& CControlUI::MutableImages() {
  if (!images_) images_ = std::make_unique<Images>();
  return *images_;
}

const ImageSpec* CControlUI::CurrentImage() const {
  if (!images_) return nullptr;
  const Images& i = *images_;
  if (!enabled_ && !i.disabled.IsEmpty()) return &i.disabled;
  if (enabled_ && pushed_ && !i.pushed.IsEmpty()) return &i.pushed;
  if (enabled_ && (hot_ || pushed_) && !i.hot.IsEmpty()) return &i.hot;
  if (!i.normal.IsEmpty()) return &i.normal;
  return nullptr;
}

void CControlUI::SetFont(int index) {
  auto lock = Lock(manager_);
  font_ = index;
  ++revision_;
  NeedParentUpdate();
}

void CControlUI::SetTextStyle(unsigned style) {
  auto lock = Lock(manager_);
  textStyle_ = style;
  Changed();
}

void CControlUI::SetFixedWidth(int cx) {
  auto lock = Lock(manager_);
  fixedWidth_ = std::max(cx, 0);
  ++revision_;
  NeedParentUpdate();
}

void CControlUI::SetFixedHeight(int cy) {
  auto lock = Lock(manager_);
  fixedHeight_ = std::max(cy, 0);
  ++revision_;
  NeedParentUpdate();
}

void CControlUI::SetMinWidth(int cx) {
  auto lock = Lock(manager_);
  minWidth_ = std::max(cx, 0);
  ++revision_;
  NeedParentUpdate();
}

void CControlUI::SetPadding(Rect r) {
  auto lock = Lock(manager_);
  padding_ = r;
  ++revision_;
  NeedParentUpdate();
}

void CControlUI::SetPos(const Rect& r) {
  if (pos_ == r) return;
  pos_ = r;
  ++revision_;
  if (manager_) manager_->ControlChanged(this, false);
}

Size CControlUI::EstimateSize(Size available) const {
  int s = manager_ ? manager_->GetDPIObj()->GetScale() : 100;
  return Size{fixedWidth_ * s / 100, fixedHeight_ * s / 100};
}

void CControlUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  auto lock = Lock(manager_);
  const std::wstring n = AsciiLower(name);
  bool layout = false;
  if (n == L"name") {
    SetName(value);
    return;
  } else if (n == L"text") { text_ = value; layout = SizedByText(); }
  else if (n == L"textid" || n == L"resourcetext") textId_ = value;
  else if (n == L"tooltip") tooltip_ = value;
  else if (n == L"userdata") userData_ = value;
  else if (n == L"visible") { visible_ = ToBool(value); layout = true; }
  else if (n == L"enabled") enabled_ = ToBool(value);
  else if (n == L"mouse") mouseEnabled_ = ToBool(value);
  else if (n == L"bkcolor") bkColor_ = ToColor(value);
  else if (n == L"hotbkcolor") hotBkColor_ = ToColor(value);
  else if (n == L"pushedbkcolor") pushedBkColor_ = ToColor(value);
  else if (n == L"disabledbkcolor") disabledBkColor_ = ToColor(value);
  else if (n == L"bordercolor") borderColor_ = ToColor(value);
  else if (n == L"bordersize") borderSize_ = ToInt(value);
  else if (n == L"borderround") borderRound_ = ToInt(value);
  else if (n == L"textcolor") textColor_ = ToColor(value);
  else if (n == L"hottextcolor") hotTextColor_ = ToColor(value);
  else if (n == L"pushedtextcolor") pushedTextColor_ = ToColor(value);
  else if (n == L"disabledtextcolor") disabledTextColor_ = ToColor(value);
  else if (n == L"normalimage") MutableImages().normal = ToImage(value);
  else if (n == L"hotimage") MutableImages().hot = ToImage(value);
  else if (n == L"pushedimage") MutableImages().pushed = ToImage(value);
  else if (n == L"disabledimage") MutableImages().disabled = ToImage(value);
  else if (n == L"bkimage") MutableImages().bk = ToImage(value);
  else if (n == L"font") { font_ = ToInt(value); layout = true; }
  else if (n == L"align") {
    textStyle_ &= ~(kDtCenter | kDtRight);
    if (value == L"center") textStyle_ |= kDtCenter;
    else if (value == L"right") textStyle_ |= kDtRight;
  } else if (n == L"valign") {
    textStyle_ &= ~(kDtVCenter | kDtBottom);
    if (value == L"center" || value == L"vcenter") textStyle_ |= kDtVCenter;
    else if (value == L"bottom") textStyle_ |= kDtBottom;
  } else if (n == L"wordbreak") {
    if (ToBool(value)) textStyle_ = (textStyle_ | kDtWordBreak) & ~kDtSingleLine;
    else textStyle_ = (textStyle_ & ~kDtWordBreak) | kDtSingleLine;
  } else if (n == L"endellipsis") {
    textStyle_ = ToBool(value) ? (textStyle_ | kDtEndEllipsis) : (textStyle_ & ~kDtEndEllipsis);
  } else if (n == L"textpadding") textPadding_ = ToRect(value);
  else if (n == L"width") { fixedWidth_ = std::max(ToInt(value), 0); layout = true; }
  else if (n == L"height") { fixedHeight_ = std::max(ToInt(value), 0); layout = true; }
  else if (n == L"minwidth") { minWidth_ = std::max(ToInt(value), 0); layout = true; }
  else if (n == L"maxwidth") { maxWidth_ = std::max(ToInt(value), 0); layout = true; }
  else if (n == L"minheight") { minHeight_ = std::max(ToInt(value), 0); layout = true; }
  else if (n == L"padding") { padding_ = ToRect(value); layout = true; }
  else if (n == L"style" && manager_) {
    auto list = manager_->GetStyle(value);
    if (!list.empty()) ApplyAttributeList(list);
    return;
  } else return;
  ++revision_;
  if (layout) NeedParentUpdate();
  else Invalidate();
}

void CControlUI::ApplyAttributeList(const std::wstring& list) {
  auto lock = Lock(manager_);
  std::size_t i = 0;
  const std::size_t n = list.size();
  while (i < n) {
    while (i < n && (list[i] == L' ' || list[i] == L'\t' || list[i] == L'\n' || list[i] == L'\r')) ++i;
    if (i >= n) break;
    auto eq = list.find(L'=', i);
    if (eq == std::wstring::npos) break;
    std::wstring name = list.substr(i, eq - i);
    while (!name.empty() && name.back() == L' ') name.pop_back();
    i = eq + 1;
    while (i < n && list[i] == L' ') ++i;
    std::wstring value;
    if (i < n && list[i] == L'"') {
      auto end = list.find(L'"', i + 1);
      if (end == std::wstring::npos) end = n;
      value = list.substr(i + 1, end - i - 1);
      i = end + 1;
    } else {
      // Unquoted: runs to the next blank.
      auto end = list.find(L' ', i);
      if (end == std::wstring::npos) end = n;
      value = list.substr(i, end - i);
      i = end;
    }
    SetAttribute(name, value);
  }
}

void CControlUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
  manager_ = manager;
  parent_ = parent;
}

CControlUI* CControlUI::FindControlAt(Point p) {
  if (!visible_ || !pos_.Contains(p)) return nullptr;
  return mouseEnabled_ ? this : nullptr;
}

bool CControlUI::Visit(const std::function<bool(CControlUI&)>& visitor) { return visitor(*this); }

CControlUI* CControlUI::FindSubControl(const std::wstring& name) {
  CControlUI* found = nullptr;
  Visit([&](CControlUI& c) {
    if (&c != this && c.GetName() == name) {
      found = &c;
      return false;
    }
    return true;
  });
  return found;
}

void CControlUI::Activate() {}

void CControlUI::SetHot(bool hot) {
  if (hot_ == hot) return;
  hot_ = hot;
  Changed();
}

void CControlUI::SetPushed(bool pushed) {
  if (pushed_ == pushed) return;
  pushed_ = pushed;
  Changed();
}

void CControlUI::SetFocusedState(bool focused) {
  if (focused_ == focused) return;
  focused_ = focused;
  Changed();
}

void CControlUI::Invalidate() {
  if (manager_) manager_->ControlChanged(this, false);
}

void CControlUI::NeedParentUpdate() {
  if (manager_) {
    manager_->NeedUpdate();
    manager_->ControlChanged(this, true);
  }
}

// -------------------------------------------------------------- CContainerUI

bool CContainerUI::Add(CControlUI* control) { return AddAt(control, GetCount()); }

bool CContainerUI::AddAt(CControlUI* control, int index) {
  if (!control) return false;
  auto lock = Lock(manager_);
  if (index < 0 || index > GetCount()) {
    delete control;
    return false;
  }
  items_.insert(items_.begin() + index, std::unique_ptr<CControlUI>(control));
  control->SetManager(manager_, this);
  if (manager_) manager_->InitControls(control);
  NeedParentUpdate();
  return true;
}

bool CContainerUI::RemoveAt(int index) {
  auto lock = Lock(manager_);
  if (index < 0 || index >= GetCount()) return false;
  if (manager_) manager_->ReapControls(items_[index].get());
  items_.erase(items_.begin() + index);
  NeedParentUpdate();
  return true;
}

bool CContainerUI::Remove(CControlUI* control) {
  int i = GetItemIndex(control);
  return i >= 0 && RemoveAt(i);
}

void CContainerUI::RemoveAll() {
  auto lock = Lock(manager_);
  // Emptying an empty container changes nothing on screen: no relayout, no
  // repaint (the status lists empty theirs on every poll while nothing is
  // unsynced or failed).
  if (items_.empty()) return;
  while (!items_.empty()) {
    if (manager_) manager_->ReapControls(items_.back().get());
    items_.pop_back();
  }
  NeedParentUpdate();
}

CControlUI* CContainerUI::GetItemAt(int index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return items_[index].get();
}

int CContainerUI::GetItemIndex(const CControlUI* control) const {
  for (int i = 0; i < GetCount(); ++i) {
    if (items_[i].get() == control) return i;
  }
  return -1;
}

void CContainerUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  auto n = AsciiLower(name);
  if (n == L"inset") {
    inset_ = ToRect(value);
    NeedParentUpdate();
  } else if (n == L"childpadding") {
    childPadding_ = ToInt(value);
    NeedParentUpdate();
  } else {
    CControlUI::SetAttribute(name, value);
  }
}

void CContainerUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
  CControlUI::SetManager(manager, parent);
  for (auto& c : items_) c->SetManager(manager, this);
}

Rect CContainerUI::ClientRect() const {
  int s = manager_ ? manager_->GetDPIObj()->GetScale() : 100;
  Rect r = pos_;
  r.left += inset_.left * s / 100;
  r.top += inset_.top * s / 100;
  r.right -= inset_.right * s / 100;
  r.bottom -= inset_.bottom * s / 100;
  return r;
}

void CContainerUI::SetPos(const Rect& r) {
  CControlUI::SetPos(r);
  LayoutChildren(ClientRect());
}

void CContainerUI::LayoutChildren(const Rect& client) {
  // A plain container stacks its children on top of each other.
  int s = manager_ ? manager_->GetDPIObj()->GetScale() : 100;
  for (auto& c : items_) {
    if (!c->IsVisible()) continue;
    Rect pad = c->GetPadding();
    Rect r{client.left + pad.left * s / 100, client.top + pad.top * s / 100, client.right - pad.right * s / 100,
           client.bottom - pad.bottom * s / 100};
    Size want = c->EstimateSize({r.Width(), r.Height()});
    if (c->GetFixedWidth() > 0) r.right = r.left + want.cx;
    if (c->GetFixedHeight() > 0) r.bottom = r.top + want.cy;
    c->SetPos(r);
  }
}

CControlUI* CContainerUI::FindControlAt(Point p) {
  if (!visible_ || !pos_.Contains(p)) return nullptr;
  for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
    if (auto* hit = (*it)->FindControlAt(p)) return hit;
  }
  return mouseEnabled_ ? this : nullptr;
}

bool CContainerUI::Visit(const std::function<bool(CControlUI&)>& visitor) {
  if (!visitor(*this)) return false;
  for (auto& c : items_) {
    if (!c->Visit(visitor)) return false;
  }
  return true;
}

// --------------------------------------------------- vertical and horizontal

namespace {

// Shares `total` between children along one axis: fixed sizes first, the
// rest evenly among the auto-sized ones, respecting their minimum sizes.
struct AxisItem {
  CControlUI* control;
  int fixed;     // scaled, 0 = auto
  int minimum;   // scaled
  int before;    // padding before (scaled)
  int after;     // padding after (scaled)
  int size = 0;
};

void ShareAxis(std::vector<AxisItem>& items, int total, int childPadding) {
  int used = 0;
  int autos = 0;
  for (auto& it : items) {
    used += it.before + it.after;
    if (it.fixed > 0) used += std::max(it.fixed, it.minimum);
    else ++autos;
  }
  if (!items.empty()) used += childPadding * static_cast<int>(items.size() - 1);
  int rest = std::max(total - used, 0);
  // Auto items below their minimum take the minimum and leave the share.
  std::vector<bool> pinned(items.size(), false);
  bool changed = true;
  while (changed && autos > 0) {
    changed = false;
    int share = rest / autos;
    for (std::size_t i = 0; i < items.size(); ++i) {
      auto& it = items[i];
      if (it.fixed > 0 || pinned[i]) continue;
      if (it.minimum > share) {
        pinned[i] = true;
        it.size = it.minimum;
        rest = std::max(rest - it.minimum, 0);
        --autos;
        changed = true;
      }
    }
  }
  int share = autos > 0 ? rest / autos : 0;
  int remainder = autos > 0 ? rest - share * autos : 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    auto& it = items[i];
    if (it.fixed > 0) it.size = std::max(it.fixed, it.minimum);
    else if (!pinned[i]) {
      it.size = share;
      if (remainder > 0) {
        // The last auto item takes the rounding remainder.
        bool lastAuto = true;
        for (std::size_t j = i + 1; j < items.size(); ++j) {
          if (items[j].fixed == 0 && !pinned[j]) lastAuto = false;
        }
        if (lastAuto) it.size += remainder;
      }
    }
  }
}

}  // namespace

void CVerticalLayoutUI::LayoutChildren(const Rect& client) {
  int s = manager_ ? manager_->GetDPIObj()->GetScale() : 100;
  std::vector<AxisItem> items;
  for (auto& c : items_) {
    if (!c->IsVisible()) {
      continue;
    }
    Rect pad = c->GetPadding();
    int fixed = c->GetFixedHeight() * s / 100;
    items.push_back({c.get(), fixed, c->GetMinHeight() * s / 100, pad.top * s / 100, pad.bottom * s / 100});
  }
  ShareAxis(items, client.Height(), childPadding_ * s / 100);
  int y = client.top;
  for (auto& it : items) {
    Rect pad = it.control->GetPadding();
    y += it.before;
    Rect r{client.left + pad.left * s / 100, y, client.right - pad.right * s / 100, y + it.size};
    if (it.control->GetFixedWidth() > 0) r.right = r.left + it.control->GetFixedWidth() * s / 100;
    it.control->SetPos(r);
    y += it.size + it.after + childPadding_ * s / 100;
  }
}

Size CVerticalLayoutUI::EstimateSize(Size available) const {
  int s = manager_ ? manager_->GetDPIObj()->GetScale() : 100;
  if (fixedHeight_ > 0 || fixedWidth_ > 0) return CControlUI::EstimateSize(available);
  int h = (inset_.top + inset_.bottom) * s / 100;
  for (auto& c : items_) {
    if (!c->IsVisible()) continue;
    h += c->GetFixedHeight() * s / 100 + (c->GetPadding().top + c->GetPadding().bottom) * s / 100 + childPadding_ * s / 100;
  }
  return Size{0, h};
}

void CHorizontalLayoutUI::LayoutChildren(const Rect& client) {
  int s = manager_ ? manager_->GetDPIObj()->GetScale() : 100;
  std::vector<AxisItem> items;
  for (auto& c : items_) {
    if (!c->IsVisible()) continue;
    Rect pad = c->GetPadding();
    int fixed = c->GetFixedWidth() * s / 100;
    if (fixed == 0) {
      if (auto* label = dynamic_cast<CLabelUI*>(c.get()); label && label->IsAutoCalcWidth()) {
        fixed = label->EstimateSize({client.Width(), client.Height()}).cx;
      }
    }
    items.push_back({c.get(), fixed, c->GetMinWidth() * s / 100, pad.left * s / 100, pad.right * s / 100});
  }
  ShareAxis(items, client.Width(), childPadding_ * s / 100);
  int x = client.left;
  for (auto& it : items) {
    Rect pad = it.control->GetPadding();
    x += it.before;
    Rect r{x, client.top + pad.top * s / 100, x + it.size, client.bottom - pad.bottom * s / 100};
    if (it.control->GetFixedHeight() > 0) r.bottom = r.top + it.control->GetFixedHeight() * s / 100;
    it.control->SetPos(r);
    x += it.size + it.after + childPadding_ * s / 100;
  }
}

Size CHorizontalLayoutUI::EstimateSize(Size available) const {
  int s = manager_ ? manager_->GetDPIObj()->GetScale() : 100;
  if (fixedHeight_ > 0 || fixedWidth_ > 0) return CControlUI::EstimateSize(available);
  int w = (inset_.left + inset_.right) * s / 100;
  for (auto& c : items_) {
    if (!c->IsVisible()) continue;
    w += c->GetFixedWidth() * s / 100 + (c->GetPadding().left + c->GetPadding().right) * s / 100 + childPadding_ * s / 100;
  }
  return Size{w, 0};
}

// -------------------------------------------------------------- CTabLayoutUI

bool CTabLayoutUI::Add(CControlUI* control) {
  if (!control) return false;
  control->SetAttribute(L"visible", GetCount() == current_ ? L"true" : L"false");
  return CContainerUI::Add(control);
}

bool CTabLayoutUI::SelectItem(int index) {
  auto lock = Lock(manager_);
  if (index < 0 || index >= GetCount()) return false;
  current_ = index;
  for (int i = 0; i < GetCount(); ++i) items_[i]->SetVisible(i == index);
  NeedParentUpdate();
  return true;
}

void CTabLayoutUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (AsciiLower(name) == L"selectedid") {
    current_ = ToInt(value);
    for (int i = 0; i < GetCount(); ++i) items_[i]->SetVisible(i == current_);
  } else {
    CContainerUI::SetAttribute(name, value);
  }
}

void CTabLayoutUI::LayoutChildren(const Rect& client) { CContainerUI::LayoutChildren(client); }

// ------------------------------------------------------------------- labels

Size CLabelUI::EstimateSize(Size available) const {
  Size fixed = CControlUI::EstimateSize(available);
  if (!autoWidth_ || !manager_) return fixed;
  Size text = manager_->MeasureText(text_, font_, textStyle_);
  int s = manager_->GetDPIObj()->GetScale();
  fixed.cx = text.cx + (textPadding_.left + textPadding_.right) * s / 100;
  return fixed;
}

void CLabelUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (AsciiLower(name) == L"autocalcwidth") {
    autoWidth_ = ToBool(value);
    NeedParentUpdate();
  } else {
    CControlUI::SetAttribute(name, value);
  }
}

CTextUI::CTextUI() { textStyle_ = kDtLeft | kDtWordBreak; }

CButtonUI::CButtonUI() { textStyle_ = kDtCenter | kDtVCenter | kDtSingleLine; }

void CButtonUI::Activate() {
  if (manager_) manager_->SendNotify(this, kEventClick);
}

// ------------------------------------------------------------------ options

void COptionUI::SetGroup(const std::wstring& group) {
  auto lock = Lock(manager_);
  group_ = group;
}

void COptionUI::Selected(bool selected, bool sendNotify) {
  auto lock = Lock(manager_);
  if (selected_ == selected) return;
  selected_ = selected;
  if (selected && !group_.empty() && manager_) {
    for (COptionUI* other : manager_->GetOptionGroup(group_)) {
      if (other != this && other->IsSelected()) other->Selected(false, sendNotify);
    }
  }
  Changed();
  if (sendNotify && manager_) manager_->SendNotify(this, kEventSelectChanged);
}

void COptionUI::Activate() {
  // The click goes out first, then the option selects itself, so a handler
  // that deselects the clicked option of a group sees it selected again.
  CButtonUI::Activate();
  if (!IsEnabled()) return;
  if (!group_.empty()) Selected(true);
  else Selected(!selected_);
}

void COptionUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  auto n = AsciiLower(name);
  if (n == L"group") group_ = value;
  else if (n == L"selected") Selected(ToBool(value), false);
  else if (n == L"selectedbkcolor") selectedBkColor_ = ToColor(value);
  else if (n == L"selectedtextcolor") selectedTextColor_ = ToColor(value);
  else if (n == L"selectedimage") selectedImage_ = ToImage(value);
  else {
    CButtonUI::SetAttribute(name, value);
    return;
  }
  Changed();
}

Color COptionUI::CurrentBkColor() const {
  if (selected_ && selectedBkColor_ && enabled_ && !pushed_) return selectedBkColor_;
  return CButtonUI::CurrentBkColor();
}

Color COptionUI::CurrentTextColor() const {
  if (selected_ && selectedTextColor_ && enabled_ && !pushed_) return selectedTextColor_;
  return CButtonUI::CurrentTextColor();
}

const ImageSpec* COptionUI::CurrentImage() const {
  if (selected_ && !selectedImage_.IsEmpty() && enabled_) return &selectedImage_;
  return CButtonUI::CurrentImage();
}

// --------------------------------------------------------------------- edit

CEditUI::CEditUI() { textStyle_ = kDtLeft | kDtVCenter | kDtSingleLine; }

void CEditUI::SetPasswordMode(bool on) {
  auto lock = Lock(manager_);
  password_ = on;
  Changed();
}

void CEditUI::SetReadOnly(bool on) {
  auto lock = Lock(manager_);
  readOnly_ = on;
  Changed();
}

void CEditUI::SetMaxChar(int n) {
  auto lock = Lock(manager_);
  maxChar_ = n;
  Changed();
}

void CEditUI::UserSetText(const std::wstring& text) {
  if (readOnly_) return;
  std::wstring cut = maxChar_ > 0 && static_cast<int>(text.size()) > maxChar_ ? text.substr(0, maxChar_) : text;
  if (cut == text_) return;
  SetText(cut);
  if (manager_) manager_->SendNotify(this, kEventTextChanged);
}

void CEditUI::SetPromptText(const std::wstring& text) {
  auto lock = Lock(manager_);
  if (promptText_ == text) return;
  promptText_ = text;
  Changed();
}

void CEditUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  auto n = AsciiLower(name);
  if (n == L"password") password_ = ToBool(value);
  else if (n == L"prompttext") promptText_ = value;
  else if (n == L"readonly") readOnly_ = ToBool(value);
  else if (n == L"maxchar") maxChar_ = ToInt(value);
  else {
    CLabelUI::SetAttribute(name, value);
    return;
  }
  Changed();
}

// ----------------------------------------------------------------- progress

CProgressUI::CProgressUI() { textStyle_ = kDtCenter | kDtVCenter | kDtSingleLine; }

void CProgressUI::SetValue(int value) {
  auto lock = Lock(manager_);
  const int clamped = std::clamp(value, min_, std::max(min_, max_));
  // The same value again (every status poll sets it) repaints nothing.
  if (clamped == value_) return;
  value_ = clamped;
  Changed();
}

void CProgressUI::SetMinValue(int v) {
  auto lock = Lock(manager_);
  min_ = v;
  Changed();
}

void CProgressUI::SetMaxValue(int v) {
  auto lock = Lock(manager_);
  max_ = v;
  Changed();
}

void CProgressUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  auto n = AsciiLower(name);
  if (n == L"min") min_ = ToInt(value);
  else if (n == L"max") max_ = ToInt(value);
  else if (n == L"value") value_ = ToInt(value);
  else if (n == L"forecolor") foreColor_ = ToColor(value);
  else {
    CLabelUI::SetAttribute(name, value);
    return;
  }
  Changed();
}

// -------------------------------------------------------------------- combo

bool CComboUI::SelectItem(int index, bool sendNotify) {
  auto lock = Lock(manager_);
  if (index < -1 || index >= GetCount()) return false;
  if (index == current_) return true;
  current_ = index;
  Changed();
  if (sendNotify && manager_) manager_->SendNotify(this, kEventItemSelect, static_cast<std::uintptr_t>(index));
  return true;
}

std::wstring CComboUI::GetCurText() const {
  if (auto* item = GetItemAt(current_)) return item->GetText();
  return text_;
}

CControlUI* CComboUI::FindControlAt(Point p) {
  // Items live in the drop-down, not in the window.
  return CControlUI::FindControlAt(p);
}

// --------------------------------------------------------------------- list

void CListContainerElementUI::SetSelectedState(bool s) {
  if (selected_ == s) return;
  selected_ = s;
  Changed();
}

Color CListContainerElementUI::CurrentBkColor() const {
  if (selected_) {
    if (auto* list = dynamic_cast<CListUI*>(parent_); list && list->GetSelectedBkColor()) return list->GetSelectedBkColor();
  }
  if (hot_) {
    if (auto* list = dynamic_cast<CListUI*>(parent_); list && list->GetHotItemBkColor()) return list->GetHotItemBkColor();
  }
  return CHorizontalLayoutUI::CurrentBkColor();
}

CListUI::CListUI() : header_(std::make_unique<CListHeaderUI>()) {}

void CListUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
  CVerticalLayoutUI::SetManager(manager, parent);
  header_->SetManager(manager, this);
}

bool CListUI::Add(CControlUI* control) { return AddAt(control, GetCount()); }

bool CListUI::AddAt(CControlUI* control, int index) {
  if (!control) return false;
  // A header given in the skin becomes the list's header.
  if (auto* header = dynamic_cast<CListHeaderUI*>(control)) {
    auto lock = Lock(manager_);
    if (manager_) manager_->ReapControls(header_.get());
    header_.reset(header);
    header_->SetManager(manager_, this);
    if (manager_) manager_->InitControls(header_.get());
    NeedParentUpdate();
    return true;
  }
  if (!CVerticalLayoutUI::AddAt(control, index)) return false;
  Renumber(index);
  return true;
}

bool CListUI::RemoveAt(int index) {
  auto lock = Lock(manager_);
  if (!CVerticalLayoutUI::RemoveAt(index)) return false;
  if (current_ == index) current_ = -1;
  else if (current_ > index) --current_;
  Renumber(index);
  return true;
}

void CListUI::RemoveAll() {
  auto lock = Lock(manager_);
  CVerticalLayoutUI::RemoveAll();
  current_ = -1;
}

void CListUI::Renumber(int from) {
  for (int i = std::max(from, 0); i < GetCount(); ++i) {
    if (auto* row = dynamic_cast<CListContainerElementUI*>(items_[i].get())) row->SetIndex(i);
  }
}

bool CListUI::SelectItem(int index, bool sendNotify) {
  auto lock = Lock(manager_);
  if (index < -1 || index >= GetCount()) return false;
  if (index == current_) return true;
  if (auto* old = dynamic_cast<CListContainerElementUI*>(GetItemAt(current_))) old->SetSelectedState(false);
  current_ = index;
  if (auto* row = dynamic_cast<CListContainerElementUI*>(GetItemAt(index))) row->SetSelectedState(true);
  if (sendNotify && manager_) manager_->SendNotify(this, kEventItemSelect, static_cast<std::uintptr_t>(index));
  return true;
}

void CListUI::ActivateRow(int index) {
  if (auto* row = GetItemAt(index); row && manager_) manager_->SendNotify(row, kEventItemDbClick, static_cast<std::uintptr_t>(index));
}

void CListUI::SetScrollOffset(int y) {
  auto lock = Lock(manager_);
  int s = manager_ ? manager_->GetDPIObj()->GetScale() : 100;
  int content = GetCount() * itemHeight_ * s / 100;
  scroll_ = std::clamp(y, 0, std::max(0, content - body_.Height()));
  LayoutChildren(ClientRect());
  Invalidate();
}

void CListUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  auto n = AsciiLower(name);
  if (n == L"itemheight") itemHeight_ = std::max(ToInt(value), 1);
  else if (n == L"itemselectedbkcolor") selectedBkColor_ = ToColor(value);
  else if (n == L"itemhotbkcolor") hotItemBkColor_ = ToColor(value);
  else if (n == L"header") header_->SetVisible(value != L"hidden" && value != L"false");
  else {
    CVerticalLayoutUI::SetAttribute(name, value);
    return;
  }
  NeedParentUpdate();
}

void CListUI::LayoutChildren(const Rect& client) {
  int s = manager_ ? manager_->GetDPIObj()->GetScale() : 100;
  Rect body = client;
  if (header_->IsVisible() && header_->GetCount() > 0) {
    int h = (header_->GetFixedHeight() > 0 ? header_->GetFixedHeight() : 24) * s / 100;
    header_->SetPos(Rect{client.left, client.top, client.right, client.top + h});
    body.top += h;
  } else {
    header_->SetPos(Rect{});
  }
  body_ = body;
  // Rows are as wide as the list; each row lays its cells out with the
  // header's column widths where the row has as many cells as columns.
  int y = body.top - scroll_;
  std::vector<int> columns;
  if (header_->IsVisible()) {
    for (int i = 0; i < header_->GetCount(); ++i) columns.push_back(header_->GetItemAt(i)->GetPos().Width());
  }
  for (auto& c : items_) {
    if (!c->IsVisible()) continue;
    int h = (c->GetFixedHeight() > 0 ? c->GetFixedHeight() : itemHeight_) * s / 100;
    c->SetPos(Rect{body.left, y, body.right, y + h});
    y += h;
  }
}

CControlUI* CListUI::FindControlAt(Point p) {
  if (!visible_ || !pos_.Contains(p)) return nullptr;
  if (auto* hit = header_->FindControlAt(p)) return hit;
  if (body_.Contains(p)) {
    for (auto& c : items_) {
      if (auto* hit = c->FindControlAt(p)) return hit;
    }
  }
  return mouseEnabled_ ? this : nullptr;
}

bool CListUI::Visit(const std::function<bool(CControlUI&)>& visitor) {
  if (!visitor(*this)) return false;
  if (!header_->Visit(visitor)) return false;
  for (auto& c : items_) {
    if (!c->Visit(visitor)) return false;
  }
  return true;
}

// --------------------------------------------------------------------- tree

CTreeNodeUI* CTreeNodeUI::GetChildNode(int index) const {
  if (index < 0 || index >= GetChildNodeCount()) return nullptr;
  return children_[index].get();
}

bool CTreeNodeUI::AddChildNode(CTreeNodeUI* node) {
  if (!node) return false;
  auto lock = Lock(manager_);
  children_.emplace_back(node);
  node->parentNode_ = this;
  node->SetManager(manager_, this);
  if (manager_) manager_->InitControls(node);
  NeedParentUpdate();
  return true;
}

bool CTreeNodeUI::RemoveChildNode(CTreeNodeUI* node) {
  auto lock = Lock(manager_);
  for (auto it = children_.begin(); it != children_.end(); ++it) {
    if (it->get() == node) {
      if (manager_) manager_->ReapControls(node);
      children_.erase(it);
      NeedParentUpdate();
      return true;
    }
  }
  return false;
}

int CTreeNodeUI::GetDepth() const {
  int d = 0;
  for (auto* p = parentNode_; p; p = p->parentNode_) ++d;
  return d;
}

void CTreeNodeUI::SetExpanded(bool expanded) {
  auto lock = Lock(manager_);
  if (expanded_ == expanded) return;
  expanded_ = expanded;
  ++revision_;
  NeedParentUpdate();
}

void CTreeCheckBoxUI::Selected(bool selected, bool sendNotify) {
  auto lock = Lock(manager_);
  COptionUI::Selected(selected, sendNotify);
  node_.SetDescendantChecks(selected);
}

CTreeNodeUI::CTreeNodeUI() : checkBox_(std::make_unique<CTreeCheckBoxUI>(*this)) {
  checkBox_->SetManager(nullptr, this);
}

void CTreeNodeUI::SetDescendantChecks(bool check) {
  for (auto& c : children_) {
    c->checkBox_->SetOwnState(check);
    c->SetDescendantChecks(check);
  }
}

void CTreeNodeUI::Activate() {
  if (manager_) manager_->SendNotify(this, kEventClick);
}

void CTreeNodeUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  auto n = AsciiLower(name);
  if (n == L"checked") SetCheck(ToBool(value), false);
  else if (n == L"expanded") expanded_ = ToBool(value);
  else if (n == L"checkboxvisible") checkBox_->SetVisible(ToBool(value));
  else if (n == L"checkboxattr" || n == L"checkboxattributes") {
    checkBox_->ApplyAttributeList(value);
    return;
  } else {
    CLabelUI::SetAttribute(name, value);
    return;
  }
  NeedParentUpdate();
}

void CTreeNodeUI::SetPos(const Rect& r) {
  CLabelUI::SetPos(r);
  if (r.IsEmpty()) {
    checkBox_->SetPos(Rect{});
    return;
  }
  int s = manager_ ? manager_->GetDPIObj()->GetScale() : 100;
  Rect pad = checkBox_->GetPadding();
  int box = 14 * s / 100;
  int left = r.left + (4 + pad.left) * s / 100;
  int top = r.top + (r.Height() - box) / 2 + (pad.top - pad.bottom) * s / 100;
  checkBox_->SetPos(Rect{left, top, left + box, top + box});
}

int CTreeNodeUI::TextLeft() const {
  if (!checkBox_->IsVisible()) return pos_.left + (manager_ ? manager_->Scale(4) : 4);
  return checkBox_->GetPos().right + (manager_ ? manager_->Scale(6) : 6);
}

void CTreeNodeUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
  CLabelUI::SetManager(manager, parent);
  checkBox_->SetManager(manager, this);
  for (auto& c : children_) c->SetManager(manager, this);
}

bool CTreeNodeUI::Visit(const std::function<bool(CControlUI&)>& visitor) {
  if (!visitor(*this)) return false;
  if (!checkBox_->Visit(visitor)) return false;
  for (auto& c : children_) {
    if (!c->Visit(visitor)) return false;
  }
  return true;
}

void CTreeNodeUI::CollectShown(std::vector<CTreeNodeUI*>& out) {
  if (!visible_) return;
  out.push_back(this);
  if (!expanded_) return;
  for (auto& c : children_) c->CollectShown(out);
}

bool CTreeViewUI::AddRoot(CTreeNodeUI* node) { return Add(node); }

CTreeNodeUI* CTreeViewUI::GetRoot(int index) const { return dynamic_cast<CTreeNodeUI*>(GetItemAt(index)); }

std::vector<CTreeNodeUI*> CTreeViewUI::ShownNodes() {
  std::vector<CTreeNodeUI*> out;
  for (auto& c : items_) {
    if (auto* node = dynamic_cast<CTreeNodeUI*>(c.get())) node->CollectShown(out);
  }
  return out;
}

void CTreeViewUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  auto n = AsciiLower(name);
  if (n == L"itemheight") itemHeight_ = std::max(ToInt(value), 1);
  else if (n == L"indent") indent_ = ToInt(value);
  else {
    CVerticalLayoutUI::SetAttribute(name, value);
    return;
  }
  NeedParentUpdate();
}

void CTreeViewUI::LayoutChildren(const Rect& client) {
  int s = manager_ ? manager_->GetDPIObj()->GetScale() : 100;
  // Hidden (collapsed) nodes get an empty position so they are never hit.
  for (auto& c : items_) {
    c->Visit([](CControlUI& n) {
      n.SetPos(Rect{});
      return true;
    });
  }
  const auto shown = ShownNodes();
  // The offset may have been set for more nodes than are shown now.
  const int most = std::max(0, static_cast<int>(shown.size()) * itemHeight_ - client.Height() * 100 / std::max(s, 1));
  scroll_ = std::clamp(scroll_, 0, most);
  int h = itemHeight_ * s / 100;
  int y = client.top - scroll_ * s / 100;
  for (auto* node : shown) {
    // Nodes scrolled out of view stay without room: neither painted nor hit.
    if (y + h > client.top && y < client.bottom) {
      node->SetPos(Rect{client.left + node->GetDepth() * indent_ * s / 100, y, client.right, y + h});
    }
    y += h;
  }
}

void CTreeViewUI::SetScrollOffset(int y) {
  auto lock = Lock(manager_);
  const int most = std::max(0, GetContentHeight() - GetViewHeight());
  y = std::clamp(y, 0, most);
  if (y == scroll_) return;
  scroll_ = y;
  ++revision_;
  NeedParentUpdate();
}

int CTreeViewUI::GetContentHeight() { return static_cast<int>(ShownNodes().size()) * itemHeight_; }

int CTreeViewUI::GetViewHeight() const {
  const int s = manager_ ? manager_->GetDPIObj()->GetScale() : 100;
  return (pos_.Height() - inset_.top * s / 100 - inset_.bottom * s / 100) * 100 / std::max(s, 1);
}

void CTreeViewUI::EnsureVisible(CTreeNodeUI* node) {
  auto lock = Lock(manager_);
  const auto shown = ShownNodes();
  const auto it = std::find(shown.begin(), shown.end(), node);
  if (it == shown.end()) return;
  const int top = static_cast<int>(it - shown.begin()) * itemHeight_;
  const int view = GetViewHeight();
  if (top < scroll_) {
    SetScrollOffset(top);
  } else if (top + itemHeight_ > scroll_ + view) {
    SetScrollOffset(top + itemHeight_ - view);
  }
}

CControlUI* CTreeViewUI::FindControlAt(Point p) {
  if (!visible_ || !pos_.Contains(p)) return nullptr;
  for (auto* node : ShownNodes()) {
    if (!node->GetPos().Contains(p)) continue;
    CControlUI* box = node->GetCheckBox();
    if (box->IsVisible() && box->IsMouseEnabled() && box->GetPos().Contains(p)) return box;
    if (node->IsMouseEnabled()) return node;
  }
  return mouseEnabled_ ? this : nullptr;
}

}  // namespace orlin::dui
