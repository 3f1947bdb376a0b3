#pragma once
// What the automation needs from the Qt backend: a way onto the GUI thread
// and pictures of windows as they are shown.

#include "ui/dui/automation/automation.h"
#include "ui/dui/automation/automation_server.h"

namespace orlin::automation {

// Queues tasks for the GUI thread's event loop (a QApplication must exist).
// Tasks also run while a modal window's loop runs there.
UiThreadPost QtGuiThreadPost();

// Grabs the window's canvas into a PNG (on the GUI thread, where the
// automation calls it).
WindowPicture QtWindowPicture();

}  // namespace orlin::automation
