// The engine supervision and configuration reads against the real engine,
// laid out in a scratch install as `cmake --install` lays it out. Each test
// runs its engines in this test process's private network namespace.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "common/message_presenter.h"
#include "common/text.h"
#include "engine/config_file.h"
#include "engine/engine_process.h"
#include "tests/support/engine_harness.h"
#include "tests/support/namespace_guard.h"
#include "tests/support/rest_probe.h"

namespace orlin {
namespace {

using namespace std::chrono_literals;
using testsupport::InstallProcessTable;
using testsupport::ScratchInstall;

class RecordingPresenter : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring& title, const std::wstring& key, bool showCancel) override {
    std::lock_guard<std::mutex> lock(mutex_);
    keys_.push_back(key);
    titles_.push_back(title);
    cancelShown_ = showCancel;
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring&, bool) override { ADD_FAILURE() << "no login here"; }
  std::vector<std::wstring> Keys() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return keys_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::wstring> keys_;
  std::vector<std::wstring> titles_;
  bool cancelShown_ = false;
};

// Sets an environment variable for the engines started in one test.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) { ::setenv(name, value, 1); }
  ~ScopedVariable() { ::unsetenv(name_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
};

// Lets the real clock run but keeps the message pacing short, so a run of
// failed starts shows several messages within a test.
EngineProcessOptions QuickOptions() {
  EngineProcessOptions options;
  options.messageInterval = 200ms;
  options.maxRetryDelay = 50ms;
  return options;
}

class RealEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    ORLIN_REQUIRE_PRIVATE_NETWORK();
    const std::string reason = testsupport::EngineUnavailableReason();
    if (!reason.empty()) GTEST_SKIP() << "the real engine cannot run here: " << reason;
  }

  // Starts the engine of `install` through the supervisor and waits until it
  // answers REST; returns the API key.
  std::string StartAndWait(ScratchInstall& install, EngineProcess& engine) {
    EXPECT_TRUE(engine.EnsureRunning());
    EXPECT_TRUE(install.WaitForConfig(30s)) << "the engine wrote no config.xml";
    std::string apiKey;
    EngineConfigFile config(install.layout().EngineConfig(), presenter_);
    // The engine writes config.xml before it fills every element; read until
    // the key is there.
    for (int i = 0; i < 100 && apiKey.empty(); ++i) {
      if (!config.ReadApiKey(apiKey)) std::this_thread::sleep_for(50ms);
    }
    EXPECT_FALSE(apiKey.empty());
    EXPECT_TRUE(install.WaitForRest(apiKey, 30s)) << "the engine does not answer on 18384";
    return apiKey;
  }

  RecordingPresenter presenter_;
  SystemClock clock_;
};

TEST_F(RealEngine, FirstStartCreatesTheConfigurationTheProductReads) {
  ScratchInstall install;
  ASSERT_EQ(install.error(), "");
  ASSERT_FALSE(std::filesystem::exists(install.layout().EngineHome()));
  InstallProcessTable table(install);
  EngineProcess engine(install.installDir(), table, presenter_, clock_);

  const std::string apiKey = StartAndWait(install, engine);

  // Both engine processes carry the name the supervisor looks for.
  EXPECT_TRUE(engine.IsRunning());
  EXPECT_EQ(engine.ProcessCount(), 2);
  auto entries = table.Scan();
  ASSERT_TRUE(entries.has_value());
  for (const auto& entry : *entries) EXPECT_EQ(entry.imageName, L"Sync.exe");

  // The reads of the start-up work on what the engine wrote.
  EngineConfigFile config(install.layout().EngineConfig(), presenter_);
  SyncSettings settings;
  settings.sendLimit = 77;
  EXPECT_TRUE(config.ReadRateLimits(settings));
  EXPECT_EQ(settings.sendLimit, 0);
  EXPECT_TRUE(config.ReadFolderPath(settings));
  EXPECT_FALSE(settings.syncFolderPath.empty());
  EXPECT_TRUE(config.ReadFolderType(settings));
  EXPECT_FALSE(ReadFolderIdentifier(install.layout().EngineConfig()).empty());
  EXPECT_TRUE(presenter_.Keys().empty());

  // The REST address is the product's, whatever config.xml says.
  const auto status = testsupport::RestGet(testsupport::kEngineRestPort, "/rest/system/status", apiKey);
  EXPECT_EQ(status.status, 200);
  EXPECT_NE(status.body.find("\"myID\""), std::string::npos);
  EXPECT_EQ(testsupport::RestGet(testsupport::kEngineRestPort, "/rest/system/status", "wrong").status, 403);

  engine.TerminateAll();
  EXPECT_TRUE(engine.StopAll());
  EXPECT_TRUE(install.EngineProcesses().empty());
}

TEST_F(RealEngine, EnsureRunningBringsBackAKilledEngine) {
  ScratchInstall install;
  ASSERT_EQ(install.error(), "");
  InstallProcessTable table(install);
  EngineProcess engine(install.installDir(), table, presenter_, clock_);
  const std::string apiKey = StartAndWait(install, engine);
  ASSERT_EQ(table.starts(), 1);

  ASSERT_TRUE(install.KillEngineProcesses());
  EXPECT_FALSE(engine.IsRunning());
  EXPECT_FALSE(testsupport::RestGet(testsupport::kEngineRestPort, "/rest/system/ping", apiKey, 500ms).connected);

  // A second start on the existing home keeps its key and answers again.
  EXPECT_TRUE(engine.EnsureRunning());
  EXPECT_EQ(table.starts(), 2);
  EXPECT_TRUE(install.WaitForRest(apiKey, 30s));
  // Running already: nothing more is started.
  EXPECT_TRUE(engine.EnsureRunning());
  EXPECT_EQ(table.starts(), 2);
  EXPECT_TRUE(engine.StopAll());
}

TEST_F(RealEngine, TheEngineComesBackByItselfAfterARestartRequest) {
  // Left in the environment Orlin was started from, these would make the
  // engine end on a restart request and listen elsewhere; Sync.exe must not
  // pass them on.
  ScopedVariable noRestart("STNORESTART", "1");
  ScopedVariable otherAddress("STGUIADDRESS", "127.0.0.1:8384");
  ScratchInstall install;
  ASSERT_EQ(install.error(), "");
  InstallProcessTable table(install);
  EngineProcess engine(install.installDir(), table, presenter_, clock_);
  const std::string apiKey = StartAndWait(install, engine);
  const auto before = install.EngineProcesses();
  ASSERT_EQ(before.size(), 2u);

  const auto answer = testsupport::RestPost(testsupport::kEngineRestPort, "/rest/system/restart", apiKey);
  EXPECT_EQ(answer.status, 200);
  EXPECT_NE(answer.body.find("restarting"), std::string::npos) << answer.body;
  // REST goes away while the engine restarts, then answers again without
  // the supervisor starting anything.
  bool wentAway = false;
  for (int i = 0; i < 100 && !wentAway; ++i) {
    wentAway = !testsupport::RestGet(testsupport::kEngineRestPort, "/rest/system/ping", apiKey, 200ms).connected;
    if (!wentAway) std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(wentAway);
  EXPECT_TRUE(install.WaitForRest(apiKey, 30s));
  EXPECT_EQ(table.starts(), 1);

  // The monitor stayed; the engine proper is a new process of the same name.
  const auto after = install.EngineProcesses();
  ASSERT_EQ(after.size(), 2u);
  int kept = 0;
  for (auto pid : after) kept += static_cast<int>(std::count(before.begin(), before.end(), pid));
  EXPECT_EQ(kept, 1);
  auto entries = table.Scan();
  ASSERT_TRUE(entries.has_value());
  ASSERT_EQ(entries->size(), 2u);
  for (const auto& entry : *entries) EXPECT_EQ(entry.imageName, L"Sync.exe");
  EXPECT_TRUE(engine.StopAll());
}

TEST_F(RealEngine, SyncExeWithoutItsEngineEndsAtOnceWithAFailure) {
  ScratchInstall install;
  ASSERT_EQ(install.error(), "");
  std::filesystem::remove(install.installDir() / "engine" / "Sync.exe");
  const std::string wrapper = install.layout().EngineExecutable().string();
  const std::string home = "-home=" + install.layout().EngineHome().string();
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl(wrapper.c_str(), wrapper.c_str(), "-no-browser", "-no-console", home.c_str(), static_cast<char*>(nullptr));
    ::_exit(126);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 127);
  EXPECT_FALSE(std::filesystem::exists(install.layout().EngineHome()));
}

TEST_F(RealEngine, AnInstallPathWithBlanksGetsTheQuotedCommandLine) {
  ScratchInstall install("Program Files/Tarn Orlin");
  ASSERT_EQ(install.error(), "");
  InstallProcessTable table(install);
  EngineProcess engine(install.installDir(), table, presenter_, clock_);
  const std::wstring commandLine = engine.CommandLine();
  EXPECT_EQ(commandLine.front(), L'"');
  EXPECT_NE(commandLine.find(L"-home=\""), std::wstring::npos);

  StartAndWait(install, engine);
  // The engine's home is the one with the blanks, not a piece of it.
  EXPECT_TRUE(std::filesystem::exists(install.layout().EngineConfig()));
  EXPECT_EQ(install.EngineProcesses().size(), 2u);
  EXPECT_TRUE(engine.StopAll());
}

TEST_F(RealEngine, AnyProcessCalledSyncExeInAnyCaseCounts) {
  ScratchInstall install;
  ASSERT_EQ(install.error(), "");
  // A stand-in that is not the engine at all: `sleep` started as SYNC.EXE.
  const auto fake = install.installDir() / "SYNC.EXE";
  std::filesystem::copy_file("/bin/sleep", fake);
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl(fake.c_str(), fake.c_str(), "30", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(child, 0);

  // The test's table sees the processes of this namespace only, so an
  // engine of a test running beside this one cannot stand in for the fake.
  InstallProcessTable table(install);
  EngineProcess engine(install.installDir(), table, presenter_, clock_);
  bool seen = false;
  for (int i = 0; i < 100 && !seen; ++i) {
    auto entries = table.Scan();
    ASSERT_TRUE(entries.has_value());
    for (const auto& entry : *entries) {
      if (entry.pid == static_cast<platform::ProcessId>(child)) seen = entry.imageName == L"SYNC.EXE";
    }
    if (!seen) std::this_thread::sleep_for(10ms);
  }
  ASSERT_TRUE(seen);
  // The supervisor counts it and starts nothing.
  EXPECT_TRUE(engine.IsRunning());
  EXPECT_GE(engine.ProcessCount(), 1);
  EXPECT_TRUE(engine.EnsureRunning());
  EXPECT_EQ(table.starts(), 0);
  EXPECT_FALSE(std::filesystem::exists(install.layout().EngineHome()));

  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

TEST_F(RealEngine, AMissingEngineIsReportedAgainAndAgainAndStartUpWaits) {
  ScratchInstall install;
  ASSERT_EQ(install.error(), "");
  std::filesystem::remove(install.layout().EngineExecutable());
  InstallProcessTable table(install);
  EngineProcess engine(install.installDir(), table, presenter_, clock_, QuickOptions());

  std::atomic<bool> returned{false};
  std::atomic<bool> result{true};
  std::jthread starter([&](std::stop_token stop) {
    result = engine.EnsureRunning(stop);
    returned = true;
  });
  // Wait (bounded) for at least three messages; the start must not finish.
  for (int i = 0; i < 200 && presenter_.Keys().size() < 3; ++i) std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(returned.load());
  const auto keys = presenter_.Keys();
  ASSERT_GE(keys.size(), 3u);
  for (const auto& key : keys) EXPECT_EQ(key, L"Sync_NoRunning_Msg");
  // Every message follows a failed start. How many starts fall between two
  // messages depends on how long a start takes on this machine (the pacing
  // itself is tested with a fake clock), so only the order is asserted.
  EXPECT_GE(table.starts(), static_cast<int>(keys.size()));

  starter.request_stop();
  starter.join();
  EXPECT_TRUE(returned.load());
  EXPECT_FALSE(result.load());
  EXPECT_TRUE(install.EngineProcesses().empty());
}

}  // namespace
}  // namespace orlin
