// The local channel of an install directory: lines both ways, time-outs,
// shutdown from another thread, a private socket file, stale files.

#include "platform/local_socket.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "tests/support/temp_dir.h"

namespace orlin::platform {
namespace {

using namespace std::chrono_literals;

bool IsSocketFile(const std::string& name) { return name.rfind(R"(\\.\pipe\)", 0) != 0; }

TEST(LocalSocketTest, LinesTravelBothWaysWhateverTheWritesLookLike) {
  testsupport::TempDir dir;
  auto listen = ListenLocal(dir.path());
  ASSERT_TRUE(listen.server) << listen.error;

  std::thread client([&] {
    auto c = ConnectLocal(dir.path());
    ASSERT_TRUE(c.connection) << c.error;
    // One line in pieces, then two lines and a Windows line end in one write.
    ASSERT_EQ(c.connection->Write("{\"op\":", 5s), LocalIo::kOk);
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(c.connection->Write("\"windows\"}\nsecond\r\nthird\n", 5s), LocalIo::kOk);
    auto answer = c.connection->ReadLine(60s);
    EXPECT_EQ(answer.status, LocalIo::kOk);
    EXPECT_EQ(answer.line, "fine \xe4\xb8\xad");
  });

  auto connection = listen.server->Accept();
  ASSERT_TRUE(connection);
  std::vector<std::string> lines;
  for (int i = 0; i < 3; ++i) {
    auto read = connection->ReadLine(60s);
    ASSERT_EQ(read.status, LocalIo::kOk);
    lines.push_back(read.line);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"{\"op\":\"windows\"}", "second", "third"}));
  EXPECT_EQ(connection->Write("fine \xe4\xb8\xad\n", 5s), LocalIo::kOk);
  client.join();
  // The client went away: the next read says so instead of waiting.
  EXPECT_EQ(connection->ReadLine(60s).status, LocalIo::kClosed);
}

TEST(LocalSocketTest, ReadsTimeOutAndOverlongLinesFail) {
  testsupport::TempDir dir;
  auto listen = ListenLocal(dir.path());
  ASSERT_TRUE(listen.server) << listen.error;
  auto c = ConnectLocal(dir.path());
  ASSERT_TRUE(c.connection) << c.error;
  auto server = listen.server->Accept();
  ASSERT_TRUE(server);

  ASSERT_EQ(c.connection->Write("no line end yet", 5s), LocalIo::kOk);
  EXPECT_EQ(server->ReadLine(100ms).status, LocalIo::kTimedOut);
  // What arrived is kept for the next read.
  ASSERT_EQ(c.connection->Write(" - now\n", 5s), LocalIo::kOk);
  auto read = server->ReadLine(60s);
  EXPECT_EQ(read.line, "no line end yet - now");

  ASSERT_EQ(c.connection->Write(std::string(5000, 'x') + "\n", 5s), LocalIo::kOk);
  EXPECT_EQ(server->ReadLine(60s, 1000).status, LocalIo::kFailed);
}

TEST(LocalSocketTest, ShutdownWakesABlockedAcceptAndABlockedRead) {
  testsupport::TempDir dir;
  auto listen = ListenLocal(dir.path());
  ASSERT_TRUE(listen.server) << listen.error;

  std::thread stopper([&] {
    std::this_thread::sleep_for(100ms);
    listen.server->Shutdown();
  });
  EXPECT_EQ(listen.server->Accept(), nullptr);
  stopper.join();

  auto listen2 = std::move(listen);
  listen2.server.reset();
  auto again = ListenLocal(dir.path());
  ASSERT_TRUE(again.server) << again.error;
  auto c = ConnectLocal(dir.path());
  ASSERT_TRUE(c.connection) << c.error;
  auto server = again.server->Accept();
  ASSERT_TRUE(server);
  std::thread closer([&] {
    std::this_thread::sleep_for(100ms);
    server->Shutdown();
  });
  EXPECT_EQ(server->ReadLine(120s).status, LocalIo::kClosed);
  closer.join();
  EXPECT_EQ(server->ReadLine(120s).status, LocalIo::kClosed);
}

TEST(LocalSocketTest, NobodyListensWithoutAServerAndAfterItEnded) {
  testsupport::TempDir dir;
  auto none = ConnectLocal(dir.path());
  EXPECT_FALSE(none.connection);
  EXPECT_TRUE(none.nobodyListens);
  EXPECT_NE(none.error.find(LocalChannelName(dir.path())), std::string::npos) << none.error;

  auto listen = ListenLocal(dir.path());
  ASSERT_TRUE(listen.server) << listen.error;
  listen.server.reset();
  auto after = ConnectLocal(dir.path());
  EXPECT_FALSE(after.connection);
  EXPECT_TRUE(after.nobodyListens) << after.error;
}

TEST(LocalSocketTest, TheSocketFileIsThisUsersAloneAndGoesWithTheServer) {
  testsupport::TempDir dir;
  const std::string name = LocalChannelName(dir.path());
  if (!IsSocketFile(name)) GTEST_SKIP() << "a named pipe has no file";
  auto listen = ListenLocal(dir.path());
  ASSERT_TRUE(listen.server) << listen.error;
  auto status = std::filesystem::status(name);
  EXPECT_EQ(status.type(), std::filesystem::file_type::socket);
  EXPECT_EQ(status.permissions(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  listen.server.reset();
  EXPECT_FALSE(std::filesystem::exists(name));
}

TEST(LocalSocketTest, AStaleSocketIsReplacedButALiveOneOrAnotherFileIsLeftAlone) {
  testsupport::TempDir dir;
  const std::string name = LocalChannelName(dir.path());
  if (!IsSocketFile(name)) GTEST_SKIP() << "a named pipe has no file";

  // A server that still listens keeps its socket.
  auto first = ListenLocal(dir.path());
  ASSERT_TRUE(first.server) << first.error;
  auto second = ListenLocal(dir.path());
  EXPECT_FALSE(second.server);
  EXPECT_NE(second.error.find("another program listens"), std::string::npos) << second.error;
  auto c = ConnectLocal(dir.path());
  ASSERT_TRUE(c.connection) << c.error;
  ASSERT_TRUE(first.server->Accept());

  // A server that crashed left its socket file behind: the next one takes
  // over. (The file is moved aside while its server ends, so it survives as
  // a socket nobody listens on.)
  first.server.reset();
  c.connection.reset();
  ASSERT_FALSE(std::filesystem::exists(name));
  const auto aside = dir.path() / "aside.sock";
  {
    auto crashed = ListenLocal(dir.path());
    ASSERT_TRUE(crashed.server) << crashed.error;
    std::filesystem::rename(name, aside);
  }
  std::filesystem::rename(aside, name);
  ASSERT_EQ(std::filesystem::status(name).type(), std::filesystem::file_type::socket);
  auto replaced = ListenLocal(dir.path());
  ASSERT_TRUE(replaced.server) << replaced.error;
  auto c2 = ConnectLocal(dir.path());
  EXPECT_TRUE(c2.connection) << c2.error;
  replaced.server.reset();

  // A regular file of that name is not ours to remove.
  std::ofstream(name) << "somebody's notes";
  auto refused = ListenLocal(dir.path());
  EXPECT_FALSE(refused.server);
  EXPECT_NE(refused.error.find("not a socket"), std::string::npos) << refused.error;
  std::ifstream in(name);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "somebody's notes");
}

TEST(LocalSocketTest, AnInstallDirectoryWithAVeryLongPathWorks) {
  testsupport::TempDir dir;
  auto deep = dir.path() / std::string(90, 'd') / std::string(90, 'e');
  std::filesystem::create_directories(deep);
  auto listen = ListenLocal(deep);
  ASSERT_TRUE(listen.server) << listen.error;
  auto c = ConnectLocal(deep);
  ASSERT_TRUE(c.connection) << c.error;
  auto server = listen.server->Accept();
  ASSERT_TRUE(server);
  ASSERT_EQ(c.connection->Write("deep\n", 5s), LocalIo::kOk);
  EXPECT_EQ(server->ReadLine(60s).line, "deep");
  if (IsSocketFile(LocalChannelName(deep))) {
    EXPECT_TRUE(std::filesystem::exists(LocalChannelName(deep)));
  }
}

}  // namespace
}  // namespace orlin::platform
