#pragma once
// Popup menus built from a menu skin ("menu.xml"). The skin holds a <Menu>
// container; the owner adds CMenuElementUI items to it and resizes the menu.
// A click on an item closes the menu and posts WM_USER+3 to the owner's
// window with a new MenuCmd in wParam, which the receiver releases with
// CPaintManagerUI::DeletePtr.

#include <map>
#include <string>

#include "ui/dui/window_impl_base.h"

namespace orlin::dui {

class CMenuUI : public CVerticalLayoutUI {
 public:
  std::wstring GetClass() const override { return L"Menu"; }
  // Items with a text id take their text from the current text provider.
  bool AddAt(CControlUI* control, int index) override;
};

class CMenuElementUI : public CButtonUI {
 public:
  CMenuElementUI();
  std::wstring GetClass() const override { return L"MenuElement"; }
  const std::wstring& GetIcon() const { return icon_; }
  Size GetIconSize() const { return iconSize_; }
  void SetIcon(const std::wstring& file, Size size);
  bool GetChecked() const { return checked_; }
  void SetChecked(bool checked);
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;

 private:
  std::wstring icon_;
  Size iconSize_{16, 16};
  bool checked_ = false;
};

class CMenuWnd : public WindowImplBase {
 public:
  // Alignment flags of Init: which edge of the menu lies at the point.
  static constexpr unsigned kAlignLeft = 2;    // left edge: opens to the right
  static constexpr unsigned kAlignTop = 4;     // top edge: opens below
  static constexpr unsigned kAlignRight = 8;   // right edge: opens to the left
  static constexpr unsigned kAlignBottom = 16; // bottom edge: opens above

  std::wstring GetWindowClassName() const override { return L"MenuWnd"; }
  std::wstring GetSkinFile() override { return skin_; }
  void Notify(TNotifyUI& msg) override;

  // Builds and shows the menu at `point` (screen pixels); commands go to the
  // window of `owner`. Returns false when the skin cannot be read.
  bool Init(CMenuElementUI* ownerElement, const std::wstring& skin, Point point, CPaintManagerUI* owner,
            std::map<std::wstring, bool>* checks = nullptr, unsigned alignment = kAlignLeft | kAlignTop);
  // The skin's menu container, or null.
  CMenuUI* GetMenuUI();
  // Sizes the menu to its items and places it by the alignment.
  void ResizeMenu();

  // A resource-text element: its text comes from `textId` through the text
  // provider; `icon` is an image file below the resource path.
  static CMenuElementUI* NewTextIdElement(const std::wstring& name, const std::wstring& textId,
                                          const std::wstring& icon, Size iconSize);
  static CMenuElementUI* NewTextElement(const std::wstring& name, const std::wstring& text);

 private:
  std::wstring skin_;
  Point point_;
  unsigned alignment_ = kAlignLeft | kAlignTop;
  OwnerWindow* target_ = nullptr;
};

}  // namespace orlin::dui
