// The socket file keeps other users out (run as root, the test becomes
// another user in a child process).

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/local_socket.h"
#include "tests/support/temp_dir.h"

namespace orlin::platform {
namespace {

TEST(LocalSocketPosixTest, AnotherUserCannotConnect) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  testsupport::TempDir dir;
  // The directory itself open to all, so only the socket's own mode decides.
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  auto listen = ListenLocal(dir.path());
  ASSERT_TRUE(listen.server) << listen.error;

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    auto c = ConnectLocal(dir.path());
    ::_exit(c.connection ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the other user connected; 3: could not become another user";
}

}  // namespace
}  // namespace orlin::platform
