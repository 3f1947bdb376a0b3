#include "platform/shell_open.h"

#include <windows.h>
#include <shellapi.h>

namespace orlin::platform {

bool OpenWithShell(const std::wstring& target) {
  if (target.empty()) return false;
  auto result = reinterpret_cast<INT_PTR>(
      ::ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, nullptr, SW_SHOWDEFAULT));
  return result > 32;
}

}  // namespace orlin::platform
