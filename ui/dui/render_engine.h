#pragma once
// How windows look, decided once for every backend: a paint pass walks a
// window's control tree and paints it onto a small surface (fill, rounded
// rectangle, line, image, text, clip). A backend provides the surface and
// shows what the pass leaves out with native widgets: the text of edits and
// combo boxes, and the rows of lists (painted row by row through
// PaintListRow by the backend's own scrolling view).
//
// Threads: the pass reads the tree, so it runs with the window's model lock
// held, on the thread that paints the window.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ui/dui/ui_types.h"

namespace orlin::dui {

class CPaintManagerUI;
class CControlUI;
class CListUI;
class CTreeViewUI;

// What text is painted in when a control sets no text colour.
inline constexpr Color kDefaultTextColor = 0xFF1F2933;
// The ground of every window.
inline constexpr Color kWindowGround = 0xFFFFFFFF;

struct PointF {
  float x = 0;
  float y = 0;
  bool operator==(const PointF&) const = default;
};

struct RectF {
  float left = 0;
  float top = 0;
  float right = 0;
  float bottom = 0;
  bool operator==(const RectF&) const = default;
};

// Where a backend paints. Coordinates are window pixels moved by Translate;
// colours are 0xAARRGGBB and blend by their alpha. Save and Restore keep and
// bring back the clip and the translation.
class RenderSurface {
 public:
  virtual ~RenderSurface() = default;
  // A rectangle filled edge to edge, pixel exact.
  virtual void FillRect(const Rect& r, Color color) = 0;
  // A rectangle with corners rounded by `radius` (0: square), filled with
  // `fill` and outlined with a line of `lineWidth` pixels centred on its
  // edge; a colour 0 leaves that part out. Rounded shapes are antialiased,
  // square ones are not.
  virtual void DrawRoundRect(const RectF& r, float radius, Color fill, Color line, float lineWidth) = 0;
  // Connected antialiased line segments.
  virtual void DrawPolyline(const std::vector<PointF>& points, Color line, float lineWidth) = 0;
  // The size of an image file in pixels; nullopt when it cannot be read.
  virtual std::optional<Size> ImageSize(const std::filesystem::path& file) = 0;
  // Part `source` (image pixels) of an image file stretched onto `dest`,
  // smoothly, with its alpha.
  virtual void DrawImage(const std::filesystem::path& file, const Rect& dest, const Rect& source) = 0;
  // Text in `r` with the text style flags of labels (kDt*: alignment, word
  // breaking, single line, end ellipsis). Antialiased.
  virtual void DrawText(const Rect& r, const std::wstring& text, const FontSpec& font, Color color,
                        unsigned style) = 0;
  virtual void Save() = 0;
  virtual void Restore() = 0;
  // Narrows the clip to `r` (what is painted afterwards stays inside it).
  virtual void ClipRect(const Rect& r) = 0;
  virtual void Translate(int dx, int dy) = 0;
};

// One paint of a window.
class CRenderPass {
 public:
  CRenderPass(CPaintManagerUI& manager, RenderSurface& surface) : pm_(manager), surface_(surface) {}

  // The window on its ground over `area` (its client rectangle, or the part
  // of it that changed): every control, except list rows and what native
  // edits and combo boxes show. Nothing lands outside `area`, and controls
  // wholly outside it are not painted at all. Lays the window out first if
  // needed.
  void PaintWindow(const Rect& area);
  // `control` and what lies inside it, with the same exceptions.
  void PaintTree(CControlUI& control);
  // Row `index` of `list` with its top left corner at `target`'s (surface
  // pixels; rows keep their own positions in the model), over the list's
  // hover colour when `hovered`. Nothing of it lands outside `target`.
  void PaintListRow(CListUI& list, int index, const Rect& target, bool hovered);
  // What lies under `control`: the window's ground and the own look of
  // `control` and of every control around it (colours, images, borders),
  // without their other children. A backend whose native widget cannot let
  // the window show through paints this first.
  void PaintBackdrop(CControlUI& control);

 private:
  void PaintControl(CControlUI& c, bool withText = true);
  void PaintTreeView(CTreeViewUI& tree);
  void PaintImage(const ImageSpec& image, const Rect& pos);
  void PaintCheckBox(const Rect& box, bool checked, bool enabled);
  void FillShape(const Rect& r, Color color, int radius);

  CPaintManagerUI& pm_;
  RenderSurface& surface_;
  std::optional<Rect> area_;  // while PaintWindow runs
};

// The controls a backend shows with native widgets.
enum class NativeControlKind { kEdit, kCombo, kList };

struct NativeControlPlace {
  CControlUI* control = nullptr;
  NativeControlKind kind = NativeControlKind::kEdit;
  // Where the widget goes (window pixels): an edit's text area inside its
  // border and padding, a combo box whole, a list's rows without its header.
  Rect rect;
  // The control and every control around it visible, with room to show.
  bool shown = false;
};

// Every such control of the window's tree in tree order (model lock held,
// window laid out).
std::vector<NativeControlPlace> NativeControls(CPaintManagerUI& manager);

// The list whose row holds `control` (the row itself or a control inside
// it), or null: a change there shows in that list's view alone.
CListUI* ListHoldingRow(CControlUI* control);

// True where a press at `p` (window pixels) drags the window: inside the
// skin's caption band of a window `clientWidth` wide, and not on a control
// that takes clicks. Model lock held.
bool IsCaptionPoint(CPaintManagerUI& manager, Point p, int clientWidth);

// The colour a control's text is painted in.
Color TextColorOf(const CControlUI& control);

class CRenderEngine {
 public:
  // Extent of `text` in the window's font `font` (scaled to its DPI) with the
  // label text style `style`. Zero size without an installed backend.
  static Size GetTextSize(CPaintManagerUI* manager, const std::wstring& text, int font, unsigned style);
};

}  // namespace orlin::dui
