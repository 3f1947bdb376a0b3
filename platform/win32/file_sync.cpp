#include "platform/file_sync.h"

#include <windows.h>

namespace orlin::platform {

std::error_code WriteAndSync(const std::filesystem::path& file, std::string_view data, unsigned /*mode*/) {
  HANDLE h = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {static_cast<int>(::GetLastError()), std::system_category()};
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!::WriteFile(h, p, chunk, &written, nullptr)) {
      const DWORD err = ::GetLastError();
      ::CloseHandle(h);
      return {static_cast<int>(err), std::system_category()};
    }
    p += written;
    left -= written;
  }
  if (!::FlushFileBuffers(h)) {
    const DWORD err = ::GetLastError();
    ::CloseHandle(h);
    return {static_cast<int>(err), std::system_category()};
  }
  ::CloseHandle(h);
  return {};
}

unsigned long CurrentProcessId() { return ::GetCurrentProcessId(); }

unsigned DefaultFileMode() { return 0644; }

}  // namespace orlin::platform
