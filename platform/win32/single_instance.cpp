#include "platform/single_instance.h"

#include <windows.h>

namespace orlin::platform {

struct SingleInstanceGuard::Handle {
  HANDLE event = nullptr;
};

SingleInstanceGuard::SingleInstanceGuard(const std::wstring& name, const std::filesystem::path& /*scopeDir*/) {
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  if (event != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    anotherRuns_ = true;
    ::CloseHandle(event);
    return;
  }
  handle_ = std::make_unique<Handle>();
  handle_->event = event;  // held open for the life of the process
}

SingleInstanceGuard::~SingleInstanceGuard() {
  if (handle_ && handle_->event != nullptr) ::CloseHandle(handle_->event);
}

}  // namespace orlin::platform
