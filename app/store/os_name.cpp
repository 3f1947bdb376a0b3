#include "app/store/os_name.h"

namespace orlin {

std::wstring OsNameFromVersion(unsigned major, unsigned minor, unsigned productType) {
  const bool workstation = productType == kProductTypeWorkstation;
  if (major == 5 && (minor == 1 || minor == 2)) return L"Windows XP";
  if (major == 6 && minor == 0) return L"Windows Vista";
  if (major == 6 && minor == 1) return workstation ? L"Windows 7" : L"Windows Server 2008";
  if (major == 6 && minor == 2) return workstation ? L"Windows 8" : L"Windows Server 2012";
  if (major == 6 && minor == 3) return workstation ? L"Windows 8.1" : L"Windows Server 2012 R2";
  if (major == 10 && minor == 0) return workstation ? L"Windows 10" : L"Windows Server 2016";
  return {};
}

std::wstring OperatingSystemName(const platform::OsIdentity& identity) {
  if (!identity.name.empty()) return identity.name;
  return OsNameFromVersion(identity.major, identity.minor, identity.productType);
}

std::wstring OperatingSystemName() { return OperatingSystemName(platform::QueryOsIdentity()); }

}  // namespace orlin
