#pragma once
// A scratch directory that lives as long as the test needs it.

#include <filesystem>
#include <random>
#include <string>

namespace orlin::testsupport {

// Whether files carry POSIX permission bits. On Windows the library reports
// made-up bits (access is the profile folder's ACL), so owner-only checks
// apply only where the bits are real.
// Whether the blocking HTTP client is libcurl (POSIX) rather than WinInet.
#if defined(_WIN32)
inline constexpr bool kPosixFileModes = false;
inline constexpr bool kCurlTransport = false;
#else
inline constexpr bool kPosixFileModes = true;
inline constexpr bool kCurlTransport = true;
#endif

// True when nobody but the owner may read or write `path`.
inline bool OwnerOnly(const std::filesystem::path& path) {
  const auto perms = std::filesystem::status(path).permissions();
  return (perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all)) ==
         std::filesystem::perms::none;
}

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
      auto candidate = std::filesystem::temp_directory_path() / ("orlin-test-" + std::to_string(rd()));
      if (std::filesystem::create_directory(candidate)) {
        path_ = candidate;
        return;
      }
    }
    throw std::runtime_error("cannot create a temporary directory");
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace orlin::testsupport
