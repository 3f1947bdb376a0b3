#include "platform/shell_open.h"

#include "platform/process.h"

namespace orlin::platform {

bool OpenWithShell(const std::wstring& target) {
  // The command line is split again by the process table's quoting rule, in
  // which a double quote only switches quoting: a target holding one could
  // not be passed whole, so it is refused rather than passed in pieces.
  if (target.empty() || target.find(L'"') != std::wstring::npos) return false;
  SystemProcessTable processes;
  return processes.StartHidden(L"xdg-open \"" + target + L"\"").has_value();
}

}  // namespace orlin::platform
