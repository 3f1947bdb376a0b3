#pragma once
// The operating system name Orlin reports to the Tarn server at login.

#include <string>

#include "platform/system_info.h"

namespace orlin {

// Product type of a workstation (VER_NT_WORKSTATION); every other product
// type counts as a server.
inline constexpr unsigned kProductTypeWorkstation = 1;

// The name of a Windows version, e.g. (10, 0, 1) -> "Windows 10" and
// (6, 1, 3) -> "Windows Server 2008"; empty for versions outside the table
// (Windows 2000 is 5.0 and gets the empty name).
std::wstring OsNameFromVersion(unsigned major, unsigned minor, unsigned productType);

// The name for `identity`: the name the system gives itself when it has one
// (systems outside the Windows table), else the Windows table.
std::wstring OperatingSystemName(const platform::OsIdentity& identity);

// The name of the running system.
std::wstring OperatingSystemName();

}  // namespace orlin
