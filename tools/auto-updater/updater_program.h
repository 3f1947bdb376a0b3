#pragma once
// The AutoUpdater program apart from its window backend, which the program's
// main installs first (Qt on Linux, Win32 on Windows):
//
//   AutoUpdater updateApp
//
// Orlin's tray "Update" starts it so, from the install directory. It shows
// the updater's window (updater_wnd.h) until the user closes it. One updater
// at a time per install directory; a second start ends at once. Orlin's
// language switch reaches the window as the message 2026 itself on Windows
// and over the install directory's channel "updater" elsewhere; `postToUi`
// queues a task for the UI thread for that channel.

#include <functional>
#include <string>
#include <vector>

namespace orlin::update {

// The exit code: 0 after the window closed, 1 when it could not be made, 2
// for a command line other than "updateApp".
int RunUpdaterProgram(const std::vector<std::string>& words, std::function<void(std::function<void()>)> postToUi);

}  // namespace orlin::update
