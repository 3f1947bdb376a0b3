#pragma once
// The notification-area icon: Shell_NotifyIconW with a hidden window of the
// creating thread that receives its callback message (WM_USER+1, the mouse
// message in lParam) and puts the icon back when the taskbar restarts.

#include <windows.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "ui/dui/backend.h"

namespace orlin::dui::win32 {

class GdiplusResources;

// The class of the hidden window; tests find it by this name.
inline constexpr wchar_t kTrayWindowClass[] = L"OrlinTrayWnd";

// Null when the icon cannot be shown.
std::unique_ptr<TrayIconBackend> MakeTrayIcon(GdiplusResources& resources, const std::filesystem::path& icon,
                                              const std::wstring& tooltip, std::function<void(unsigned)> onMouse);

}  // namespace orlin::dui::win32
