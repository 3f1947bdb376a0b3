// orlin-cli status as a user runs it, end to end: the Tarn server stand-in
// with its real engine playing the NAS, a login, then the status command
// while files change on both sides. Everything runs in this test's private
// network namespace; each orlin-cli run also gets a process namespace of
// its own, so its start-up (which ends every engine it can see) sees only
// its own engine, and that engine ends with the run.

#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/wait.h>

#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <thread>

#include "common/message_presenter.h"
#include "engine/config_file.h"
#include "engine/sync_settings.h"
#include "tests/support/engine_harness.h"
#include "tests/support/namespace_guard.h"
#include "tests/support/tarn_server.h"

namespace orlin {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::uint16_t kServerPort = 8443;
constexpr const char* kUser = "anna";
constexpr const char* kPassword = "river-stone";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(200ms);
  }
  return done();
}

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
  Json::Value json;  // the parsed standard output of a --json run
};

class SilentPresenter : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring&, const std::wstring&, bool) override { return kModalOk; }
  void ShowLoginFailure(const std::wstring&, bool) override {}
};

class StatusEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ORLIN_REQUIRE_PRIVATE_NETWORK();
    const std::string reason = testsupport::EngineUnavailableReason();
    if (!reason.empty()) GTEST_SKIP() << "the real engine cannot run here: " << reason;
    if (std::system("unshare -p -f --mount-proc true >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "needs process namespaces (root)";
    }
    install_ = std::make_unique<testsupport::ScratchInstall>();
    ASSERT_EQ(install_->error(), "");
    server_ = std::make_unique<testsupport::TarnServer>(install_->root() / "nas", kServerPort,
                                                        std::string(kUser) + ":" + kPassword);
    ASSERT_EQ(server_->deviceId().size(), 63u) << "the stand-in did not become ready";
    local_ = install_->root() / "Tarn";
    nas_ = install_->root() / "nas" / "folders" / kUser;

    const CliRun login = Cli(std::string("login --server https://127.0.0.1:") + std::to_string(kServerPort) +
                             " --user " + kUser + " --password " + kPassword + " --folder '" + local_.string() + "'");
    ASSERT_EQ(login.exitCode, 0) << login.err;
    ASSERT_TRUE(fs::is_directory(nas_));
  }

  void TearDown() override {
    server_.reset();
    install_.reset();
  }

  // One orlin-cli run in a process namespace of its own; `limit` bounds it.
  CliRun Cli(const std::string& words, int limitSeconds = 180) const {
    const fs::path out = install_->root() / ("out-" + std::to_string(++runs_) + ".txt");
    const fs::path err = install_->root() / ("err-" + std::to_string(runs_) + ".txt");
    const std::string command = "timeout " + std::to_string(limitSeconds) + " unshare -p -f --mount-proc '" ORLIN_CLI_PATH
                                "' --install-dir '" + install_->installDir().string() + "' " + words + " >'" +
                                out.string() + "' 2>'" + err.string() + "'";
    const int status = std::system(command.c_str());
    CliRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(out);
    run.err = ReadFile(err);
    if (words.find("--json") != std::string::npos) {
      Json::CharReaderBuilder builder;
      std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
      std::string errors;
      if (!reader->parse(run.out.data(), run.out.data() + run.out.size(), &run.json, &errors)) {
        ADD_FAILURE() << "status --json printed no JSON document: " << errors << "\n" << run.out;
      }
    }
    return run;
  }

  void SetFolderType(std::int32_t type) const {
    SilentPresenter presenter;
    EngineConfigFile config(install_->layout().EngineConfig(), presenter);
    SyncSettings settings;
    settings.folderType = type;
    ASSERT_TRUE(config.WriteFolderType(settings));
  }

  // The number of rows of `list` whose member `field` contains `text`.
  static int RowsNaming(const Json::Value& list, const char* field, const std::string& text) {
    int count = 0;
    for (const Json::Value& row : list) {
      if (row[field].asString().find(text) != std::string::npos) ++count;
    }
    return count;
  }

  const Json::Value* Device(const Json::Value& status, const std::string& deviceId) const {
    for (const Json::Value& device : status["devices"]) {
      if (device["deviceId"].asString() == deviceId) return &device;
    }
    return nullptr;
  }

  std::unique_ptr<testsupport::ScratchInstall> install_;
  std::unique_ptr<testsupport::TarnServer> server_;
  fs::path local_;
  fs::path nas_;
  mutable int runs_ = 0;
};

TEST_F(StatusEndToEnd, StatusFollowsTheNasAndShowsConflictsOnce) {
  WriteFile(nas_ / "welcome.txt", "first file on the NAS\n");

  CliRun wait = Cli("status --wait \"Up to date\" --timeout 90");
  EXPECT_EQ(wait.exitCode, 0) << wait.err << wait.out;
  EXPECT_NE(wait.out.find("status: Up to date [Up to date]"), std::string::npos) << wait.out;

  // Changes made on the NAS while the status command polls show up in the
  // lists the main window shows.
  auto running = std::async(std::launch::async, [this] { return Cli("status --json --for 30"); });
  std::this_thread::sleep_for(8s);
  WriteFile(nas_ / "reports" / "march.txt", "figures of march\n");
  WriteFile(nas_ / "summary.txt", "the summary\n");
  CliRun watched = running.get();
  ASSERT_EQ(watched.exitCode, 0) << watched.err;
  const Json::Value& status = watched.json;
  EXPECT_TRUE(fs::exists(local_ / "reports" / "march.txt"));
  EXPECT_GE(RowsNaming(status["syncEvents"], "path", "march.txt"), 1) << status["syncEvents"];
  EXPECT_GE(RowsNaming(status["syncEvents"], "path", "summary.txt"), 1) << status["syncEvents"];
  EXPECT_GE(RowsNaming(status["lastSynced"], "name", "summary.txt") +
                RowsNaming(status["lastSynced"], "name", "march.txt"),
            1)
      << status["lastSynced"];
  for (const Json::Value& row : status["syncEvents"]) {
    const std::string action = row["action"].asString();
    EXPECT_TRUE(action.empty() || action.rfind("Remote ", 0) == 0 || action.rfind("Local ", 0) == 0) << action;
  }
  const Json::Value* nas = Device(status, server_->deviceId());
  ASSERT_NE(nas, nullptr) << status["devices"];
  EXPECT_EQ((*nas)["connected"].asInt(), 1);
  EXPECT_EQ((*nas)["completion"].asDouble(), 100.0);
  EXPECT_NE((*nas)["clientVersion"].asString(), "-");
  EXPECT_EQ(status["statusKey"].asString(), "Up to date");
  EXPECT_EQ(status["statusCode"].asInt(), 0);
  EXPECT_EQ(status["percent"].asInt(), 100);
  EXPECT_EQ(status["files"].asString(), "3");
  EXPECT_EQ(status["system"]["deviceId"].asString().size(), 63u);

  // The same file changed on both sides while this computer's engine was
  // not running: one side keeps a conflict copy, and the conflicts list
  // names the original once.
  WriteFile(local_ / "summary.txt", "the summary, edited on this computer\n");
  std::this_thread::sleep_for(1100ms);  // the NAS copy is the newer one
  WriteFile(nas_ / "summary.txt", "the summary, edited on the NAS\n");
  // The NAS engine's watcher takes its change into its index after some
  // seconds; this computer's engine takes its own at its first scan.
  std::this_thread::sleep_for(15s);
  // The copy appears after the pull and the next scan of this folder, which
  // the engine's watcher starts some seconds after the change.
  CliRun conflicted = Cli("status --json --for 50");
  ASSERT_EQ(conflicted.exitCode, 0) << conflicted.err;
  EXPECT_EQ(RowsNaming(conflicted.json["conflicts"], "path", "summary.txt"), 1)
      << conflicted.json["conflicts"] << conflicted.json["syncEvents"];
  for (const Json::Value& row : conflicted.json["conflicts"]) {
    EXPECT_EQ(row["path"].asString().find(".sync-conflict-"), std::string::npos) << row;
  }
}

TEST_F(StatusEndToEnd, ReceiveOnlyRevertAndSendOnlyOverride) {
  WriteFile(nas_ / "plan.txt", "the plan\n");
  CliRun first = Cli("status --json --for 20");
  ASSERT_EQ(first.exitCode, 0) << first.err;
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(local_ / "plan.txt"); }, 1s));

  // Receive-only: a file added here is a local change the NAS never takes.
  SetFolderType(kFolderReceiveOnly);
  WriteFile(local_ / "scribble.txt", "made here\n");
  CliRun changed = Cli("status --json --for 20");
  ASSERT_EQ(changed.exitCode, 0) << changed.err;
  EXPECT_EQ(changed.json["statusKey"].asString(), "Local_Additions_Event") << changed.out;
  EXPECT_EQ(RowsNaming(changed.json["localChanged"], "path", "scribble.txt"), 1) << changed.json["localChanged"];
  EXPECT_FALSE(fs::exists(nas_ / "scribble.txt"));

  CliRun revert = Cli("revert");
  EXPECT_EQ(revert.exitCode, 0) << revert.err;
  CliRun reverted = Cli("status --json --for 15");
  ASSERT_EQ(reverted.exitCode, 0) << reverted.err;
  EXPECT_FALSE(fs::exists(local_ / "scribble.txt"));
  EXPECT_EQ(reverted.json["localChanged"].size(), 0u) << reverted.json["localChanged"];
  EXPECT_EQ(reverted.json["statusKey"].asString(), "Up to date");

  // Send-only: a change made on the NAS leaves this folder out of sync
  // until an override puts this computer's version back on the NAS.
  SetFolderType(kFolderSendOnly);
  WriteFile(nas_ / "plan.txt", "the plan, changed on the NAS\n");
  CliRun outOfSync = Cli("status --json --wait Outofsync_Event --timeout 60");
  EXPECT_EQ(outOfSync.exitCode, 0) << outOfSync.err;
  EXPECT_EQ(outOfSync.json["statusKey"].asString(), "Outofsync_Event") << outOfSync.out;
  EXPECT_EQ(outOfSync.json["statusCode"].asInt(), 5);
  EXPECT_EQ(ReadFile(local_ / "plan.txt"), "the plan\n");

  // The NAS takes this computer's version back while the two engines are
  // connected; each run here restarts this computer's engine, which the NAS
  // reaches again after some seconds.
  CliRun override = Cli("override");
  EXPECT_EQ(override.exitCode, 0) << override.err;
  for (int run = 0; run < 3 && ReadFile(nas_ / "plan.txt") != "the plan\n"; ++run) {
    CliRun overridden = Cli("status --json --for 30");
    ASSERT_EQ(overridden.exitCode, 0) << overridden.err;
    EXPECT_EQ(overridden.json["statusKey"].asString(), "Up to date") << overridden.out;
  }
  EXPECT_EQ(ReadFile(nas_ / "plan.txt"), "the plan\n");
}

}  // namespace
}  // namespace orlin
