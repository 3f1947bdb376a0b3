#pragma once
// The control tree of a window. Controls hold what a window shows (text,
// colours, images, sizes, state) and lay themselves out; a backend shows them.
//
// Threads: windows change their controls from the UI thread and from their
// worker threads. Every change takes the owning window's model lock (see
// CPaintManagerUI::ModelLock), which the backend also takes while it reads the
// tree, so a backend never sees a half-made change.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/dui/ui_types.h"

namespace orlin::dui {

class CPaintManagerUI;
class CContainerUI;

class CControlUI {
 public:
  CControlUI();
  virtual ~CControlUI();
  CControlUI(const CControlUI&) = delete;
  CControlUI& operator=(const CControlUI&) = delete;

  // The skin's element name ("Button", "Label", ...).
  virtual std::wstring GetClass() const { return L"Control"; }
  virtual CContainerUI* AsContainer() { return nullptr; }

  const std::wstring& GetName() const { return name_; }
  void SetName(const std::wstring& name);

  const std::wstring& GetText() const { return text_; }
  virtual void SetText(const std::wstring& text);
  // The id whose text the current text provider supplies (ReloadText).
  const std::wstring& GetTextId() const { return textId_; }
  void SetTextId(const std::wstring& id);

  const std::wstring& GetToolTip() const { return tooltip_; }
  void SetToolTip(const std::wstring& tip);
  const std::wstring& GetUserData() const { return userData_; }
  void SetUserData(const std::wstring& data);
  std::uintptr_t GetTag() const { return tag_; }
  void SetTag(std::uintptr_t tag) { tag_ = tag; }

  bool IsVisible() const { return visible_; }
  virtual void SetVisible(bool visible);
  // Visible itself and all its ancestors.
  bool IsVisibleInTree() const;
  bool IsEnabled() const { return enabled_; }
  virtual void SetEnabled(bool enabled);
  bool IsMouseEnabled() const { return mouseEnabled_; }
  void SetMouseEnabled(bool enabled);
  bool IsHot() const { return hot_; }
  bool IsPushed() const { return pushed_; }
  bool IsFocused() const { return focused_; }

  Color GetBkColor() const { return bkColor_; }
  void SetBkColor(Color c);
  Color GetHotBkColor() const { return hotBkColor_; }
  Color GetPushedBkColor() const { return pushedBkColor_; }
  Color GetBorderColor() const { return borderColor_; }
  int GetBorderSize() const { return borderSize_; }
  int GetBorderRound() const { return borderRound_; }
  Color GetTextColor() const { return textColor_; }
  void SetTextColor(Color c);
  // What is painted now, after hot, pushed, selected and disabled states.
  virtual Color CurrentBkColor() const;
  virtual Color CurrentTextColor() const;
  virtual const ImageSpec* CurrentImage() const;
  const ImageSpec& GetNormalImage() const { return images_ ? images_->normal : kNoImage; }
  const ImageSpec& GetHotImage() const { return images_ ? images_->hot : kNoImage; }
  const ImageSpec& GetPushedImage() const { return images_ ? images_->pushed : kNoImage; }
  const ImageSpec& GetDisabledImage() const { return images_ ? images_->disabled : kNoImage; }
  const ImageSpec& GetBkImage() const { return images_ ? images_->bk : kNoImage; }

  int GetFont() const { return font_; }
  void SetFont(int index);
  unsigned GetTextStyle() const { return textStyle_; }
  void SetTextStyle(unsigned style);
  Rect GetTextPadding() const { return textPadding_; }

  // Layout inputs, in unscaled skin pixels; 0 means "share what is left".
  int GetFixedWidth() const { return fixedWidth_; }
  void SetFixedWidth(int cx);
  int GetFixedHeight() const { return fixedHeight_; }
  void SetFixedHeight(int cy);
  int GetMinWidth() const { return minWidth_; }
  void SetMinWidth(int cx);
  int GetMaxWidth() const { return maxWidth_; }
  int GetMinHeight() const { return minHeight_; }
  Rect GetPadding() const { return padding_; }
  void SetPadding(Rect r);

  // Position in window pixels (scaled), set by layout.
  const Rect& GetPos() const { return pos_; }
  virtual void SetPos(const Rect& r);
  // Wanted size for an available size; children of auto-sized rows ask this.
  virtual Size EstimateSize(Size available) const;
  // Whether the text decides the size (a new text lays the window out
  // again); otherwise a new text repaints the control alone.
  virtual bool SizedByText() const { return false; }

  // Attributes as the skin writes them; unknown names are ignored.
  virtual void SetAttribute(const std::wstring& name, const std::wstring& value);
  // name="value" pairs separated by blanks, as in skin files; values may be
  // wrapped in double quotes (attribute lists written in code) or not.
  void ApplyAttributeList(const std::wstring& list);

  CControlUI* GetParent() const { return parent_; }
  CPaintManagerUI* GetManager() const { return manager_; }
  virtual void SetManager(CPaintManagerUI* manager, CControlUI* parent);

  // Hit test: the deepest visible control at `p` (window pixels) that takes
  // the mouse, or null.
  virtual CControlUI* FindControlAt(Point p);
  // Depth-first visit of this control and its descendants; stops when the
  // visitor returns false.
  virtual bool Visit(const std::function<bool(CControlUI&)>& visitor);
  CControlUI* FindSubControl(const std::wstring& name);

  // What a left click does once pressed and released on the control.
  virtual void Activate();
  // Whether the control handles clicks at all (buttons and friends).
  virtual bool IsClickable() const { return false; }

  // Called by the paint manager.
  void SetHot(bool hot);
  void SetPushed(bool pushed);
  void SetFocusedState(bool focused);

  // Asks the backend to repaint (content) or to lay the window out again.
  void Invalidate();
  void NeedParentUpdate();

  // Counts every change: backends compare it to skip unchanged controls.
  unsigned long GetRevision() const { return revision_; }

 protected:
  void Changed() { ++revision_; Invalidate(); }

  std::wstring name_, text_, textId_, tooltip_, userData_;
  std::uintptr_t tag_ = 0;
  bool visible_ = true, enabled_ = true, mouseEnabled_ = true;
  bool hot_ = false, pushed_ = false, focused_ = false;
  Color bkColor_ = 0, hotBkColor_ = 0, pushedBkColor_ = 0, disabledBkColor_ = 0;
  Color borderColor_ = 0;
  int borderSize_ = 0, borderRound_ = 0;
  Color textColor_ = 0, hotTextColor_ = 0, pushedTextColor_ = 0, disabledTextColor_ = 0;
  // Most controls of a list row have no images: kept apart, made on first use.
  struct Images {
    ImageSpec normal, hot, pushed, disabled, bk;
  };
  Images& MutableImages();
  static const ImageSpec kNoImage;
  std::unique_ptr<Images> images_;
  int font_ = -1;
  unsigned textStyle_ = kDtLeft | kDtVCenter | kDtSingleLine;
  Rect textPadding_;
  int fixedWidth_ = 0, fixedHeight_ = 0, minWidth_ = 0, maxWidth_ = 0, minHeight_ = 0;
  Rect padding_;
  Rect pos_;
  CControlUI* parent_ = nullptr;
  CPaintManagerUI* manager_ = nullptr;
  unsigned long revision_ = 0;
};

class CContainerUI : public CControlUI {
 public:
  std::wstring GetClass() const override { return L"Container"; }
  CContainerUI* AsContainer() override { return this; }

  // Takes ownership.
  virtual bool Add(CControlUI* control);
  virtual bool AddAt(CControlUI* control, int index);
  virtual bool RemoveAt(int index);
  bool Remove(CControlUI* control);
  virtual void RemoveAll();
  int GetCount() const { return static_cast<int>(items_.size()); }
  CControlUI* GetItemAt(int index) const;
  int GetItemIndex(const CControlUI* control) const;

  Rect GetInset() const { return inset_; }
  int GetChildPadding() const { return childPadding_; }

  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void SetManager(CPaintManagerUI* manager, CControlUI* parent) override;
  void SetPos(const Rect& r) override;
  CControlUI* FindControlAt(Point p) override;
  bool Visit(const std::function<bool(CControlUI&)>& visitor) override;

 protected:
  // Lays the children out inside `client` (the position less the inset).
  virtual void LayoutChildren(const Rect& client);
  Rect ClientRect() const;

  std::vector<std::unique_ptr<CControlUI>> items_;
  Rect inset_;
  int childPadding_ = 0;
};

class CVerticalLayoutUI : public CContainerUI {
 public:
  std::wstring GetClass() const override { return L"VerticalLayout"; }
  Size EstimateSize(Size available) const override;

 protected:
  void LayoutChildren(const Rect& client) override;
};

class CHorizontalLayoutUI : public CContainerUI {
 public:
  std::wstring GetClass() const override { return L"HorizontalLayout"; }
  Size EstimateSize(Size available) const override;

 protected:
  void LayoutChildren(const Rect& client) override;
};

// Shows one child at a time.
class CTabLayoutUI : public CContainerUI {
 public:
  std::wstring GetClass() const override { return L"TabLayout"; }
  int GetCurSel() const { return current_; }
  bool SelectItem(int index);
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  bool Add(CControlUI* control) override;

 protected:
  void LayoutChildren(const Rect& client) override;

 private:
  int current_ = 0;
};

class CLabelUI : public CControlUI {
 public:
  std::wstring GetClass() const override { return L"Label"; }
  Size EstimateSize(Size available) const override;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  bool IsAutoCalcWidth() const { return autoWidth_; }
  bool SizedByText() const override { return autoWidth_; }

 private:
  bool autoWidth_ = false;
};

// A label that wraps its text over several lines.
class CTextUI : public CLabelUI {
 public:
  CTextUI();
  std::wstring GetClass() const override { return L"Text"; }
};

class CButtonUI : public CLabelUI {
 public:
  CButtonUI();
  std::wstring GetClass() const override { return L"Button"; }
  bool IsClickable() const override { return true; }
  void Activate() override;
};

// A button that stays selected; buttons of one group select each other out.
class COptionUI : public CButtonUI {
 public:
  std::wstring GetClass() const override { return L"Option"; }
  const std::wstring& GetGroup() const { return group_; }
  void SetGroup(const std::wstring& group);
  bool IsSelected() const { return selected_; }
  // Sends "selectchanged" when `sendNotify` and the state changed.
  virtual void Selected(bool selected, bool sendNotify = true);
  void Activate() override;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  Color CurrentBkColor() const override;
  Color CurrentTextColor() const override;
  const ImageSpec* CurrentImage() const override;
  const ImageSpec& GetSelectedImage() const { return selectedImage_; }

 private:
  std::wstring group_;
  bool selected_ = false;
  Color selectedBkColor_ = 0, selectedTextColor_ = 0;
  ImageSpec selectedImage_;
};

class CCheckBoxUI : public COptionUI {
 public:
  std::wstring GetClass() const override { return L"CheckBox"; }
  bool GetCheck() const { return IsSelected(); }
  void SetCheck(bool check, bool sendNotify = true) { Selected(check, sendNotify); }
};

class CEditUI : public CLabelUI {
 public:
  CEditUI();
  std::wstring GetClass() const override { return L"Edit"; }
  bool IsPasswordMode() const { return password_; }
  void SetPasswordMode(bool on);
  bool IsReadOnly() const { return readOnly_; }
  void SetReadOnly(bool on);
  int GetMaxChar() const { return maxChar_; }
  void SetMaxChar(int n);
  // The hint shown in the field while its text is empty ("prompttext"); it
  // is never the field's text.
  const std::wstring& GetPromptText() const { return promptText_; }
  void SetPromptText(const std::wstring& text);
  // Text typed by the user: sets the text and sends "textchanged".
  void UserSetText(const std::wstring& text);
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;

 private:
  bool password_ = false, readOnly_ = false;
  int maxChar_ = 255;
  std::wstring promptText_;
};

class CProgressUI : public CLabelUI {
 public:
  CProgressUI();
  std::wstring GetClass() const override { return L"Progress"; }
  int GetMinValue() const { return min_; }
  int GetMaxValue() const { return max_; }
  int GetValue() const { return value_; }
  void SetValue(int value);
  void SetMinValue(int v);
  void SetMaxValue(int v);
  Color GetForeColor() const { return foreColor_; }
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;

 private:
  int min_ = 0, max_ = 100, value_ = 0;
  Color foreColor_ = 0xFF4B74B4;
};

// A text row of a combo box.
class CListLabelElementUI : public CLabelUI {
 public:
  std::wstring GetClass() const override { return L"ListLabelElement"; }
};

class CComboUI : public CContainerUI {
 public:
  std::wstring GetClass() const override { return L"Combo"; }
  int GetCurSel() const { return current_; }
  // Sends "itemselect" when `sendNotify` and the selection changed.
  bool SelectItem(int index, bool sendNotify = true);
  // The current item's text (the combo's own text when nothing is selected).
  std::wstring GetCurText() const;
  CControlUI* FindControlAt(Point p) override;
  bool IsClickable() const override { return true; }

 protected:
  void LayoutChildren(const Rect&) override {}

 private:
  int current_ = -1;
};

class CListHeaderItemUI : public CLabelUI {
 public:
  std::wstring GetClass() const override { return L"ListHeaderItem"; }
};

class CListHeaderUI : public CHorizontalLayoutUI {
 public:
  std::wstring GetClass() const override { return L"ListHeader"; }
};

// One row of a list, built from an item template.
class CListContainerElementUI : public CHorizontalLayoutUI {
 public:
  std::wstring GetClass() const override { return L"ListContainerElement"; }
  int GetIndex() const { return index_; }
  void SetIndex(int index) { index_ = index; }
  bool IsSelected() const { return selected_; }
  void SetSelectedState(bool s);
  Color CurrentBkColor() const override;

 private:
  int index_ = -1;
  bool selected_ = false;
};

// A list: an optional header and rows. Rows are the list's items (GetCount,
// GetItemAt, Add, RemoveAt count rows only; the header is separate).
class CListUI : public CVerticalLayoutUI {
 public:
  CListUI();
  std::wstring GetClass() const override { return L"List"; }
  CListHeaderUI* GetHeader() const { return header_.get(); }
  bool Add(CControlUI* control) override;
  bool AddAt(CControlUI* control, int index) override;
  bool RemoveAt(int index) override;
  void RemoveAll() override;
  int GetCurSel() const { return current_; }
  // Sends "itemselect" when `sendNotify` and the selection changed.
  bool SelectItem(int index, bool sendNotify = true);
  // Double click on a row: "itemdbclick" with the row as sender.
  void ActivateRow(int index);
  int GetItemHeight() const { return itemHeight_; }
  int GetScrollOffset() const { return scroll_; }
  void SetScrollOffset(int y);
  Color GetSelectedBkColor() const { return selectedBkColor_; }
  Color GetHotItemBkColor() const { return hotItemBkColor_; }
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void SetManager(CPaintManagerUI* manager, CControlUI* parent) override;
  CControlUI* FindControlAt(Point p) override;
  bool Visit(const std::function<bool(CControlUI&)>& visitor) override;
  // Position of the rows' area (the list less the header).
  Rect GetBodyRect() const { return body_; }

 protected:
  void LayoutChildren(const Rect& client) override;

 private:
  void Renumber(int from);
  std::unique_ptr<CListHeaderUI> header_;
  int current_ = -1;
  int itemHeight_ = 24;
  int scroll_ = 0;
  Rect body_;
  Color selectedBkColor_ = 0xFFDCE6F4, hotItemBkColor_ = 0;
};

// A tree node with a check box. Checking a node checks or unchecks all of
// its descendants.
class CTreeNodeUI;

// The check box of a tree node. Checking or unchecking it (by a click or in
// code) sets the check boxes of all the node's descendants the same way.
class CTreeCheckBoxUI : public CCheckBoxUI {
 public:
  explicit CTreeCheckBoxUI(CTreeNodeUI& node) : node_(node) {}
  CTreeNodeUI& GetNode() const { return node_; }
  void Selected(bool selected, bool sendNotify = true) override;
  // Sets only this box.
  void SetOwnState(bool selected) { COptionUI::Selected(selected, false); }

 private:
  CTreeNodeUI& node_;
};

// A tree node: its text, its check box (found by point as a control of its
// own, whose parent is the node) and its child nodes.
class CTreeNodeUI : public CLabelUI {
 public:
  CTreeNodeUI();
  std::wstring GetClass() const override { return L"TreeNode"; }
  CTreeNodeUI* GetParentNode() const { return parentNode_; }
  int GetChildNodeCount() const { return static_cast<int>(children_.size()); }
  CTreeNodeUI* GetChildNode(int index) const;
  // Takes ownership.
  bool AddChildNode(CTreeNodeUI* node);
  bool RemoveChildNode(CTreeNodeUI* node);
  int GetDepth() const;
  bool IsExpanded() const { return expanded_; }
  void SetExpanded(bool expanded);
  CTreeCheckBoxUI* GetCheckBox() const { return checkBox_.get(); }
  bool GetCheck() const { return checkBox_->GetCheck(); }
  // Sets this node and every descendant; sends "selectchanged" from this
  // node's check box when `sendNotify` and its state changed.
  void SetCheck(bool check, bool sendNotify = true) { checkBox_->Selected(check, sendNotify); }
  bool IsCheckBoxVisible() const { return checkBox_->IsVisible(); }
  // A click on the node (outside its check box) sends "click".
  bool IsClickable() const override { return true; }
  void Activate() override;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void SetManager(CPaintManagerUI* manager, CControlUI* parent) override;
  void SetPos(const Rect& r) override;
  bool Visit(const std::function<bool(CControlUI&)>& visitor) override;
  // Nodes shown below this one (expanded descendants), in order.
  void CollectShown(std::vector<CTreeNodeUI*>& out);
  // Where the text starts, after the check box (window pixels).
  int TextLeft() const;

 private:
  friend class CTreeCheckBoxUI;
  void SetDescendantChecks(bool check);
  CTreeNodeUI* parentNode_ = nullptr;
  std::vector<std::unique_ptr<CTreeNodeUI>> children_;
  std::unique_ptr<CTreeCheckBoxUI> checkBox_;
  bool expanded_ = true;
};

class CTreeViewUI : public CVerticalLayoutUI {
 public:
  std::wstring GetClass() const override { return L"TreeView"; }
  // Top-level nodes; takes ownership.
  bool AddRoot(CTreeNodeUI* node);
  int GetRootCount() const { return GetCount(); }
  CTreeNodeUI* GetRoot(int index) const;
  std::vector<CTreeNodeUI*> ShownNodes();
  int GetItemHeight() const { return itemHeight_; }
  int GetIndent() const { return indent_; }
  // How far the nodes are scrolled up, in unscaled skin pixels. Kept between
  // 0 and what lets the last node show at the bottom.
  int GetScrollOffset() const { return scroll_; }
  void SetScrollOffset(int y);
  void ScrollBy(int dy) { SetScrollOffset(scroll_ + dy); }
  // Scrolls as little as needed for `node` (shown, that is with every folder
  // above it open) to lie wholly in view.
  void EnsureVisible(CTreeNodeUI* node);
  // The nodes' whole height against the height they have, in skin pixels.
  int GetContentHeight();
  int GetViewHeight() const;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  CControlUI* FindControlAt(Point p) override;

 protected:
  void LayoutChildren(const Rect& client) override;

 private:
  int itemHeight_ = 22, indent_ = 16;
  int scroll_ = 0;
};

}  // namespace orlin::dui
