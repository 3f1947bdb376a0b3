#pragma once
// One per window: owns the control tree, finds controls, routes mouse and
// keyboard input to them, sends notifications, and carries the window's DPI,
// caption area, fonts and default attributes.

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/owner_window.h"
#include "ui/dui/controls.h"
#include "ui/dui/ui_types.h"

namespace orlin::dui {

class NativeWindow;
class UiBackend;

class INotifyUI {
 public:
  virtual ~INotifyUI() = default;
  virtual void Notify(TNotifyUI& msg) = 0;
};

class CDPI {
 public:
  int GetDPI() const { return dpi_; }
  // Percentage: 100 at 96 DPI, 200 at 192 DPI.
  int GetScale() const { return dpi_ * 100 / 96; }
  void SetDPI(int dpi) { dpi_ = dpi > 0 ? dpi : 96; }
  int Scale(int value) const { return value * GetScale() / 100; }

 private:
  int dpi_ = 96;
};

// The menu command record delivered with WM_USER+3; the receiver releases it
// with CPaintManagerUI::DeletePtr.
struct MenuCmd {
  wchar_t szName[256];
  wchar_t szUserData[1024];
  wchar_t szText[1024];
  std::int32_t bChecked;
};

class CPaintManagerUI;

// The window's tooltip as the windows address it: TTM_SETMAXTIPWIDTH (1048)
// with the width in lParam sets the widest tip before it wraps.
class CTooltipWindow {
 public:
  static constexpr unsigned kSetMaxTipWidth = 1048;
  explicit CTooltipWindow(CPaintManagerUI& pm) : pm_(pm) {}
  std::intptr_t SendMessageW(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);

 private:
  CPaintManagerUI& pm_;
};

class CPaintManagerUI {
 public:
  CPaintManagerUI();
  ~CPaintManagerUI();
  CPaintManagerUI(const CPaintManagerUI&) = delete;
  CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

  // Process-wide folders: the instance (install) folder and the folder skins
  // and images are read from.
  static void SetInstance(const std::filesystem::path& instanceDir);
  static std::filesystem::path GetInstancePath();
  static void SetResourcePath(const std::filesystem::path& dir);
  static std::filesystem::path GetResourcePath();
  // Runs the UI thread's message loop of the installed backend.
  static void MessageLoop();
  static void DeletePtr(MenuCmd* cmd) { delete cmd; }

  // The window that receives this window's messages (menu commands, ...).
  void SetMessageTarget(OwnerWindow* target) { target_ = target; }
  OwnerWindow* GetMessageTarget() const { return target_; }

  void SetNativeWindow(NativeWindow* native) { native_ = native; }
  NativeWindow* GetNativeWindow() const { return native_; }

  // Takes ownership of the tree and indexes its names.
  void AttachDialog(CControlUI* root);
  CControlUI* GetRoot() const { return root_.get(); }
  // A control joined or left the tree (containers call these).
  void InitControls(CControlUI* control);
  void ReapControls(CControlUI* control);
  // A control of the tree changed its name.
  void RenameControl(CControlUI* control, const std::wstring& oldName);

  // By name: the first control of that name in tree order, exact match.
  CControlUI* FindControl(const std::wstring& name) const;
  // By point (window pixels): the deepest visible control that takes the
  // mouse there.
  CControlUI* FindControl(Point p) const;
  CControlUI* FindSubControlByName(CControlUI* parent, const std::wstring& name) const;
  std::vector<COptionUI*> GetOptionGroup(const std::wstring& group) const;

  void AddNotifier(INotifyUI* notifier);
  void RemoveNotifier(INotifyUI* notifier);
  void SendNotify(CControlUI* control, const std::wstring& type, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
  void SendNotify(TNotifyUI& msg);

  // Input, in window pixels. Called on the window's thread by the backend.
  void MouseMove(Point p);
  void MouseLeave();
  void MouseDown(Point p);
  void MouseUp(Point p);
  void DoubleClick(Point p);
  void SetFocus(CControlUI* control);
  CControlUI* GetFocus() const { return focus_; }
  CControlUI* GetHot() const { return hot_; }

  // DPI and scaling of skin pixels to window pixels.
  void SetDPI(int dpi);
  CDPI* GetDPIObj() { return &dpi_; }
  int Scale(int value) const { return dpi_.Scale(value); }

  // The client size the skin asks for, in skin pixels.
  Size GetInitSize() const { return initSize_; }
  void SetInitSize(Size s) { initSize_ = s; }
  Size GetMinInfo() const { return minInfo_; }
  void SetMinInfo(Size s) { minInfo_ = s; }
  // The band that moves the window when dragged, as skins write it: left and
  // right are insets from the window's sides, top and bottom measured from
  // its top edge, in window pixels.
  Rect GetCaptionRect() const { return caption_; }
  void SetCaptionRect(const Rect& r) { caption_ = r; }
  // The bands along the window's edges that resize a window that resizes,
  // as skins write them: left, top, right and bottom widths in skin pixels.
  Rect GetSizeBox() const { return sizeBox_; }
  void SetSizeBox(const Rect& r) { sizeBox_ = r; }
  int GetRoundCorner() const { return roundCorner_; }
  void SetRoundCorner(int r) { roundCorner_ = r; }

  // Fonts by index; -1 or an unknown index is the default font.
  void AddFont(const FontSpec& font, bool isDefault);
  FontSpec GetFont(int index) const;
  // The font at the window's scale.
  FontSpec GetScaledFont(int index) const;
  // Attribute lists applied to every new control of a class ("Button", ...).
  void AddDefaultAttributeList(const std::wstring& controlClass, const std::wstring& list);
  std::wstring GetDefaultAttributeList(const std::wstring& controlClass) const;
  // Named attribute lists a control takes with style="name".
  void AddStyle(const std::wstring& name, const std::wstring& list);
  std::wstring GetStyle(const std::wstring& name) const;

  // Widest tooltip in pixels before it wraps (0: the toolkit's default).
  void SetTooltipMaxWidth(int cx);
  int GetTooltipMaxWidth() const { return tooltipWidth_; }
  CTooltipWindow* GetTooltipWindow() { return &tooltip_; }

  // Lays the tree out in the client size (window pixels).
  void SetClientSize(Size s);
  Size GetClientSize() const { return clientSize_; }
  void NeedUpdate() { needLayout_ = true; }
  // True when it laid the tree out (controls may have moved).
  bool LayoutIfNeeded();

  // Called by controls when they change.
  void ControlChanged(CControlUI* control, bool layout);
  void ControlRemoved(CControlUI* control);

  // Held while the tree is changed or read (recursive).
  std::unique_lock<std::recursive_mutex> ModelLock() const { return std::unique_lock<std::recursive_mutex>(mutex_); }

  // Text extent with a font index of this window.
  Size MeasureText(const std::wstring& text, int font, unsigned style, int maxWidth = 0) const;

 private:
  void Reindex();
  CControlUI* ClickTarget(Point p) const;

  mutable std::recursive_mutex mutex_;
  NativeWindow* native_ = nullptr;
  OwnerWindow* target_ = nullptr;
  std::unique_ptr<CControlUI> root_;
  std::multimap<std::wstring, CControlUI*> names_;
  std::vector<INotifyUI*> notifiers_;
  CControlUI* hot_ = nullptr;
  CControlUI* pushed_ = nullptr;
  CControlUI* focus_ = nullptr;
  CDPI dpi_;
  Size initSize_{400, 300}, minInfo_, clientSize_;
  Rect caption_;
  Rect sizeBox_;
  int roundCorner_ = 0;
  std::vector<FontSpec> fonts_;
  int defaultFont_ = -1;
  std::map<std::wstring, std::wstring> defaults_, styles_;
  int tooltipWidth_ = 0;
  CTooltipWindow tooltip_{*this};
  bool needLayout_ = true;
};

}  // namespace orlin::dui
