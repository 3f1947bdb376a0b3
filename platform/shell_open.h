#pragma once
// Hands a folder, file or web address to the desktop's own handler: the file
// manager for a folder, the browser for an address.
//
// Windows: ShellExecuteW with the verb "open". POSIX: xdg-open, started
// detached. Threads: any; the call does not wait for the handler.

#include <string>

namespace orlin::platform {

// False when no handler could be started.
bool OpenWithShell(const std::wstring& target);

}  // namespace orlin::platform
