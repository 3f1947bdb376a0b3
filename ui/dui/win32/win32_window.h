#pragma once
// The native window of one DirectUI window (see win32_backend.h), its
// native children and its list views.

#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "ui/dui/backend.h"
#include "ui/dui/controls.h"
#include "ui/dui/dirty_area.h"
#include "ui/dui/render_engine.h"

namespace orlin::dui {

class Win32Backend;

namespace win32 {

class ListView;

// Private messages of the window procedures.
inline constexpr UINT kRunPostedTask = WM_APP + 0x10;   // one queued task
inline constexpr UINT kRunSentTask = WM_APP + 0x11;     // lParam: std::function<void()>*
inline constexpr UINT kDestroyNow = WM_APP + 0x12;      // destroy on the own thread

class Win32Window final : public NativeWindow {
 public:
  Win32Window(Win32Backend& backend, WindowImplBase& window, Win32Window* owner, const NativeWindowParams& params);
  ~Win32Window() override;

  void Dispatch(std::function<void()> task) override;
  bool Send(std::function<void()> task) override;
  bool IsOwnThread() const override;
  void SetTitle(const std::wstring& title) override;
  void Show(bool show, bool activate) override;
  bool IsShown() const override { return shown_; }
  void SetWindowState(WindowState state) override;
  WindowState GetWindowState() const override { return state_; }
  void SetInputEnabled(bool enabled) override;
  bool IsInputEnabled() const override { return enabled_; }
  void SetExStyle(std::uint32_t exStyle) override;
  void BringToTop() override;
  void SetRect(const Rect& r) override;
  Rect GetRect() const override;
  Rect GetWorkArea() const override;
  void ControlChanged(CControlUI* control, bool layout) override;
  void ControlRemoved(CControlUI* control) override;
  void RunModal() override;
  void EndModal() override;
  void Destroy() override;

  HWND Handle() const { return hwnd_.load(); }
  WindowImplBase& Window() { return window_; }
  CPaintManagerUI& Manager() { return pm_; }
  Win32Backend& Backend() { return backend_; }
  // Own thread: lays the model out and brings the native children in step.
  void Sync();
  // Own thread: paints the whole window into `dc` (client coordinates).
  void PaintTo(HDC dc, const RECT& area);
  // Own thread: the list view showing `list`'s rows, or null.
  ListView* ListViewOf(CListUI* list);
  // Own thread: what the pointer is over changed; a shown tooltip goes.
  void TooltipTargetChanged();

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT HitTest(LPARAM lParam);
  void RunTasks();
  void OnOwnThread(std::function<void()> task);
  void UpdateRectFromWindow();
  void ShowNow(bool show, bool activate);
  // `repaintAll`: every list view repaints, else those of dirtyLists_ and
  // those that moved.
  void SyncChildren(bool repaintAll);
  void SyncEdit(CEditUI& edit, const Rect& rect, bool shown);
  void SyncCombo(CComboUI& combo, const Rect& rect, bool shown);
  void SyncList(CListUI& list, const Rect& rect, bool shown, bool repaint);
  // Moves, shows or hides and enables a native child as the model says;
  // true when it moved or changed its size.
  bool Place(HWND child, CControlUI& control, const Rect& r, bool shown);
  void OnCommand(WPARAM wParam, LPARAM lParam);
  LRESULT OnControlColour(HDC dc, HWND child);
  // Combo boxes are drawn here: the field's text centred in its height,
  // with the model's colours, and the dropped list's items.
  void DrawComboItem(const DRAWITEMSTRUCT& item);
  HBRUSH BrushOf(Color colour);
  CControlUI* ControlOfChild(HWND child);
  void ForgetChildren();
  void ForwardWheel(WPARAM wParam, LPARAM lParam);
  void EnsureTooltip();
  void AddTooltipTool(HWND tool);
  LRESULT OnNotify(NMHDR* header);

  void FocusNextEdit(HWND from, bool backwards);
  static LRESULT CALLBACK EditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data);

  struct Child {
    CControlUI* control = nullptr;
    NativeControlKind kind = NativeControlKind::kEdit;
  };

  Win32Backend& backend_;
  WindowImplBase& window_;
  CPaintManagerUI& pm_;
  std::atomic<HWND> hwnd_{nullptr};
  HWND ownerHwnd_ = nullptr;
  bool disabledOwner_ = false;  // own thread: a modal run disabled the owner
  DWORD thread_ = 0;
  bool popupMenu_ = false;

  // Posted tasks, run in batches per kRunPostedTask; a wake stays posted
  // while tasks wait, so modal loops started by a task run the others.
  std::mutex taskMutex_;
  std::deque<std::function<void()>> tasks_;
  bool wakePosted_ = false;
  bool closed_ = false;
  // False once this object is being destroyed (own thread: a task that ran
  // may have destroyed it).
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

  mutable std::mutex mutex_;  // rect_, the child maps
  Rect rect_;
  std::map<CControlUI*, HWND> children_;
  std::map<HWND, Child> controlOfChild_;
  std::map<CControlUI*, std::shared_ptr<ListView>> lists_;
  std::map<Color, HBRUSH> brushes_;  // own thread
  std::map<HWND, std::wstring> prompts_;  // own thread: edits' hints
  std::map<HWND, std::pair<Color, Color>> editColours_;  // own thread: ground, text
  int suppressEditNotify_ = 0;            // own thread: text set from the model
  HWND tooltip_ = nullptr;                // own thread: the tooltip control
  std::wstring tipText_;                  // own thread: the text it shows
  CControlUI* pointed_ = nullptr;         // own thread: under the pointer

  std::atomic<bool> shown_{false}, syncPending_{false}, ended_{false}, enabled_{true}, tracking_{false};
  DirtyArea dirty_;  // what outside list rows changed
  std::set<CControlUI*> dirtyLists_;      // under mutex_: lists whose rows changed
  std::atomic<bool> destroying_{false};   // Destroy began: the model is not touched
  std::atomic<WindowState> state_{WindowState::kNormal};
  HANDLE modalEnded_ = nullptr;
};

}  // namespace win32
}  // namespace orlin::dui
