// The status core end to end with real engines: the Tarn server stand-in and
// its engine playing the NAS, this computer's engine, all in this test's
// private network namespace. The account is a user whose name needs
// encoding in every folder URL ("o'neil & co #1 %"), so the folder
// identifier (the name followed by the server's device ID) holds a quote,
// blanks, '&', '#' and '%'.
//
// orlin-cli logs in and follows the status as a user runs it (each run in a
// process namespace of its own, so its engine ends with the run). The other
// test drives the status poller itself against the engine that login
// configured, to kill that engine under it and to watch its lists.

#include <gtest/gtest.h>
#include <json/json.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

#include "common/clock.h"
#include "common/message_presenter.h"
#include "engine/config_file.h"
#include "engine/engine_process.h"
#include "engine/request_loop.h"
#include "engine/rest_commands.h"
#include "engine/rest_paths.h"
#include "monitor/loop_request_sink.h"
#include "monitor/poller.h"
#include "platform/http_client.h"
#include "tests/support/engine_harness.h"
#include "tests/support/namespace_guard.h"
#include "tests/support/tarn_server.h"

namespace orlin {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kServerPort = 8443;
constexpr const char* kUser = "o'neil & co #1 %";
constexpr const char* kPassword = "tide-pool";
// How long a real-engine step may take on a loaded two-core machine.
constexpr auto kEngineDeadline = 180s;

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

// One word for the shell, whatever it holds.
std::string ShellWord(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

bool WaitUntil(const std::function<bool()>& done, Clock::duration limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(200ms);
  }
  return done();
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class SilentPresenter final : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring&, const std::wstring& text, bool) override {
    shown.push_back(text);
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring&, bool) override {}
  std::vector<std::wstring> shown;
};

// The parent process id of `pid` from /proc, or 0.
platform::ProcessId ParentOf(platform::ProcessId pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // "pid (comm) state ppid ...": the name may hold blanks, so read after ')'.
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(stat.substr(close + 1));
  std::string state;
  platform::ProcessId parent = 0;
  rest >> state >> parent;
  return parent;
}

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
    // The stand-in keeps each user's folder under the URL-quoted name.
    nas_ = install_->root() / "nas" / "folders" / rest::PercentEncode(kUser);
    folderId_ = std::string(kUser) + server_->deviceId();

    const auto began = Clock::now();
    const int login = Cli("login --server https://127.0.0.1:" + std::to_string(kServerPort) + " --user " +
                          ShellWord(kUser) + " --password " + ShellWord(kPassword) + " --folder " +
                          ShellWord(local_.string()));
    ASSERT_EQ(login, 0) << lastErr_ << lastOut_;
    ASSERT_TRUE(fs::is_directory(nas_)) << nas_;
    std::cout << "[ figures  ] login: " << SecondsSince(began) << " s\n";
  }

  void TearDown() override {
    server_.reset();
    install_.reset();
  }

  // One orlin-cli run in a process namespace of its own; its exit code.
  int Cli(const std::string& words, int limitSeconds = 300) {
    const fs::path out = install_->root() / ("out-" + std::to_string(++runs_) + ".txt");
    const fs::path err = install_->root() / ("err-" + std::to_string(runs_) + ".txt");
    const std::string command = "timeout " + std::to_string(limitSeconds) + " unshare -p -f --mount-proc " +
                                ShellWord(ORLIN_CLI_PATH) + " --install-dir " +
                                ShellWord(install_->installDir().string()) + " " + words + " >" +
                                ShellWord(out.string()) + " 2>" + ShellWord(err.string());
    const int status = std::system(command.c_str());
    lastOut_ = ReadFile(out);
    lastErr_ = ReadFile(err);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::unique_ptr<testsupport::ScratchInstall> install_;
  std::unique_ptr<testsupport::TarnServer> server_;
  fs::path local_;
  fs::path nas_;
  std::string folderId_;
  std::string lastOut_;
  std::string lastErr_;
  int runs_ = 0;
};

TEST_F(StatusEndToEnd, AFolderWhoseNameNeedsEncodingIsFollowedUntilUpToDate) {
  WriteFile(nas_ / "welcome.txt", "first file on the NAS\n");
  auto began = Clock::now();
  const int wait = Cli("status --wait \"Up to date\" --timeout 240");
  std::cout << "[ figures  ] status --wait \"Up to date\": " << SecondsSince(began) << " s\n";
  EXPECT_EQ(wait, 0) << lastErr_ << lastOut_;
  EXPECT_NE(lastOut_.find("Up to date"), std::string::npos) << lastOut_;

  // The NAS file arrives while orlin-cli runs (its engine ends with each
  // run) and the status names it; a few runs give the engines time to meet.
  began = Clock::now();
  Json::Value status;
  bool shown = false;
  for (int run = 0; run < 4 && !shown; ++run) {
    ASSERT_EQ(Cli("status --json --for 40"), 0) << lastErr_;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    ASSERT_TRUE(reader->parse(lastOut_.data(), lastOut_.data() + lastOut_.size(), &status, &errors)) << lastOut_;
    for (const Json::Value& row : status["syncEvents"]) shown = shown || row["path"].asString() == "welcome.txt";
  }
  std::cout << "[ figures  ] NAS file in orlin-cli's sync events: " << SecondsSince(began) << " s\n";
  EXPECT_TRUE(shown) << status["syncEvents"];
  EXPECT_EQ(ReadFile(local_ / "welcome.txt"), "first file on the NAS\n");
  EXPECT_EQ(status["statusKey"].asString(), "Up to date") << lastOut_;
}

// The status poller on the request loop, as the controller composes it.
struct Monitor {
  explicit Monitor(const std::string& apiKey) : sink(loop, apiKey), poller(model, log, sink, clock) {
    sink.SetAnswerCallback([this](const PollAnswer& answer) { poller.Dispatch(answer); });
  }
  ~Monitor() { poller.Stop(); }

  bool Listed(const GuardedList<SyncEventRecord>& list, const std::string& path) const {
    const auto rows = list.Snapshot();
    return std::any_of(rows.begin(), rows.end(), [&](const SyncEventRecord& r) { return FieldText(r.path) == path; });
  }
  bool Listed(const GuardedList<FileItemRecord>& list, const std::string& name) const {
    const auto rows = list.Snapshot();
    return std::any_of(rows.begin(), rows.end(), [&](const FileItemRecord& r) { return FieldText(r.name) == name; });
  }

  SystemClock clock;
  StatusModel model;
  DiagnosticLog log{nullptr, &clock};
  RequestLoop loop;
  LoopRequestSink sink;
  StatusPoller poller;
};

TEST_F(StatusEndToEnd, BurstsOfFilesAndAnEngineCrashReachTheLists) {
  SilentPresenter presenter;
  SystemClock clock;
  testsupport::InstallProcessTable table(*install_);
  EngineProcess engine(install_->installDir(), table, presenter, clock);
  ASSERT_TRUE(engine.EnsureRunning());
  ASSERT_TRUE(install_->WaitForConfig(60s));
  const std::optional<std::string> apiKey = install_->ReadApiKey();
  ASSERT_TRUE(apiKey.has_value());
  ASSERT_TRUE(install_->WaitForRest(*apiKey, 120s)) << "this computer's engine does not answer";

  Monitor monitor(*apiKey);
  ASSERT_TRUE(monitor.poller.Start(monitor.loop));
  auto began = Clock::now();
  ASSERT_TRUE(WaitUntil(
      [&] {
        return monitor.model.folder.FolderId() == folderId_ && monitor.model.folder.StatusKey() == L"Up to date";
      },
      kEngineDeadline))
      << "folder \"" << monitor.model.folder.FolderId() << "\", state \"" << monitor.model.folder.FolderStateText()
      << "\" instead of the login's folder up to date";
  std::cout << "[ figures  ] poller up to date: " << SecondsSince(began) << " s\n";

  // Revert and override name the folder to the engine, which must find it.
  platform::CHttpClient http(platform::kHttpUserAgent);
  EngineCommands commands(http, presenter, monitor.poller);
  commands.SetApiKey(*apiKey);
  EXPECT_EQ(commands.Revert({}, 120s), EngineCommands::Outcome::kDone);
  EXPECT_EQ(commands.Override({}, 120s), EngineCommands::Outcome::kDone);
  EXPECT_TRUE(presenter.shown.empty()) << "the engine refused: " << (presenter.shown.empty() ? "" : WideToUtf8(presenter.shown[0]));

  // Three small files dropped on the NAS within a second all show as synced,
  // though the folder statistics name only the last one.
  began = Clock::now();
  for (const char* name : {"one.txt", "two.txt", "three.txt"}) WriteFile(nas_ / name, std::string("file ") + name);
  ASSERT_TRUE(WaitUntil(
      [&] {
        return monitor.Listed(monitor.model.lastSynced, "one.txt") &&
               monitor.Listed(monitor.model.lastSynced, "two.txt") &&
               monitor.Listed(monitor.model.lastSynced, "three.txt");
      },
      kEngineDeadline))
      << "last synced files: " << monitor.model.lastSynced.Size();
  std::cout << "[ figures  ] three NAS files in the last synced list: " << SecondsSince(began) << " s\n";
  ASSERT_TRUE(WaitUntil([&] { return monitor.model.syncEvents.Size() >= 3; }, kEngineDeadline));

  // The engine proper dies; its monitor process starts a new one, which
  // numbers its events from 1 again, below the feed's position.
  const auto before = install_->EngineProcesses();
  platform::ProcessId child = 0;
  for (auto pid : before) {
    if (std::find(before.begin(), before.end(), ParentOf(pid)) != before.end()) child = pid;
  }
  ASSERT_NE(child, 0u) << "no engine child among " << before.size() << " engine processes";
  ASSERT_EQ(::kill(static_cast<pid_t>(child), SIGKILL), 0);
  began = Clock::now();
  ASSERT_TRUE(WaitUntil(
      [&] {
        const auto now = install_->EngineProcesses();
        return std::find(now.begin(), now.end(), child) == now.end() && now.size() == before.size();
      },
      60s))
      << "the engine's monitor did not start a new engine";
  ASSERT_TRUE(install_->WaitForRest(*apiKey, 120s)) << "the restarted engine does not answer";
  std::cout << "[ figures  ] engine back after kill -9: " << SecondsSince(began) << " s\n";

  began = Clock::now();
  WriteFile(nas_ / "after-restart.txt", "changed on the NAS after the crash\n");
  EXPECT_TRUE(WaitUntil([&] { return monitor.Listed(monitor.model.syncEvents, "after-restart.txt"); },
                        kEngineDeadline))
      << "the sync events did not show the NAS change made after the engine restarted ("
      << monitor.model.syncEvents.Size() << " rows)";
  std::cout << "[ figures  ] NAS change after the restart in the sync events: " << SecondsSince(began) << " s\n";
  EXPECT_TRUE(fs::exists(local_ / "after-restart.txt"));

  monitor.poller.Stop();
  engine.StopAll();
}

}  // namespace
}  // namespace orlin
