#pragma once
// The single-instance guard: the first Orlin process of a user claims a name
// and holds it for its whole life; a later process finds it taken and ends.
// Nobody waits on the claim; it is only an existence test.
//
// Windows: a named event (no security attributes, manual reset, initially not
// signalled); a second creation reports that it already exists.
// POSIX: an exclusive advisory lock on "<scopeDir>/<name>.lock"; the lock is
// dropped by the system when the holder ends, even after a crash.

#include <filesystem>
#include <memory>
#include <string>

namespace orlin::platform {

inline constexpr wchar_t kInstanceEventName[] = L"EVENT_ORLIN_HERE";

class SingleInstanceGuard {
 public:
  // Tries to claim `name`. `scopeDir` is where POSIX keeps the lock file
  // (normally the install directory); Windows ignores it.
  SingleInstanceGuard(const std::wstring& name, const std::filesystem::path& scopeDir);
  ~SingleInstanceGuard();  // releases the claim if this object holds it
  SingleInstanceGuard(const SingleInstanceGuard&) = delete;
  SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

  // True when another process (or another guard) already held the name.
  bool AnotherInstanceRuns() const { return anotherRuns_; }

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
  bool anotherRuns_ = false;
};

}  // namespace orlin::platform
