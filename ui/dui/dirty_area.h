#pragma once
// What of a window must be painted again after its controls changed: the
// rectangles of the controls whose look changed, or the whole window once a
// layout may have moved anything. A status label that changes once a second
// then repaints a label, not the window.
//
// Threads: controls change on any thread (under the window's model lock);
// the backend takes the area on its window's thread.

#include <mutex>
#include <vector>

#include "ui/dui/ui_types.h"

namespace orlin::dui {

class CControlUI;

class DirtyArea {
 public:
  // More separate rectangles than this are painted as the whole window.
  static constexpr std::size_t kMaxRects = 12;

  struct Taken {
    bool all = false;
    std::vector<Rect> rects;  // when not `all`; none overlaps another
    bool Empty() const { return !all && rects.empty(); }
  };

  // `control`'s look changed; with `layout` (or no control) its size or
  // place may have, and the whole window is painted. Reads the control's
  // rectangle: called with the model lock held.
  void Add(const CControlUI* control, bool layout);
  void Add(const Rect& r);
  void AddAll();
  // What was added since the last Take, and forgets it.
  Taken Take();

 private:
  std::mutex mutex_;
  bool all_ = false;
  std::vector<Rect> rects_;
};

}  // namespace orlin::dui
