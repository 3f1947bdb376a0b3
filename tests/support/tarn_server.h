#pragma once
// The Tarn server stand-in (tools/tarn-dev-server) for end-to-end tests:
// started as a child of the test process, so it runs in the test's private
// network namespace, and stopped with SIGTERM, which also ends its engine.
// Join the private network (namespace_guard.h) before starting it.

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace orlin::testsupport {

class TarnServer {
 public:
  // Serves HTTPS on `port` for `account` ("name:password") and keeps its
  // state under `state`. Returns once the stand-in said it takes logins,
  // or once it ended without saying so (deviceId() is empty then).
  // `extra` are further options of the stand-in ("--updates", DIR).
  TarnServer(const std::filesystem::path& state, std::uint16_t port, const std::string& account,
             const std::vector<std::string>& extra = {});
  ~TarnServer();
  TarnServer(const TarnServer&) = delete;
  TarnServer& operator=(const TarnServer&) = delete;

  // The device ID of the stand-in's engine; empty when it did not start.
  const std::string& deviceId() const { return deviceId_; }

 private:
  pid_t pid_ = -1;
  std::FILE* reader_ = nullptr;
  std::string deviceId_;
};

}  // namespace orlin::testsupport
