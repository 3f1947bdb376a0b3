#pragma once
// A scratch directory that lives as long as the test needs it.

#include <filesystem>
#include <random>
#include <string>

namespace orlin::testsupport {

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
