#pragma once
// A list's rows in one native child window with a vertical scroll bar. It
// keeps nothing per row: each paint asks the model for the rows in view and
// paints them through the paint pass, so a list of a thousand rows costs
// what its twenty visible rows cost, and refilling the rows (the status
// lists reuse theirs) only asks for a repaint.
//
// Threads: everything here runs on the owning window's thread.

#include <windows.h>

namespace orlin::dui {

class CControlUI;
class CListUI;
class CPaintManagerUI;

namespace win32 {

class Win32Window;

class ListView {
 public:
  ListView(Win32Window& window, CListUI& list);
  ~ListView();
  ListView(const ListView&) = delete;
  ListView& operator=(const ListView&) = delete;

  HWND Handle() const { return hwnd_; }
  // Model lock held: brings the scroll range in step with the row count and
  // repaints when `rowsChanged` or the count changed.
  void Sync(bool rowsChanged);
  // The row at a point of the view (client pixels), or -1. Model lock held.
  int RowAt(int y) const;
  int ScrollOffset() const { return scroll_; }
  // Scrolls so the top of the view shows content pixel `y`.
  void ScrollTo(int y);
  // The control of a row under a point of the view, or null. Model lock held.
  CControlUI* ControlAt(int x, int y) const;

  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  void Paint(HDC dc);
  int RowHeight() const;
  int ContentHeight() const;
  int ViewHeight() const;
  void UpdateScrollBar();
  void SetHover(int row);
  void Click(int x, int y, bool dbl);

  Win32Window& window_;
  CPaintManagerUI& pm_;
  CListUI& list_;
  HWND hwnd_ = nullptr;
  int scroll_ = 0;
  int hover_ = -1;
  int count_ = -1;
  bool tracking_ = false;
  CControlUI* pointed_ = nullptr;  // under the pointer, for its tooltip
};

}  // namespace win32
}  // namespace orlin::dui
