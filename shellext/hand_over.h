#pragma once
// What choosing "Using Orlin to Synchronize" does with the selected path, the
// same for the Windows context menu handler and Linux's `ravel`: the running
// Orlin's main window gets the path (WM_COPYDATA, waiting until its copy
// window closed); nothing happens while Orlin shows its login window; with no
// Orlin running, Orlin is started with the path, and copies it once its main
// view is up.
//
// Threads: blocks the calling thread (the file manager's thread that chose
// the entry) as long as the window takes to answer.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/window_lookup.h"

namespace orlin::ravel {

enum class HandOver {
  kSent,           // the main window handled the path
  kWindowWentAway, // the main window went away before it answered
  kLoginShows,     // Orlin shows its login window: nothing was done
  kStarted,        // no Orlin ran; one was started with the path
  kStartFailed,    // no Orlin ran and none could be started
  kNoPath,         // nothing was selected
};

struct HandOverDesktop {
  // Finds the main window (platform::FindMainWindow in the product).
  std::function<std::unique_ptr<platform::MainWindowLink>(const platform::MainWindowQuery&)> findMainWindow;
  // Starts Orlin with the path; false when it could not be started.
  std::function<bool(const std::wstring& path)> startOrlin;
};

// The main window of the install directory `installDir` (Windows: any).
platform::MainWindowQuery OrlinMainWindow(const std::filesystem::path& installDir);

HandOver HandPathToOrlin(const std::wstring& path, const platform::MainWindowQuery& query,
                         const HandOverDesktop& desktop);

}  // namespace orlin::ravel
