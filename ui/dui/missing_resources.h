#pragma once
// What a window could not find of its skin: a skin file it is built from,
// an image it paints. Windows open with what they have; each missing file
// is named once, on standard error and to the handler the program sets,
// which writes it into its run log (a window program on Windows has no
// standard error to read).
//
// Threads: reports come from the threads that build and paint windows; the
// handler is called on the reporting thread, outside any lock of this file.

#include <functional>
#include <string>

namespace orlin::dui {

// Replaces the handler; null removes it. A line is "image missing or
// unreadable: <path>" or "skin missing or unreadable: <reason>".
void SetMissingResourceHandler(std::function<void(const std::string& line)> handler);

// Names a missing file; a line already reported is not repeated.
void ReportMissingResource(const std::string& line);

}  // namespace orlin::dui
