#include "ui/dui/dirty_area.h"

#include <utility>

#include "ui/dui/controls.h"

namespace orlin::dui {

void DirtyArea::Add(const CControlUI* control, bool layout) {
  if (layout || !control) {
    AddAll();
    return;
  }
  Add(control->GetPos());
}

void DirtyArea::Add(const Rect& rect) {
  if (rect.IsEmpty()) return;
  std::lock_guard lock(mutex_);
  if (all_) return;
  // Overlapping rectangles become one, so no pixel is painted twice.
  Rect r = rect;
  for (bool merged = true; merged;) {
    merged = false;
    for (auto it = rects_.begin(); it != rects_.end(); ++it) {
      if (Overlaps(*it, r)) {
        r = Bounding(*it, r);
        rects_.erase(it);
        merged = true;
        break;
      }
    }
  }
  rects_.push_back(r);
  if (rects_.size() > kMaxRects) {
    all_ = true;
    rects_.clear();
  }
}

void DirtyArea::AddAll() {
  std::lock_guard lock(mutex_);
  all_ = true;
  rects_.clear();
}

DirtyArea::Taken DirtyArea::Take() {
  std::lock_guard lock(mutex_);
  Taken taken{std::exchange(all_, false), std::move(rects_)};
  rects_.clear();
  return taken;
}

}  // namespace orlin::dui
