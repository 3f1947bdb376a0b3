// orlin-cli as a user runs it: the checks that come before the engine is
// touched. Each run is wrapped in a network and process namespace of its
// own, so a run that got further than it should would see no engine but
// its own and no network but loopback.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/single_instance.h"
#include "tests/support/engine_harness.h"
#include "tests/support/http_test_server.h"
#include "tests/support/namespace_guard.h"
#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

namespace fs = std::filesystem;

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class OrlinCli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("unshare -n -p -f --mount-proc true >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "needs network and process namespaces (root)";
    }
    install_ = dir_.path() / "install dir";
    fs::create_directories(install_);
    for (const char* name : {"lang.xml", "setting.xml", "userconfig.xml", "Orlin.ini"}) {
      fs::copy_file(fs::path(ORLIN_DIST_DIR) / name, install_ / name);
    }
  }

  // `input` is what standard input holds (nothing: empty).
  CliRun Cli(const std::string& words, const std::string& input = "") const {
    const fs::path out = dir_.path() / "out.txt";
    const fs::path err = dir_.path() / "err.txt";
    const fs::path in = dir_.path() / "in.txt";
    std::ofstream(in, std::ios::binary) << input;
    const std::string command = "timeout 20 unshare -n -p -f --mount-proc '" ORLIN_CLI_PATH "' " + words + " <'" +
                                in.string() + "' >'" + out.string() + "' 2>'" + err.string() + "'";
    const int status = std::system(command.c_str());
    CliRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(out);
    run.err = ReadFile(err);
    return run;
  }

  std::string InstallWord() const { return "--install-dir '" + install_.string() + "'"; }

  // The start-up sequence leaves a run log and an engine home behind.
  bool StartUpRan() const { return fs::exists(install_ / "log") || fs::exists(install_ / "syncconfig"); }

  testsupport::TempDir dir_;
  fs::path install_;
};

TEST_F(OrlinCli, UsageErrorsFailBeforeTheEngineIsTouched) {
  CliRun run = Cli("");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("usage: orlin-cli"), std::string::npos);

  run = Cli("--help");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("logoff"), std::string::npos);
  // The help says where the password comes from without --password.
  EXPECT_NE(run.out.find("the password is read from standard input"), std::string::npos) << run.out;

  run = Cli(InstallWord() + " sync-everything");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("unknown command \"sync-everything\""), std::string::npos);

  run = Cli(InstallWord() + " login --server 127.0.0.1:8443 --password x --folder '" + (dir_.path() / "f").string() +
            "'");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("--user"), std::string::npos);
  EXPECT_FALSE(StartUpRan());
}

// Whatever the locale, a folder named outside ASCII reaches the checks whole
// and is named back unchanged (here: a file, which cannot be a sync folder,
// refused before the start-up touches the engine).
TEST_F(OrlinCli, FolderNamesOutsideAsciiArePassedWhole) {
  const fs::path file = dir_.path() / fs::path(u8"\u540C\u6B65 \u6587\u4EF6");
  std::ofstream(file) << "x";
  const CliRun run = Cli(InstallWord() + " login --server 127.0.0.1:8443 --user u --password p --folder '" +
                         file.string() + "'");
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find("cannot use the folder " + file.string()), std::string::npos) << run.err;
  EXPECT_FALSE(StartUpRan());
}

TEST_F(OrlinCli, StatusOptionsAreCheckedBeforeTheEngineIsTouched) {
  const struct {
    const char* words;
    const char* says;
  } cases[] = {
      {"status --wait", "--wait needs a value"},
      {"status --for soon", "--for takes a number of seconds"},
      {"status --timeout -5", "--timeout takes a number of seconds"},
      {"status --timeout 10s", "--timeout takes a number of seconds"},
      {"status --wait \"Up to date\" --for 10", "do not go together"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words);
    const CliRun run = Cli(InstallWord() + " " + c.words);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_FALSE(StartUpRan());
}

TEST_F(OrlinCli, RefusesWhileOrlinRunsForTheSameInstall) {
  platform::SingleInstanceGuard running(platform::kInstanceEventName, install_);
  ASSERT_FALSE(running.AnotherInstanceRuns());
  for (const char* command : {"logoff", "pause", "refresh"}) {
    SCOPED_TRACE(command);
    const CliRun run = Cli(InstallWord() + " " + command);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("already running"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(StartUpRan());
}

// Without --password and with nothing on standard input there is no
// password: the login ends before the start-up touches the engine.
TEST_F(OrlinCli, ALoginWithoutAnyPasswordEndsBeforeTheEngineIsTouched) {
  const CliRun run = Cli(InstallWord() + " login --server 127.0.0.1:8443 --user u --folder '" +
                         (dir_.path() / "f").string() + "'");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("no password"), std::string::npos) << run.err;
  EXPECT_FALSE(StartUpRan());
}

// The password handed over standard input is the one the server receives,
// whole (beyond ASCII, with blanks), and it never stood on a command line.
TEST(OrlinCliLogin, ThePasswordComesFromStandardInput) {
  ORLIN_REQUIRE_PRIVATE_NETWORK();
  const std::string reason = testsupport::EngineUnavailableReason();
  if (!reason.empty()) GTEST_SKIP() << "the real engine cannot run here: " << reason;
  if (std::system("unshare -p -f --mount-proc true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs process namespaces (root)";
  }
  testsupport::ScratchInstall install;
  ASSERT_EQ(install.error(), "");
  testsupport::HttpTestServer tarn;
  tarn.SetDefaultAnswer(testsupport::ScriptedAnswer::Respond(200, "Failed: wrong password"));

  const fs::path in = install.root() / "in.txt";
  const fs::path out = install.root() / "out.txt";
  const fs::path err = install.root() / "err.txt";
  std::ofstream(in, std::ios::binary) << "p\xC3\xA4ss w0rd\r\n";
  // The network is this test's private one; the process namespace ends the
  // run's engine with it.
  const std::string command = "timeout 180 unshare -p -f --mount-proc '" ORLIN_CLI_PATH "' --install-dir '" +
                              install.installDir().string() + "' login --server " + tarn.BaseUrl() +
                              " --user anna --folder '" + (install.root() / "Tarn").string() + "' <'" + in.string() +
                              "' >'" + out.string() + "' 2>'" + err.string() + "'";
  const int status = std::system(command.c_str());
  const std::string errors = ReadFile(err);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << errors;
  ASSERT_EQ(tarn.RequestCount(), 1u) << "the login did not reach the server within the limit:\n" << errors;
  const std::string body = tarn.Requests()[0].body;
  EXPECT_EQ(body.rfind("username=anna&password=p%C3%A4ss%20w0rd&deviceid=", 0), 0u) << body;
  EXPECT_NE(errors.find("Login Failed!"), std::string::npos) << errors;
}

}  // namespace
}  // namespace orlin
