#pragma once
// The Orlin program from its start to its exit, the same on every system:
// the user's install directory, the crash handler, one Orlin per user (a
// second start hands a path it was started with to the first and ends), the
// watchdog, the window layer, the main window and its services, orlin-ctl's
// automation, the mailbox for paths from the file manager, the message loop
// and the clean exit.
//
// What differs between systems is only the window system under the window
// layer (Qt on Linux, Win32 on Windows): each system's main supplies it as a
// ProgramWindowSystem and hands the run to RunOrlin. On Windows WM_COPYDATA
// and the exit request 2024 reach the main window itself; elsewhere the
// mailbox stands in for them (platform/window_lookup.h).

#include <filesystem>
#include <string>
#include <vector>

#include "ui/dui/automation/automation_server.h"

namespace orlin::program {

class ProgramWindowSystem {
 public:
  virtual ~ProgramWindowSystem() = default;

  // On the UI thread, once this start is the only Orlin of the user and the
  // watchdog runs: brings up the toolkit's application object (if it has
  // one) and installs the window layer's backend. `programIcon` is the
  // program's icon image in the install directory.
  virtual void Start(const std::filesystem::path& programIcon) = 0;

  // Queues a task for the UI thread; any thread, never runs it at once. The
  // automation's requests and the mailbox's paths cross to the UI thread
  // here; tasks also run while a modal window's loop runs there.
  virtual automation::UiThreadPost UiThreadPost() = 0;

  // A window as it is shown, for orlin-ctl's pictures (on the UI thread).
  virtual automation::WindowPicture WindowPicture() = 0;
};

// Runs Orlin with the program's arguments after its own name (UTF-8, as
// platform::ProgramArguments gives them). Returns the process's exit code:
// 0 for every orderly end, also a second start; 1 when the user's install
// directory or the main window cannot be made.
int RunOrlin(const std::vector<std::string>& arguments, ProgramWindowSystem& windowSystem);

}  // namespace orlin::program
