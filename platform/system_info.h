#pragma once
// What the running computer says about itself: the facts behind the operating
// system name and the computer name that Orlin reports to the Tarn server at
// login.
//
// The readable system name is composed by app/os_name.h (OperatingSystemName),
// which holds the Windows version table; this layer only gathers the facts.

#include <string>

namespace orlin::platform {

struct OsIdentity {
  // Windows: the version of the running system (major.minor) and its product
  // type (1 = workstation). Zero elsewhere.
  unsigned major = 0;
  unsigned minor = 0;
  unsigned productType = 0;
  // Systems outside the Windows table name themselves: on Linux the
  // PRETTY_NAME of os-release (e.g. "Debian GNU/Linux 12 (bookworm)").
  // Empty on Windows and when nothing can be read.
  std::wstring name;
};

OsIdentity QueryOsIdentity();

// Room for the computer name, terminator included: a longer name cannot be
// read and counts as a failure.
inline constexpr std::size_t kComputerNameBufferChars = 33;

// The computer name (at most 32 characters); empty when it cannot be read.
std::wstring ComputerName();

}  // namespace orlin::platform
