#include "ui/dui/render_engine.h"

#include "ui/dui/missing_resources.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>

#include "common/text.h"
#include "ui/dui/controls.h"
#include "ui/dui/menu_wnd.h"
#include "ui/dui/paint_manager.h"

namespace orlin::dui {

namespace {

// Colours of the check boxes the pass draws itself (those without images).
constexpr Color kCheckAccent = 0xFF2F6FDE;
constexpr Color kCheckAccentDisabled = 0xFFA9BFE6;
constexpr Color kCheckFrame = 0xFF8A99AD;
constexpr Color kCheckMark = 0xFFFFFFFF;
constexpr Color kScrollThumb = 0x80707C88;

// A window still opens when an image of its skin is missing; the file is
// named once, so a broken install can be told from a broken skin.
void ReportMissingImage(const std::filesystem::path& file) {
  // In the system's own separators: skins name images with backslashes.
  std::filesystem::path shown = file;
  shown.make_preferred();
  ReportMissingResource("image missing or unreadable: " + WideToUtf8(WideFromPath(shown)));
}

RectF ToRectF(const Rect& r) {
  return RectF{static_cast<float>(r.left), static_cast<float>(r.top), static_cast<float>(r.right),
               static_cast<float>(r.bottom)};
}

// Half a pixel inside: a line of one pixel centred on that edge covers
// exactly the outermost pixels of the rectangle.
RectF Inset(const Rect& r) {
  return RectF{r.left + 0.5f, r.top + 0.5f, r.right - 0.5f, r.bottom - 0.5f};
}

void CollectNative(CControlUI& c, bool shown, CPaintManagerUI& pm, std::vector<NativeControlPlace>& out) {
  shown = shown && c.IsVisible() && !c.GetPos().IsEmpty();
  if (auto* edit = dynamic_cast<CEditUI*>(&c)) {
    const Rect tp = edit->GetTextPadding();
    const Rect r = edit->GetPos();
    const int border = pm.Scale(edit->GetBorderSize());
    out.push_back({edit, NativeControlKind::kEdit,
                   Rect{r.left + border + pm.Scale(tp.left), r.top + border, r.right - border - pm.Scale(tp.right),
                        r.bottom - border},
                   shown});
    return;
  }
  if (auto* combo = dynamic_cast<CComboUI*>(&c)) {
    out.push_back({combo, NativeControlKind::kCombo, combo->GetPos(), shown});
    return;
  }
  if (auto* list = dynamic_cast<CListUI*>(&c)) {
    out.push_back({list, NativeControlKind::kList, list->GetBodyRect(), shown});
    return;
  }
  if (auto* container = c.AsContainer()) {
    for (int i = 0; i < container->GetCount(); ++i) CollectNative(*container->GetItemAt(i), shown, pm, out);
  }
}

}  // namespace

CListUI* ListHoldingRow(CControlUI* control) {
  for (CControlUI* c = control; c; c = c->GetParent()) {
    if (dynamic_cast<CListContainerElementUI*>(c)) {
      if (auto* list = dynamic_cast<CListUI*>(c->GetParent())) return list;
    }
  }
  return nullptr;
}

// ------------------------------------------------------------------ the pass

void CRenderPass::PaintWindow(const Rect& area) {
  pm_.LayoutIfNeeded();
  area_ = area;
  surface_.Save();
  surface_.ClipRect(area);
  surface_.FillRect(area, kWindowGround);
  if (CControlUI* root = pm_.GetRoot()) PaintTree(*root);
  surface_.Restore();
  area_.reset();
}

void CRenderPass::PaintTree(CControlUI& c) {
  if (!c.IsVisible() || c.GetPos().IsEmpty()) return;
  if (area_ && !Overlaps(c.GetPos(), *area_)) {
    // Outside what is painted; a layout's children may still reach into it.
    if (auto* container = c.AsContainer(); container && !dynamic_cast<CListUI*>(&c) &&
                                           !dynamic_cast<CTreeViewUI*>(&c) && !dynamic_cast<CComboUI*>(&c)) {
      for (int i = 0; i < container->GetCount(); ++i) PaintTree(*container->GetItemAt(i));
    }
    return;
  }
  PaintControl(c);
  if (auto* list = dynamic_cast<CListUI*>(&c)) {
    // The rows are the backend's list view's.
    if (list->GetHeader()) PaintTree(*list->GetHeader());
    return;
  }
  if (auto* tree = dynamic_cast<CTreeViewUI*>(&c)) {
    PaintTreeView(*tree);
    return;
  }
  // A combo box's items show in its native drop-down.
  if (dynamic_cast<CComboUI*>(&c)) return;
  if (auto* container = c.AsContainer()) {
    for (int i = 0; i < container->GetCount(); ++i) PaintTree(*container->GetItemAt(i));
  }
}

void CRenderPass::PaintListRow(CListUI& list, int index, const Rect& target, bool hovered) {
  auto* row = list.GetItemAt(index);
  if (!row) return;
  surface_.Save();
  surface_.ClipRect(target);
  auto* element = dynamic_cast<CListContainerElementUI*>(row);
  if (hovered && list.GetHotItemBkColor() && !(element && element->IsSelected())) {
    surface_.FillRect(target, list.GetHotItemBkColor());
  }
  surface_.Translate(target.left - row->GetPos().left, target.top - row->GetPos().top);
  PaintTree(*row);
  surface_.Restore();
}

void CRenderPass::PaintBackdrop(CControlUI& control) {
  std::vector<CControlUI*> chain;
  for (CControlUI* c = &control; c; c = c->GetParent()) chain.push_back(c);
  const Rect& outer = chain.back()->GetPos();
  surface_.FillRect(outer, kWindowGround);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if ((*it)->IsVisible() && !(*it)->GetPos().IsEmpty()) PaintControl(**it, false);
  }
}

void CRenderPass::PaintTreeView(CTreeViewUI& tree) {
  const Rect& r = tree.GetPos();
  surface_.Save();
  surface_.ClipRect(r);
  for (auto* node : tree.ShownNodes()) {
    // Nodes scrolled out of view have no room.
    if (node->GetPos().IsEmpty()) continue;
    PaintControl(*node);
    if (node->IsCheckBoxVisible()) PaintControl(*node->GetCheckBox());
  }
  // A thin thumb tells that the tree goes on past what it shows.
  const int content = tree.GetContentHeight();
  const int view = tree.GetViewHeight();
  if (view > 0 && content > view) {
    const int w = pm_.Scale(4);
    const int h = std::max(r.Height() * view / content, pm_.Scale(16));
    const int top = r.top + (r.Height() - h) * tree.GetScrollOffset() / (content - view);
    const int left = r.right - w - pm_.Scale(2);
    FillShape(Rect{left, top, left + w, top + h}, kScrollThumb, w / 2);
  }
  surface_.Restore();
}

void CRenderPass::PaintControl(CControlUI& c, bool withText) {
  const Rect& pos = c.GetPos();
  const int round = pm_.Scale(c.GetBorderRound());
  if (Color bk = c.CurrentBkColor()) FillShape(pos, bk, round);
  if (!c.GetBkImage().IsEmpty()) PaintImage(c.GetBkImage(), pos);
  if (const ImageSpec* image = c.CurrentImage()) PaintImage(*image, pos);
  if (auto* progress = dynamic_cast<CProgressUI*>(&c)) {
    const int span = std::max(progress->GetMaxValue() - progress->GetMinValue(), 1);
    const int w = pos.Width() * (progress->GetValue() - progress->GetMinValue()) / span;
    if (w > 0) FillShape(Rect{pos.left, pos.top, pos.left + w, pos.bottom}, progress->GetForeColor(), round);
  }
  if (c.GetBorderSize() > 0 && c.GetBorderColor()) {
    surface_.DrawRoundRect(Inset(pos), static_cast<float>(round), 0, c.GetBorderColor(),
                           static_cast<float>(pm_.Scale(c.GetBorderSize())));
  }
  // Their text is the native widget's.
  if (!withText || dynamic_cast<CEditUI*>(&c) || dynamic_cast<CComboUI*>(&c)) return;

  const Rect tp = c.GetTextPadding();
  Rect textRect{pos.left + pm_.Scale(tp.left), pos.top + pm_.Scale(tp.top), pos.right - pm_.Scale(tp.right),
                pos.bottom - pm_.Scale(tp.bottom)};
  if (auto* node = dynamic_cast<CTreeNodeUI*>(&c)) {
    textRect.left = node->TextLeft();
  } else if (auto* check = dynamic_cast<CCheckBoxUI*>(&c); check && !c.CurrentImage()) {
    // A check box without images of its own: a box at its left, centred.
    const int box = pm_.Scale(14);
    const int top = (pos.top + pos.bottom - 1) / 2 - box / 2;
    PaintCheckBox(Rect{pos.left, top, pos.left + box, top + box}, check->GetCheck(), c.IsEnabled());
    textRect.left = pos.left + box + pm_.Scale(6);
  } else if (auto* item = dynamic_cast<CMenuElementUI*>(&c); item && !item->GetIcon().empty()) {
    // A menu item's icon sits centred in the slot its left padding leaves.
    const Size s{pm_.Scale(item->GetIconSize().cx), pm_.Scale(item->GetIconSize().cy)};
    const int slot = pm_.Scale(tp.left > 0 ? tp.left : 30);
    const int left = pos.left + (slot - s.cx) / 2;
    const int top = pos.top + (pos.Height() - s.cy) / 2;
    ImageSpec icon;
    icon.file = WideToUtf8(item->GetIcon());
    PaintImage(icon, Rect{left, top, left + s.cx, top + s.cy});
  }
  if (c.GetText().empty()) return;
  surface_.Save();
  surface_.ClipRect(pos);
  surface_.DrawText(textRect, c.GetText(), pm_.GetScaledFont(c.GetFont()), TextColorOf(c), c.GetTextStyle());
  surface_.Restore();
}

void CRenderPass::FillShape(const Rect& r, Color color, int radius) {
  if (radius > 0) surface_.DrawRoundRect(ToRectF(r), static_cast<float>(radius), color, 0, 0);
  else surface_.FillRect(r, color);
}

void CRenderPass::PaintImage(const ImageSpec& image, const Rect& pos) {
  const std::filesystem::path file = ResolveImagePath(CPaintManagerUI::GetResourcePath(), image.file);
  const std::optional<Size> size = surface_.ImageSize(file);
  if (!size) {
    ReportMissingImage(file);
    return;
  }
  Rect dest = pos;
  if (image.dest) {
    const int left = pos.left + pm_.Scale(image.dest->left);
    const int top = pos.top + pm_.Scale(image.dest->top);
    dest = Rect{left, top, left + pm_.Scale(image.dest->Width()), top + pm_.Scale(image.dest->Height())};
  }
  const Rect source = image.source ? *image.source : Rect{0, 0, size->cx, size->cy};
  const Rect& corner = image.corner;
  if (corner == Rect{}) {
    surface_.DrawImage(file, dest, source);
    return;
  }
  // Nine parts: the corners keep their size (at the window's scale), the
  // edges stretch along their side and the middle both ways. A destination
  // smaller than its corners shrinks the middle away.
  const int sx[4] = {source.left, source.left + corner.left, source.right - corner.right, source.right};
  const int sy[4] = {source.top, source.top + corner.top, source.bottom - corner.bottom, source.bottom};
  int dx[4] = {dest.left, dest.left + pm_.Scale(corner.left), dest.right - pm_.Scale(corner.right), dest.right};
  int dy[4] = {dest.top, dest.top + pm_.Scale(corner.top), dest.bottom - pm_.Scale(corner.bottom), dest.bottom};
  dx[1] = std::min(dx[1], dest.right);
  dx[2] = std::max(dx[2], dx[1]);
  dy[1] = std::min(dy[1], dest.bottom);
  dy[2] = std::max(dy[2], dy[1]);
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      const Rect s{sx[col], sy[row], sx[col + 1], sy[row + 1]};
      const Rect d{dx[col], dy[row], dx[col + 1], dy[row + 1]};
      if (s.IsEmpty() || d.IsEmpty()) continue;
      surface_.DrawImage(file, d, s);
    }
  }
}

void CRenderPass::PaintCheckBox(const Rect& box, bool checked, bool enabled) {
  const Color accent = enabled ? kCheckAccent : kCheckAccentDisabled;
  surface_.DrawRoundRect(Inset(box), 2, checked ? accent : kWindowGround, checked ? accent : kCheckFrame, 1);
  if (!checked) return;
  const float w = static_cast<float>(box.Width());
  const float h = static_cast<float>(box.Height());
  const float x = static_cast<float>(box.left);
  const float y = static_cast<float>(box.top);
  surface_.DrawPolyline({PointF{x + w * 0.22f, y + h * 0.52f}, PointF{x + w * 0.42f, y + h * 0.72f},
                         PointF{x + w * 0.78f, y + h * 0.30f}},
                        kCheckMark, std::max(1.5f, w / 8.0f));
}

// ------------------------------------------------------------ for backends

std::vector<NativeControlPlace> NativeControls(CPaintManagerUI& manager) {
  std::vector<NativeControlPlace> out;
  if (CControlUI* root = manager.GetRoot()) CollectNative(*root, true, manager, out);
  return out;
}

bool IsCaptionPoint(CPaintManagerUI& manager, Point p, int clientWidth) {
  const Rect cap = manager.GetCaptionRect();
  const Rect area{cap.left, cap.top, clientWidth - cap.right, cap.bottom};
  if (!area.Contains(p)) return false;
  CControlUI* hit = manager.FindControl(p);
  return !(hit && hit->IsClickable());
}

Color TextColorOf(const CControlUI& control) {
  const Color c = control.CurrentTextColor();
  return c ? c : kDefaultTextColor;
}

Size CRenderEngine::GetTextSize(CPaintManagerUI* manager, const std::wstring& text, int font, unsigned style) {
  if (!manager) return Size{};
  return manager->MeasureText(text, font, style);
}

}  // namespace orlin::dui
