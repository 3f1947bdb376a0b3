#pragma once
// What the automation needs from the Win32 backend: a way onto the UI
// thread and pictures of windows as they are shown.

#include "ui/dui/automation/automation.h"
#include "ui/dui/automation/automation_server.h"

namespace orlin::automation {

// Queues tasks for the UI thread of the installed Win32 backend (the thread
// that made it). Tasks also run while a modal window's loop runs there.
UiThreadPost Win32GuiThreadPost();

// Paints the window and its native children into a PNG (on the window's
// thread, where the automation calls it).
WindowPicture Win32WindowPicture();

}  // namespace orlin::automation
