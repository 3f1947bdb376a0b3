#include "tests/support/tarn_server.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orlin::testsupport {

TarnServer::TarnServer(const std::filesystem::path& state, std::uint16_t port, const std::string& account,
                       const std::vector<std::string>& extra) {
  const std::string portText = std::to_string(port);
  std::vector<const char*> argv{ORLIN_TEST_TARN_DEV_SERVER, "--state", state.c_str(), "--port", portText.c_str(),
                                "--user", account.c_str()};
  for (const auto& word : extra) argv.push_back(word.c_str());
  argv.push_back(nullptr);
  int out[2];
  if (::pipe(out) != 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::close(out[1]);
    ::execv(ORLIN_TEST_TARN_DEV_SERVER, const_cast<char* const*>(argv.data()));
    ::_exit(127);
  }
  ::close(out[1]);
  if (pid_ < 0) {
    ::close(out[0]);
    return;
  }
  // "ready <device ID>" once it takes logins.
  reader_ = ::fdopen(out[0], "r");
  char line[512];
  while (reader_ != nullptr && std::fgets(line, sizeof line, reader_) != nullptr) {
    const std::string text(line);
    if (text.rfind("ready ", 0) == 0) {
      deviceId_ = text.substr(6, 63);
      break;
    }
  }
}

TarnServer::~TarnServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  if (reader_ != nullptr) std::fclose(reader_);
}

}  // namespace orlin::testsupport
