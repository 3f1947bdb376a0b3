#include "ui/dui/tray_icon.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

#include "ui/dui/paint_manager.h"
#include "ui/dui/window_impl_base.h"

namespace orlin::dui {

namespace {
// The icons shown, oldest first, for DeliverMouse.
std::mutex g_iconsMutex;
std::vector<CTrayIcon*> g_icons;
}  // namespace

CTrayIcon::~CTrayIcon() { DeleteTrayIcon(); }

bool CTrayIcon::DeliverMouse(unsigned mouseMessage) {
  std::lock_guard lock(g_iconsMutex);
  if (g_icons.empty()) return false;
  CTrayIcon* icon = g_icons.back();
  // Under the lock: the icon cannot go away meanwhile, and its receiver
  // outlives it; posting only queues.
  icon->receiver_->PostMessageW(icon->callbackMessage_, 0, static_cast<std::intptr_t>(mouseMessage));
  return true;
}

bool CTrayIcon::IsSystemTrayAvailable() {
  auto backend = UiBackend::Current();
  return backend && backend->HasSystemTray();
}

bool CTrayIcon::CreateTrayIcon(WindowImplBase* receiver, int iconResource, const std::wstring& tooltip,
                               unsigned callbackMessage) {
  DeleteTrayIcon();
  auto backend = UiBackend::Current();
  if (!backend || !receiver) return false;
  auto icon = ResolveImagePath(CPaintManagerUI::GetResourcePath(), "res/icons/" + std::to_string(iconResource) + ".png");
  // The backend calls this on the UI thread; the window gets it as a posted
  // message on its own message thread.
  icon_ = backend->CreateTrayIcon(icon, tooltip, [receiver, callbackMessage](unsigned mouse) {
    receiver->PostMessageW(callbackMessage, 0, static_cast<std::intptr_t>(mouse));
  });
  if (!icon_) {
    static std::once_flag said;
    std::call_once(said, [] { std::fputs("orlin: the desktop has no notification area; no tray icon is shown\n", stderr); });
    return false;
  }
  tooltip_ = tooltip;
  receiver_ = receiver;
  callbackMessage_ = callbackMessage;
  std::lock_guard lock(g_iconsMutex);
  g_icons.push_back(this);
  return true;
}

bool HideToTray(WindowImplBase& window, const CTrayIcon& tray) {
  if (!tray.IsVisible()) return false;
  window.ShowWindow(false, false);
  return true;
}

void CTrayIcon::DeleteTrayIcon() {
  {
    std::lock_guard lock(g_iconsMutex);
    g_icons.erase(std::remove(g_icons.begin(), g_icons.end(), this), g_icons.end());
  }
  receiver_ = nullptr;
  icon_.reset();
  tooltip_.clear();
}

}  // namespace orlin::dui
