#pragma once
// The notification-area icon of a window. Its mouse messages reach the
// window as the callback message (WM_USER+1 by default) posted with the mouse
// message (513 left button down, 517 right button up, ...) in lParam.

#include <memory>
#include <string>

#include "ui/dui/backend.h"
#include "ui/dui/ui_types.h"

namespace orlin::dui {

class WindowImplBase;

class CTrayIcon {
 public:
  CTrayIcon() = default;
  ~CTrayIcon();
  CTrayIcon(const CTrayIcon&) = delete;
  CTrayIcon& operator=(const CTrayIcon&) = delete;

  // `iconResource` names the image res/icons/<number>.png. False when the
  // desktop has no notification area (said once on standard error): the
  // caller must then keep its window reachable instead of hiding it.
  bool CreateTrayIcon(WindowImplBase* receiver, int iconResource, const std::wstring& tooltip,
                      unsigned callbackMessage = kWmTrayCallback);
  void DeleteTrayIcon();
  bool IsVisible() const { return icon_ != nullptr; }
  const std::wstring& GetTooltip() const { return tooltip_; }
  static bool IsSystemTrayAvailable();
  // A mouse message on the icon as the desktop reports it (513 left button
  // down, 517 right button up, ...): the receiver of the icon shown last gets
  // its callback message, posted, exactly as for a real click. False when no
  // icon is shown. Any thread.
  static bool DeliverMouse(unsigned mouseMessage);

 private:
  std::unique_ptr<TrayIconBackend> icon_;
  WindowImplBase* receiver_ = nullptr;
  unsigned callbackMessage_ = kWmTrayCallback;
  std::wstring tooltip_;
};

// Hides `window` into the notification area when `tray` is there; without a
// tray icon the window stays shown, so it never becomes unreachable. Returns
// whether it was hidden.
bool HideToTray(WindowImplBase& window, const CTrayIcon& tray);

}  // namespace orlin::dui
