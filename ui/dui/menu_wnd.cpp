#include "ui/dui/menu_wnd.h"

#include <algorithm>

#include "common/text.h"

namespace orlin::dui {

namespace {

void CopyWide(wchar_t* field, std::size_t width, const std::wstring& text) {
  std::size_t n = std::min(text.size(), width - 1);
  std::copy_n(text.data(), n, field);
  field[n] = L'\0';
}

}  // namespace

bool CMenuUI::AddAt(CControlUI* control, int index) {
  // Items made in code take the skin's defaults for their class first; what
  // the code already set (name, text, icon) is not among them.
  if (control && manager_) {
    auto defaults = manager_->GetDefaultAttributeList(control->GetClass());
    if (!defaults.empty()) control->ApplyAttributeList(defaults);
  }
  if (control && !control->GetTextId().empty()) {
    if (auto text = CResourceManager::GetInstance().QueryText(control->GetTextId(), control->GetClass())) {
      control->SetText(*text);
    }
  }
  return CVerticalLayoutUI::AddAt(control, index);
}

CMenuElementUI::CMenuElementUI() {
  textStyle_ = kDtLeft | kDtVCenter | kDtSingleLine;
  fixedHeight_ = 30;
}

void CMenuElementUI::SetIcon(const std::wstring& file, Size size) {
  auto lock = manager_ ? manager_->ModelLock() : std::unique_lock<std::recursive_mutex>();
  icon_ = file;
  iconSize_ = size;
  Changed();
}

void CMenuElementUI::SetChecked(bool checked) {
  auto lock = manager_ ? manager_->ModelLock() : std::unique_lock<std::recursive_mutex>();
  checked_ = checked;
  Changed();
}

void CMenuElementUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  auto n = AsciiLower(name);
  if (n == L"icon") icon_ = value;
  else if (n == L"iconsize") {
    auto s = ParseSize(WideToUtf8(value));
    iconSize_ = s;
  } else if (n == L"checked") checked_ = ParseBool(WideToUtf8(value));
  else {
    CButtonUI::SetAttribute(name, value);
    return;
  }
  Changed();
}

bool CMenuWnd::Init(CMenuElementUI*, const std::wstring& skin, Point point, CPaintManagerUI* owner,
                    std::map<std::wstring, bool>*, unsigned alignment) {
  skin_ = skin;
  point_ = point;
  alignment_ = alignment;
  target_ = owner ? owner->GetMessageTarget() : nullptr;
  if (owner) pm_.SetDPI(owner->GetDPIObj()->GetDPI());
  if (!Create(nullptr, L"menu", kWsPopup, kWsExTopmost)) return false;
  ResizeMenu();
  return true;
}

CMenuUI* CMenuWnd::GetMenuUI() {
  CMenuUI* menu = nullptr;
  if (auto* root = pm_.GetRoot()) {
    root->Visit([&](CControlUI& c) {
      menu = dynamic_cast<CMenuUI*>(&c);
      return menu == nullptr;
    });
  }
  return menu;
}

void CMenuWnd::ResizeMenu() {
  auto lock = pm_.ModelLock();
  CControlUI* root = pm_.GetRoot();
  if (!root || !GetHWND()) return;
  int width = pm_.Scale(pm_.GetInitSize().cx);
  int height = pm_.Scale(pm_.GetInitSize().cy);
  if (CMenuUI* menu = GetMenuUI()) {
    // The menu is as tall as its items and wide enough for the widest text.
    int h = 0, widest = 0;
    for (int i = 0; i < menu->GetCount(); ++i) {
      CControlUI* item = menu->GetItemAt(i);
      if (!item->IsVisible()) continue;
      h += pm_.Scale(item->GetFixedHeight() > 0 ? item->GetFixedHeight() : 30);
      Size text = pm_.MeasureText(item->GetText(), item->GetFont(), item->GetTextStyle());
      Rect tp = item->GetTextPadding();
      widest = std::max(widest, text.cx + pm_.Scale(tp.left + tp.right));
    }
    Rect inset = menu->GetInset();
    Rect rootInset = root->AsContainer() ? root->AsContainer()->GetInset() : Rect{};
    height = h + pm_.Scale(inset.top + inset.bottom + rootInset.top + rootInset.bottom);
    width = std::max(width, widest + pm_.Scale(inset.left + inset.right + rootInset.left + rootInset.right));
  }
  int left = (alignment_ & kAlignRight) ? point_.x - width : point_.x;
  int top = (alignment_ & kAlignBottom) ? point_.y - height : point_.y;
  Rect area = GetHWND()->GetWorkArea();
  left = std::clamp(left, area.left, std::max(area.left, area.right - width));
  top = std::clamp(top, area.top, std::max(area.top, area.bottom - height));
  pm_.SetClientSize(Size{width, height});
  GetHWND()->SetRect(Rect{left, top, left + width, top + height});
  ShowWindow(true, true);
}

void CMenuWnd::Notify(TNotifyUI& msg) {
  if (msg.sType != kEventClick) return;
  auto* element = dynamic_cast<CMenuElementUI*>(msg.pSender);
  if (!element) return;
  auto* cmd = new MenuCmd{};
  CopyWide(cmd->szName, 256, element->GetName());
  CopyWide(cmd->szUserData, 1024, element->GetUserData());
  CopyWide(cmd->szText, 1024, element->GetText());
  cmd->bChecked = element->GetChecked() ? 1 : 0;
  OwnerWindow* target = target_;
  Close(0);
  if (target) target->Post(kWmMenuCommand, reinterpret_cast<std::uintptr_t>(cmd), 0);
  else delete cmd;
}

CMenuElementUI* CMenuWnd::NewTextIdElement(const std::wstring& name, const std::wstring& textId,
                                           const std::wstring& icon, Size iconSize) {
  auto* e = new CMenuElementUI;
  e->SetName(name);
  e->SetTextId(textId);
  e->SetText(textId);
  e->SetIcon(icon, iconSize);
  return e;
}

CMenuElementUI* CMenuWnd::NewTextElement(const std::wstring& name, const std::wstring& text) {
  auto* e = new CMenuElementUI;
  e->SetName(name);
  e->SetText(text);
  return e;
}

}  // namespace orlin::dui
