#include "platform/system_info.h"

#include <windows.h>

namespace orlin::platform {

OsIdentity QueryOsIdentity() {
  // The application manifest lists the supported systems, so the answer is
  // the real version and not the one Windows reports to unaware programs.
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
  OsIdentity id;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return id;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  id.major = info.dwMajorVersion;
  id.minor = info.dwMinorVersion;
  id.productType = info.wProductType;
  return id;
}

std::wstring ComputerName() {
  wchar_t buffer[kComputerNameBufferChars] = {};
  DWORD size = kComputerNameBufferChars;
  if (!::GetComputerNameW(buffer, &size)) return {};
  return std::wstring(buffer, size);
}

}  // namespace orlin::platform
