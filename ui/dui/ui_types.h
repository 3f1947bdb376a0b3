#pragma once
// Plain value types of the window layer: geometry, colours, image
// descriptions, notifications and the window message numbers the windows use.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/window_messages.h"

namespace orlin::dui {

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  int cx = 0;
  int cy = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  bool operator==(const Rect&) const = default;
};

// Whether two rectangles share a pixel (empty ones share none).
inline bool Overlaps(const Rect& a, const Rect& b) {
  return !a.IsEmpty() && !b.IsEmpty() && a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}
// The smallest rectangle holding both.
inline Rect Bounding(const Rect& a, const Rect& b) {
  if (a.IsEmpty()) return b;
  if (b.IsEmpty()) return a;
  return Rect{a.left < b.left ? a.left : b.left, a.top < b.top ? a.top : b.top,
              a.right > b.right ? a.right : b.right, a.bottom > b.bottom ? a.bottom : b.bottom};
}

// 0xAARRGGBB; 0 means "not set" as in the skin files.
using Color = std::uint32_t;

// "#AARRGGBB", "#RRGGBB" (opaque) or "0xAARRGGBB". Anything else is nullopt.
std::optional<Color> ParseColor(std::string_view text);
// "l,t,r,b" (missing parts are 0).
Rect ParseRect(std::string_view text);
// "cx,cy".
Size ParseSize(std::string_view text);
bool ParseBool(std::string_view text);

// An image attribute: either a bare file name or "file='..' dest='l,t,r,b'
// source='l,t,r,b' corner='l,t,r,b'". Backslashes in file names are kept as
// written; ResolveImagePath turns them into a path below the resource folder.
struct ImageSpec {
  std::string file;
  std::optional<Rect> dest;
  std::optional<Rect> source;
  Rect corner;
  bool IsEmpty() const { return file.empty(); }
  bool operator==(const ImageSpec&) const = default;
};
ImageSpec ParseImage(std::string_view text);
std::filesystem::path ResolveImagePath(const std::filesystem::path& resourceDir, std::string_view file);

// Text alignment flags of labels (GetTextStyle), in the Win32 DrawText values
// so a Win32 backend can pass them on unchanged.
enum TextStyle : unsigned {
  kDtLeft = 0x0,
  kDtCenter = 0x1,
  kDtRight = 0x2,
  kDtVCenter = 0x4,
  kDtBottom = 0x8,
  kDtWordBreak = 0x10,
  kDtSingleLine = 0x20,
  kDtEndEllipsis = 0x8000,
};

struct FontSpec {
  int id = 0;
  std::string family;  // may list fallbacks separated by ','
  int size = 12;       // pixels at 96 DPI
  bool bold = false;
  bool italic = false;
  bool underline = false;
};

class CControlUI;

// A notification from a control to the window's Notify.
struct TNotifyUI {
  std::wstring sType;
  CControlUI* pSender = nullptr;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

// Event names used by the windows.
inline constexpr wchar_t kEventClick[] = L"click";
inline constexpr wchar_t kEventSelectChanged[] = L"selectchanged";
inline constexpr wchar_t kEventItemSelect[] = L"itemselect";
inline constexpr wchar_t kEventKillFocus[] = L"killfocus";
inline constexpr wchar_t kEventSetFocus[] = L"setfocus";
inline constexpr wchar_t kEventTextChanged[] = L"textchanged";
inline constexpr wchar_t kEventReturn[] = L"return";
inline constexpr wchar_t kEventWindowInit[] = L"windowinit";
inline constexpr wchar_t kEventItemDbClick[] = L"itemdbclick";
inline constexpr wchar_t kEventItemClick[] = L"itemclick";

// Window message numbers (Win32 values, so window logic reads the same on
// every backend).
inline constexpr unsigned kWmDestroy = 0x0002;
inline constexpr unsigned kWmClose = 0x0010;
// A key pressed while the window has the focus: wParam the virtual key code
// (letters and digits as their upper-case character), lParam the modifier
// keys held at that moment (kKeyMod* flags). Backends deliver it so; a
// Win32 backend reads the modifiers with GetKeyState when it forwards it.
inline constexpr unsigned kWmKeyDown = 0x0100;
inline constexpr std::intptr_t kKeyModControl = 0x1;
inline constexpr std::intptr_t kKeyModShift = 0x2;
inline constexpr std::intptr_t kKeyModAlt = 0x4;
inline constexpr unsigned kWmCopyData = 0x004A;
inline constexpr unsigned kWmMouseMove = 0x0200;
inline constexpr unsigned kWmLButtonDown = 0x0201;
inline constexpr unsigned kWmLButtonUp = 0x0202;
inline constexpr unsigned kWmLButtonDblClk = 0x0203;
inline constexpr unsigned kWmRButtonDown = 0x0204;
inline constexpr unsigned kWmRButtonUp = 0x0205;
// The wheel turned over the window: the high word of wParam is the distance
// (a signed multiple of kWheelDelta, positive away from the user), lParam the
// pointer's point in window pixels.
inline constexpr unsigned kWmMouseWheel = 0x020A;
inline constexpr int kWheelDelta = 120;
inline constexpr unsigned kWmDpiChanged = 0x02E0;
inline constexpr unsigned kWmUserBase = kWmUser;
inline constexpr unsigned kWmTrayCallback = kWmUserBase + 1;
inline constexpr unsigned kWmMenuCommand = kWmUserBase + 3;

// Window styles the windows pass to Create.
inline constexpr std::uint32_t kWsPopup = 0x80000000u;
inline constexpr std::uint32_t kWsClipChildren = 0x02000000u;
inline constexpr std::uint32_t kWsExTopmost = 0x00000008u;
inline constexpr std::uint32_t kWsExToolWindow = 0x00000080u;
inline constexpr std::uint32_t kWsExAppWindow = 0x00040000u;

// ShowWindow commands.
inline constexpr int kSwHide = 0;
inline constexpr int kSwShowNormal = 1;
inline constexpr int kSwShowMinimized = 2;
inline constexpr int kSwMaximize = 3;
inline constexpr int kSwShowNoActivate = 4;
inline constexpr int kSwShow = 5;
inline constexpr int kSwMinimize = 6;
inline constexpr int kSwRestore = 9;
inline constexpr int kSwShowDefault = 10;
inline constexpr int kCwUseDefault = static_cast<int>(0x80000000u);

inline std::intptr_t MakePointLParam(Point p) {
  return static_cast<std::intptr_t>((static_cast<std::uint32_t>(p.y & 0xFFFF) << 16) | static_cast<std::uint32_t>(p.x & 0xFFFF));
}
inline Point PointFromLParam(std::intptr_t l) {
  return Point{static_cast<std::int16_t>(l & 0xFFFF), static_cast<std::int16_t>((l >> 16) & 0xFFFF)};
}

}  // namespace orlin::dui
