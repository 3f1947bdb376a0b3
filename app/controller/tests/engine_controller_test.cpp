// The controller's start-up, login wiring and log-off against a fake engine:
// a process table whose "engine" writes the configuration a real first run
// writes, and a loopback HTTP server that plays its REST interface.

#include "app/controller/engine_controller.h"
#include "tests/support/fake_clock.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#endif

#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "common/message_presenter.h"
#include "common/owner_window.h"
#include "common/text.h"
#include "tests/support/http_test_server.h"
#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testsupport::HttpTestServer;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;

constexpr const char* kOwnId = "FMJOH6Y-DS5SMQV-3DAO72P-IZS3CPE-6NEM5MF-MAVQJ5Q-FNBHWSH-R4AEEAF";
constexpr const char* kServerId = "ZDDUH43-KRIOKG5-FF3XHLP-SZTBELC-EK7JVHF-TCLX5FZ-SBVVMG7-BMI76A3";
constexpr const char* kApiKey = "Sd7YHpNt79Nmzb4o3oFL4RhTUKiQMVvs";  // the key in the first-run file

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return t;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::size_t CountOf(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

// The engine as the process table shows it: starting it writes the first-run
// configuration into its home (as the real engine does within milliseconds).
class FakeEngineTable final : public platform::ProcessTable {
 public:
  explicit FakeEngineTable(fs::path home) : home_(std::move(home)) {}

  std::optional<std::vector<platform::ProcessEntry>> Scan() override {
    std::lock_guard lock(mutex_);
    return processes_;
  }
  std::optional<platform::ProcessId> StartHidden(const std::wstring& commandLine) override {
    std::lock_guard lock(mutex_);
    started_.push_back(commandLine);
    if (writesConfig_) {
      std::error_code error;
      fs::create_directories(home_, error);
      if (!fs::exists(home_ / "config.xml", error)) WriteFirstRunConfig();
    }
    processes_.push_back({nextPid_, L"Sync.exe"});
    return nextPid_++;
  }
  bool Terminate(platform::ProcessId pid, std::uint32_t) override {
    std::lock_guard lock(mutex_);
    terminated_.push_back(pid);
    if (pid == protectedPid_) return false;
    return std::erase_if(processes_, [pid](const auto& p) { return p.pid == pid; }) > 0;
  }

  // The captured first-run configuration, its default folder moved next to the
  // engine's home and created, as the engine creates the folder it shares.
  void WriteFirstRunConfig() {
    std::string config = ReadFile(ORLIN_FIRST_RUN_CONFIG);
    const std::string capturedPath = "path=\"/tmp/hx/h/Sync\"";
    const fs::path folder = home_.parent_path() / "Sync";
    const auto at = config.find(capturedPath);
    if (at != std::string::npos) config.replace(at, capturedPath.size(), "path=\"" + folder.string() + "\"");
    std::error_code error;
    fs::create_directories(folder, error);
    std::ofstream(home_ / "config.xml", std::ios::binary) << config;
  }

  void Add(platform::ProcessEntry entry) {
    std::lock_guard lock(mutex_);
    processes_.push_back(std::move(entry));
  }
  // A process this user may not end.
  void Protect(platform::ProcessId pid) {
    std::lock_guard lock(mutex_);
    protectedPid_ = pid;
  }
  void SetWritesConfig(bool writes) {
    std::lock_guard lock(mutex_);
    writesConfig_ = writes;
  }
  std::vector<std::wstring> Started() const {
    std::lock_guard lock(mutex_);
    return started_;
  }
  std::vector<platform::ProcessId> Terminated() const {
    std::lock_guard lock(mutex_);
    return terminated_;
  }
  int EngineCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(processes_.begin(), processes_.end(),
                                          [](const auto& p) { return p.imageName == L"Sync.exe"; }));
  }

 private:
  fs::path home_;
  mutable std::mutex mutex_;
  std::vector<platform::ProcessEntry> processes_;
  std::vector<std::wstring> started_;
  std::vector<platform::ProcessId> terminated_;
  platform::ProcessId nextPid_ = 1000;
  platform::ProcessId protectedPid_ = 0;
  bool writesConfig_ = true;
};

// Makes `dir` read-only for the calling thread and the threads it starts
// from then on (root ignores permission bits, so a read-only bind mount in a
// mount namespace of this thread's own stands in for a folder the user may
// not write to). Not ok() where that cannot be had; the view ends with the
// object.
class ReadOnlyView {
 public:
  explicit ReadOnlyView(const fs::path& dir) : dir_(dir) {
#ifndef _WIN32
    if (::unshare(CLONE_NEWNS) != 0) return;
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return;
    if (::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0) return;
    mounted_ = true;
    ok_ = ::mount(nullptr, dir.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
#endif
  }
  ~ReadOnlyView() { End(); }
  void End() {
#ifndef _WIN32
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
#endif
    mounted_ = false;
  }
  bool ok() const { return ok_; }

 private:
  fs::path dir_;
  bool mounted_ = false;
  bool ok_ = false;
};

class RecordingPresenter final : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring& title, const std::wstring& key, bool) override {
    std::lock_guard lock(mutex_);
    shown_.push_back(title + L"|" + key);
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring& detail, bool) override {
    std::lock_guard lock(mutex_);
    shown_.push_back(L"Orlin|Login_Failed_msg|" + detail);
  }
  std::vector<std::wstring> Shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::wstring> shown_;
};

class RecordingOwner final : public OwnerWindow {
 public:
  void Post(unsigned message, std::uintptr_t, std::intptr_t) override { Record(message); }
  std::intptr_t Send(unsigned message, std::uintptr_t, std::intptr_t) override {
    Record(message);
    return 0;
  }
  std::vector<unsigned> Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }

 private:
  void Record(unsigned message) {
    std::lock_guard lock(mutex_);
    messages_.push_back(message);
  }
  mutable std::mutex mutex_;
  std::vector<unsigned> messages_;
};

TarnReply Answered(std::wstring body, std::string fingerprint = {}) {
  TarnReply reply;
  reply.answered = true;
  reply.status = 200;
  reply.body = std::move(body);
  reply.certificateFingerprint = std::move(fingerprint);
  return reply;
}

class ScriptedTarn final : public TarnTransport {
 public:
  TarnReply Post(const std::wstring& url, const std::wstring& form, const std::string& trustedFingerprint) override {
    urls.push_back(url);
    forms.push_back(form);
    trusted.push_back(trustedFingerprint);
    return reply;
  }
  TarnReply reply;
  std::vector<std::wstring> urls;
  std::vector<std::wstring> forms;
  std::vector<std::string> trusted;
};

class EngineControllerTest : public ::testing::Test {
 protected:
  EngineControllerTest() : layout_{dir_.path() / "Orlin Install"}, table_(layout_.EngineHome()) {
    fs::create_directories(layout_.installDir);
    for (const char* name : {"lang.xml", "setting.xml", "userconfig.xml", "Orlin.ini"}) {
      fs::copy_file(fs::path(ORLIN_DIST_DIR) / name, layout_.installDir / name);
    }
    rest_.SetHandler([this](const ReceivedRequest& request) { return Answer(request); });
    options_.restBase = rest_.BaseUrl() + "/rest/";
    options_.engine.maxRetryDelay = 1ms;
  }

  ScriptedAnswer Answer(const ReceivedRequest& request) {
    if (request.target == "/rest/system/status") {
      // An engine that has just started answers before its REST part is up.
      if (statusRefusals_.load() > 0) {
        --statusRefusals_;
        return ScriptedAnswer::Respond(200, "starting");
      }
      return ScriptedAnswer::Respond(200, std::string("debug line {\"myID\":\"") + kOwnId + "\",\"uptime\":3}");
    }
    return ScriptedAnswer::Respond(200, "");
  }

  std::unique_ptr<EngineController> MakeController(OwnerWindow* owner = nullptr) {
    return std::make_unique<EngineController>(layout_, table_, presenter_, clock_, owner, options_);
  }

  std::vector<std::string> PostTargets() const {
    std::vector<std::string> targets;
    for (const auto& request : rest_.Requests()) {
      if (request.method == "POST") targets.push_back(request.target);
    }
    return targets;
  }

  bool WaitForTarget(const std::string& prefix, std::size_t atLeast, std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      std::size_t count = 0;
      for (const auto& request : rest_.Requests()) count += request.target.rfind(prefix, 0) == 0 ? 1 : 0;
      if (count >= atLeast) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  std::size_t StatusRequests() const {
    std::size_t count = 0;
    for (const auto& request : rest_.Requests()) count += request.target == "/rest/system/status" ? 1 : 0;
    return count;
  }

  testsupport::TempDir dir_;
  InstallLayout layout_;
  FakeEngineTable table_;
  HttpTestServer rest_;
  std::atomic<int> statusRefusals_{0};
  RecordingPresenter presenter_;
  // The run log is named after the start: 2019-05-03 14:07:09 local time.
  testing::WallAt clock_{[] {
    std::tm local = At(2019, 5, 3, 14, 7, 9);
    return std::mktime(&local);
  }()};
  EngineControllerOptions options_;
};

TEST(RunLogName, NumbersCarryNoLeadingZeros) {
  EXPECT_EQ(EngineController::LogFileName(At(2019, 5, 3, 14, 7, 9)), "2019-5-3-14-7-9.txt");
  EXPECT_EQ(EngineController::LogFileName(At(2026, 12, 31, 0, 0, 0)), "2026-12-31-0-0-0.txt");
  EXPECT_EQ(EngineController::LogFileName(At(2000, 1, 1, 23, 59, 59)), "2000-1-1-23-59-59.txt");
}

TEST_F(EngineControllerTest, FirstStartStopsStaleEnginesWaitsForTheEngineAndNeedsLogin) {
  table_.Add({7, L"SYNC.EXE"});  // left over from an earlier run
  table_.Add({8, L"bash"});
  statusRefusals_ = 3;

  auto controller = MakeController();
  controller->Start();
  ASSERT_TRUE(controller->WaitReady(20s));

  // The stale engine went first; the rest of the table was left alone.
  const auto terminated = table_.Terminated();
  ASSERT_FALSE(terminated.empty());
  EXPECT_EQ(terminated.front(), 7u);
  EXPECT_EQ(std::count(terminated.begin(), terminated.end(), 8u), 0);
  ASSERT_EQ(table_.Started().size(), 1u);
  EXPECT_EQ(table_.Started()[0], EngineProcess::BuildCommandLine(layout_.installDir));

  EXPECT_TRUE(controller->LoginNeeded());
  EXPECT_EQ(controller->ApiKey(), kApiKey);
  // The engine was asked until it gave a whole ID, always with the key.
  EXPECT_GE(StatusRequests(), 4u);
  for (const auto& request : rest_.Requests()) EXPECT_EQ(request.Header("X-API-Key"), kApiKey);
  EXPECT_EQ(controller->Account().deviceId, Utf8ToWide(kOwnId));
  EXPECT_EQ(controller->Settings().deviceId, Utf8ToWide(kOwnId));

  // Until a login the engine pulls the smallest files first.
  EXPECT_NE(ReadFile(layout_.EngineConfig()).find("<order>smallestFirst</order>"), std::string::npos);
  EXPECT_EQ(controller->Settings().pullOrder, kPullSmallestFirst);

  EXPECT_EQ(controller->logFilePath(), layout_.installDir / "log" / "2019-5-3-14-7-9.txt");
  EXPECT_TRUE(fs::exists(controller->logFilePath()));
  EXPECT_TRUE(presenter_.Shown().empty());
  controller->Shutdown();
  EXPECT_EQ(table_.EngineCount(), 0);
}

TEST_F(EngineControllerTest, StartAfterALoginReadsTheAccountAndLeavesThePullOrder) {
  // As a login left it: the folder path in the configuration and in the user's entry.
  const fs::path folder = dir_.path() / "Tarn";
  fs::create_directories(layout_.EngineHome());
  std::string config = ReadFile(ORLIN_FIRST_RUN_CONFIG);
  const std::string firstRunPath = "path=\"/tmp/hx/h/Sync\"";
  config.replace(config.find(firstRunPath), firstRunPath.size(), "path=\"" + folder.string() + "\"");
  const std::string sendReceive = "type=\"sendreceive\"";
  config.replace(config.find(sendReceive), sendReceive.size(), "type=\"receiveonly\"");
  std::ofstream(layout_.EngineConfig(), std::ios::binary) << config;
  {
    StateFiles files(layout_, presenter_);
    ASSERT_TRUE(files.CreateMarker({L"nas.example:5001", L"anna", L"secret"}));
    ASSERT_TRUE(files.WriteAccountArchive({L"anna", L"nas.example:5001"}));
    ASSERT_TRUE(files.WriteUserEntry(L"anna", {folder.wstring(), true}));
  }
  fs::create_directories(folder);
  std::ofstream(folder / ".stignore", std::ios::binary) << "*.tmp\n";

  auto controller = MakeController();
  controller->Start();
  ASSERT_TRUE(controller->WaitReady(20s));
  EXPECT_FALSE(controller->LoginNeeded());
  EXPECT_EQ(controller->Account().userName, L"anna");
  EXPECT_EQ(controller->Account().server, L"nas.example:5001");
  const SyncSettings settings = controller->Settings();
  EXPECT_EQ(settings.syncFolderPath, folder.wstring());
  EXPECT_NE(settings.ignoreText.find(L"*.tmp"), std::wstring::npos);
  EXPECT_TRUE(settings.defaultLocation);
  EXPECT_EQ(ReadFile(layout_.EngineConfig()).find("smallestFirst"), std::string::npos);
  // The folder handlers see the type the configuration holds.
  EXPECT_EQ(settings.folderType, kFolderReceiveOnly);
  EXPECT_EQ(controller->Status().folder.folderType.load(), SharedFolderState::kReceiveOnly);
}

TEST_F(EngineControllerTest, LoginRegistersTheServerOnceAndRefreshesTheEngine) {
  RecordingOwner owner;
  auto controller = MakeController(&owner);
  controller->Start();
  ASSERT_TRUE(controller->WaitReady(20s));
  const fs::path folder = dir_.path() / "Tarn";
  fs::create_directories(folder);
  LoginRequest request{L"nas.example:5001", L"an&na", L"pass word", folder.wstring(), true};

  // A refusal writes nothing and sends nothing to the engine.
  const std::string configBefore = ReadFile(layout_.EngineConfig());
  ScriptedTarn tarn;
  tarn.reply = Answered(L"Failed: wrong password");
  EXPECT_EQ(controller->Login(request, tarn).result, 0);
  EXPECT_FALSE(fs::exists(layout_.Marker()));
  EXPECT_FALSE(fs::exists(layout_.AccountArchive()));
  EXPECT_EQ(ReadFile(layout_.EngineConfig()), configBefore);
  EXPECT_TRUE(PostTargets().empty());
  EXPECT_EQ(presenter_.Shown(), std::vector<std::wstring>{L"Orlin|Login_Failed_msg"});
  // What was typed stays with the controller for the next attempt.
  EXPECT_EQ(controller->Account().userName, L"an&na");
  EXPECT_EQ(controller->Password(), L"pass word");
  EXPECT_EQ(controller->Account().server, L"nas.example:5001");
  EXPECT_EQ(controller->Settings().syncFolderPath, folder.wstring());

  tarn.reply = Answered(Utf8ToWide(kServerId) + L"\r\n");
  const LoginOutcome outcome = controller->Login(request, tarn);
  ASSERT_EQ(outcome.result, 1);
  EXPECT_EQ(tarn.urls.back(), L"https://nas.example:5001/apps/orlin/register.php?");
  EXPECT_NE(tarn.forms.back().find(L"username=an%26na&password=pass%20word&deviceid=" + Utf8ToWide(kOwnId)),
            std::wstring::npos);

  EXPECT_FALSE(controller->LoginNeeded());
  EXPECT_EQ(controller->Account().userName, L"an&na");
  EXPECT_EQ(controller->Account().server, L"nas.example:5001");
  EXPECT_TRUE(fs::exists(layout_.AccountArchive()));
  EXPECT_NE(ReadFile(layout_.UserConfig()).find("an&amp;na"), std::string::npos);
  const std::string config = ReadFile(layout_.EngineConfig());
  EXPECT_EQ(CountOf(config, std::string("<device id=\"") + kServerId + "\""), 2u) << config;
  EXPECT_NE(config.find(folder.string()), std::string::npos);

  // The engine reloads: restart, reset, rescan in this order, then the window hears the end.
  EXPECT_EQ(PostTargets(), (std::vector<std::string>{"/rest/system/restart", "/rest/system/reset", "/rest/db/scan"}));
  EXPECT_EQ(owner.Messages(), std::vector<unsigned>{kMsgRefreshDone});

  // Logging in again adds no second device.
  ASSERT_EQ(controller->Login(request, tarn).result, 1);
  EXPECT_EQ(CountOf(ReadFile(layout_.EngineConfig()), std::string("<device id=\"") + kServerId + "\""), 2u);
}

// The user sees a few readable words of a server's error page; the run log
// keeps all of it.
TEST_F(EngineControllerTest, AFailedLoginLogsTheServersWholeAnswer) {
  auto controller = MakeController();
  controller->Start();
  ASSERT_TRUE(controller->WaitReady(120s));
  std::wstring page = L"<html><body><h1>Proxy Error</h1><p>";
  for (int i = 0; i < 2000; ++i) page += L"upstream " + std::to_wstring(i) + L" did not answer; ";
  page += L"</p></body></html>";
  ScriptedTarn tarn;
  tarn.reply = Answered(page);
  tarn.reply.status = 502;
  const fs::path folder = dir_.path() / "Tarn";
  fs::create_directories(folder);
  EXPECT_EQ(controller->Login({L"nas.example:5001", L"anna", L"secret", folder.wstring(), true}, tarn).result, 0);
  const auto shown = presenter_.Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].rfind(L"Orlin|Login_Failed_msg|Proxy Error upstream 0 did not answer;", 0), 0u);
  EXPECT_LT(shown[0].size(), 300u);
  const std::string log = ReadFile(controller->logFilePath());
  EXPECT_NE(log.find(WideToUtf8(page)), std::string::npos) << "the run log lacks the whole answer";
  EXPECT_NE(log.find("502"), std::string::npos);
}

TEST_F(EngineControllerTest, LogOffWhileTheEngineIsBusyLeavesNoEngineAndNoHome) {
  statusRefusals_ = 1 << 30;  // the engine never gets as far as its ID
  RecordingOwner owner;
  auto controller = MakeController(&owner);
  controller->Start();
  ASSERT_TRUE(rest_.WaitForRequests(2, 10s));
  ASSERT_TRUE(fs::exists(layout_.EngineConfig()));

  // Two log-offs at once, as from the tray and a second click.
  bool first = false;
  bool second = false;
  std::thread other([&] { second = controller->LogOff(); });
  first = controller->LogOff();
  other.join();
  EXPECT_TRUE(first);
  EXPECT_TRUE(second);
  EXPECT_TRUE(controller->LoggedOff());
  EXPECT_FALSE(controller->IsReady());
  EXPECT_EQ(owner.Messages(), (std::vector<unsigned>{kMsgLoggedOff, kMsgLoggedOff}));

  // Nothing comes back: the start-up sequence no longer restarts the engine.
  const std::size_t startsAfterLogOff = table_.Started().size();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(table_.EngineCount(), 0);
  EXPECT_FALSE(fs::exists(layout_.EngineHome()));
  EXPECT_EQ(table_.Started().size(), startsAfterLogOff);

  // The next start-up finds a fresh engine and asks for a login.
  statusRefusals_ = 0;
  controller->Start();
  ASSERT_TRUE(controller->WaitReady(20s));
  EXPECT_TRUE(controller->LoginNeeded());
  EXPECT_EQ(controller->Account().deviceId, Utf8ToWide(kOwnId));
  EXPECT_TRUE(fs::exists(layout_.EngineConfig()));
}

TEST_F(EngineControllerTest, LogOffReportsAnEngineItMayNotEndInsteadOfWaitingForEver) {
  options_.logOffEngineStop = 200ms;
  RecordingOwner owner;
  auto controller = MakeController(&owner);
  controller->Start();
  ASSERT_TRUE(controller->WaitReady(20s));
  table_.Add({4242, L"Sync.exe"});  // another session's engine
  table_.Protect(4242);

  const auto began = std::chrono::steady_clock::now();
  EXPECT_FALSE(controller->LogOff());
  EXPECT_LT(std::chrono::steady_clock::now() - began, 10s);
  EXPECT_EQ(table_.EngineCount(), 1);  // only the one it may not end
  EXPECT_FALSE(fs::exists(layout_.EngineHome()));
  EXPECT_EQ(owner.Messages(), std::vector<unsigned>{kMsgLoggedOff});
  table_.Protect(0);
}

// Another user's engine on the same computer may not be ended; the start-up
// leaves it alone, starts this user's engine, and tells the user (paced) when
// its engine does not answer, e.g. because that other engine holds the port.
TEST_F(EngineControllerTest, AnotherUsersEngineIsLeftAloneAndASilentEngineIsReported) {
  table_.Add({4343, L"sync.exe", /*ownedByCurrentUser=*/false});
  statusRefusals_.store(40);  // about 8 s of answers that carry no device ID
  options_.engineAnswerGrace = 100ms;
  options_.engine.messageInterval = 1h;  // one message for the whole run
  auto controller = MakeController();
  controller->Start();
  ASSERT_TRUE(controller->WaitReady(60s)) << "the start-up waited for this user's engine to answer";

  const auto terminated = table_.Terminated();
  EXPECT_EQ(std::count(terminated.begin(), terminated.end(), 4343u), 0) << "another user's engine was ended";
  EXPECT_EQ(table_.Started().size(), 1u) << "this user's engine is started beside the other one";
  EXPECT_EQ(presenter_.Shown(), std::vector<std::wstring>{L"Orlin|Sync_NoRunning_Msg"});
  EXPECT_EQ(controller->Account().deviceId, Utf8ToWide(kOwnId));
}

TEST_F(EngineControllerTest, PollingRunsOnTheRequestLoopUntilLogOff) {
  RecordingOwner owner;
  auto controller = MakeController(&owner);
  controller->Start();
  ASSERT_TRUE(controller->WaitReady(20s));

  // The start command: the first batch goes out on the loop, with the key.
  ASSERT_TRUE(controller->StartSync());
  ASSERT_TRUE(WaitForTarget("/rest/events/disk?since=0", 1, 5s));
  for (const auto& request : rest_.Requests()) EXPECT_EQ(request.Header("X-API-Key"), kApiKey);
  const std::size_t configFetches = [&] {
    std::size_t count = 0;
    for (const auto& request : rest_.Requests()) count += request.target == "/rest/system/config" ? 1 : 0;
    return count;
  }();

  // Pressed again while the loop runs, it resumes: one configuration fetch more.
  ASSERT_TRUE(controller->StartSync());
  EXPECT_TRUE(WaitForTarget("/rest/system/config", configFetches + 1, 5s));

  // A refresh starts the event feeds from the beginning again.
  controller->Refresh();
  EXPECT_TRUE(WaitForTarget("/rest/events/disk?since=0", 2, 5s));
  const auto messages = owner.Messages();
  EXPECT_NE(std::find(messages.begin(), messages.end(), kMsgRefreshDone), messages.end());

  EXPECT_TRUE(controller->LogOff());
  const std::size_t afterLogOff = rest_.RequestCount();
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(rest_.RequestCount(), afterLogOff) << "nothing polls after a log-off";
}

TEST_F(EngineControllerTest, ShutdownEndsAStartUpThatWaitsForTheConfiguration) {
  table_.SetWritesConfig(false);  // an engine that never writes its file
  for (int round = 0; round < 20; ++round) {
    auto controller = MakeController();
    controller->Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(round % 4 * 20));
    controller->Shutdown();
    EXPECT_FALSE(controller->IsReady());
    EXPECT_EQ(table_.EngineCount(), 0) << "round " << round;
  }
  EXPECT_FALSE(fs::exists(layout_.EngineConfig()));
}

// ---- Broken files and folders Orlin cannot write ---------------------------------

// A config.xml that was cut short or holds junk stops the engine for good:
// the start-up says so within seconds instead of waiting for an engine that
// never answers, leaves the file as it is, and a log-off still clears the
// way for a new login.
TEST_F(EngineControllerTest, ADamagedConfigurationIsReportedAtOnceAndALogOffStillWorks) {
  const std::string whole = ReadFile(ORLIN_FIRST_RUN_CONFIG);
  const std::string damaged[] = {whole.substr(0, whole.size() / 2), std::string("\x7f" "ELF\x02\x01\x01\0\0\0junk", 14)};
  for (const std::string& content : damaged) {
    SCOPED_TRACE(content.size());
    fs::create_directories(layout_.EngineHome());
    std::ofstream(layout_.EngineConfig(), std::ios::binary) << content;
    {
      StateFiles files(layout_, presenter_);
      ASSERT_TRUE(files.CreateMarker({L"nas.example:5001", L"anna", L"secret"}));
    }
    const std::size_t startsBefore = table_.Started().size();
    const std::size_t shownBefore = presenter_.Shown().size();
    RecordingOwner owner;
    auto controller = MakeController(&owner);
    const auto began = std::chrono::steady_clock::now();
    controller->Start();
    ASSERT_TRUE(controller->WaitReady(120s)) << "the start-up kept waiting for an engine that cannot start";
    EXPECT_LT(std::chrono::steady_clock::now() - began, 10s);
    const auto shown = presenter_.Shown();
    EXPECT_EQ(std::vector<std::wstring>(shown.begin() + static_cast<std::ptrdiff_t>(shownBefore), shown.end()),
              std::vector<std::wstring>{L"Orlin|SyncConfig_Damaged_Msg"});
    EXPECT_EQ(table_.Started().size(), startsBefore) << "an engine was started on a damaged configuration";
    EXPECT_EQ(ReadFile(layout_.EngineConfig()), content);
    controller->EnsureEngineRunning();
    EXPECT_EQ(table_.Started().size(), startsBefore);

    // The log-off removes the account; the next start-up gets a fresh
    // configuration from the engine, and a login works again.
    EXPECT_TRUE(controller->LogOff());
    EXPECT_FALSE(fs::exists(layout_.EngineHome()));
    controller->Start();
    ASSERT_TRUE(controller->WaitReady(120s)) << "the start-up after the log-off did not finish";
    EXPECT_TRUE(controller->LoginNeeded());
    EXPECT_EQ(controller->ApiKey(), kApiKey);
    ScriptedTarn tarn;
    tarn.reply = Answered(Utf8ToWide(kServerId));
    const fs::path folder = dir_.path() / "Tarn";
    fs::create_directories(folder);
    EXPECT_EQ(controller->Login({L"nas.example:5001", L"anna", L"secret", folder.wstring(), true}, tarn).result, 1);
    EXPECT_FALSE(controller->LoginNeeded());
    controller->Shutdown();
    fs::remove_all(layout_.EngineHome());
  }
}

// An install folder Orlin may not write to: the engine can never write its
// configuration there. The user is told at once, the start-up finishes, a
// log-off does not hang, and once the folder can be written again the next
// start-up and a login work.
TEST_F(EngineControllerTest, AnInstallFolderThatCannotBeWrittenIsReportedAtOnce) {
  RecordingOwner owner;
  auto controller = MakeController(&owner);
  {
    ReadOnlyView readOnly(layout_.installDir);
    if (!readOnly.ok()) GTEST_SKIP() << "no read-only view of a folder can be had here";
    const auto began = std::chrono::steady_clock::now();
    controller->Start();
    ASSERT_TRUE(controller->WaitReady(120s)) << "the start-up kept waiting for a configuration that cannot appear";
    EXPECT_LT(std::chrono::steady_clock::now() - began, 10s);
    EXPECT_EQ(presenter_.Shown(), std::vector<std::wstring>{L"Orlin|Install_ReadOnly_Msg"});
    EXPECT_TRUE(table_.Started().empty());
    EXPECT_TRUE(controller->LoginNeeded());
    // Nothing to remove: the log-off is done at once.
    const auto logOffBegan = std::chrono::steady_clock::now();
    EXPECT_TRUE(controller->LogOff());
    EXPECT_LT(std::chrono::steady_clock::now() - logOffBegan, 10s);
    readOnly.End();
  }
  controller->Start();
  ASSERT_TRUE(controller->WaitReady(120s));
  ScriptedTarn tarn;
  tarn.reply = Answered(Utf8ToWide(kServerId));
  const fs::path folder = dir_.path() / "Tarn";
  fs::create_directories(folder);
  EXPECT_EQ(controller->Login({L"nas.example:5001", L"anna", L"secret", folder.wstring(), true}, tarn).result, 1);
  EXPECT_EQ(presenter_.Shown(), std::vector<std::wstring>{L"Orlin|Install_ReadOnly_Msg"});
}

// Left-overs of a write that was killed half-way go; so does the language
// of a lang.xml that was cut short, which reads as Chinese; the damaged
// files themselves are not written over.
TEST_F(EngineControllerTest, TheStartUpClearsStaleTemporariesAndReadsACutLangFileAsChinese) {
  fs::create_directories(layout_.EngineHome());
  table_.WriteFirstRunConfig();
  const fs::path staleConfig = layout_.EngineHome() / "config.xml.tmp4000000000-3";
  const fs::path staleUsers = layout_.installDir / "userconfig.xml.tmp4000000000-4";
  std::ofstream(staleConfig) << "<apikey>" << kApiKey << "</apikey>";
  std::ofstream(staleUsers) << "<users>";
  const std::string cutLang = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Orlin>\n    <lang>en</la";
  std::ofstream(layout_.LangFile(), std::ios::binary) << cutLang;

  auto controller = MakeController();
  controller->Start();
  ASSERT_TRUE(controller->WaitReady(120s));
  EXPECT_FALSE(fs::exists(staleConfig));
  EXPECT_FALSE(fs::exists(staleUsers));
  EXPECT_EQ(controller->Settings().language, L"zh_cn");
  EXPECT_EQ(presenter_.Shown(), std::vector<std::wstring>{L"Orlin|Lang_Failed_Msg"});
  EXPECT_EQ(ReadFile(layout_.LangFile()), cutLang);
  EXPECT_FALSE(controller->SetLanguage(L"en"));
  EXPECT_EQ(ReadFile(layout_.LangFile()), cutLang);
}

}  // namespace
}  // namespace orlin
