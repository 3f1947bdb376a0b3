#pragma once
// The automation of the windows: answers orlin-ctl's requests against the
// live control model, doing what a user's hands would do. Clicks travel as
// mouse messages through the window's own message handling (a hidden,
// disabled or covered control is refused, as the mouse would miss it), typing
// goes into an edit as the user's text ("textchanged"), keys arrive as
// WM_KEYDOWN with their modifiers, tray clicks as the tray icon's callback
// message, and menu items are clicked in the open menu window.
//
// Threads: Handle runs on the UI thread (the thread of the program's message
// loop). A window whose messages are handled on another thread (a modal
// window run on a worker with the headless backend) is worked on by a task
// dispatched to that thread; `done` is then called there.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "ui/dui/automation/protocol.h"

namespace orlin::dui {
class WindowImplBase;
}

namespace orlin::automation {

// Renders `window` as it is shown into a PNG at `file`; false on failure.
// Called on the window's message thread. Toolkits that can draw provide it.
using WindowPicture = std::function<bool(dui::WindowImplBase& window, const std::filesystem::path& file)>;

// A key combination as written on orlin-ctl's command line ("ctrl+shift+l",
// "enter", "alt+f4"): the virtual key code and the kKeyMod* flags.
struct KeyChord {
  unsigned vk = 0;
  unsigned modifiers = 0;
};
std::optional<KeyChord> ParseKeys(const std::string& keys, std::string* error);

class Automation {
 public:
  // `picture` may be empty: "shot" then answers that no picture can be taken.
  explicit Automation(WindowPicture picture = {});

  // Answers `request`; `done` is called exactly once (see Threads above).
  void Handle(const Request& request, const std::function<void(Answer)>& done);

 private:
  WindowPicture picture_;
};

}  // namespace orlin::automation
