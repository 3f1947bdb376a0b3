// The engine supervision against the real Windows engine under Wine: the
// engine binary (built by scripts/build-windows-engine and named by
// ORLIN_WINDOWS_ENGINE) is laid out as Sync.exe in a scratch install
// directory whose path has a blank, then started, found, ended and restarted
// through the system process table, and its REST interface is asked through
// the WinInet client.
//
// The engine must never reach the host network: the tests run only where the
// process's network namespace has no interface but loopback (the Windows test
// stage runs everything inside `unshare -n`), and skip otherwise.

#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "common/message_presenter.h"
#include "common/text.h"
#include "engine/config_file.h"
#include "engine/engine_process.h"
#include "platform/http_client.h"
#include "platform/process.h"
#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

using namespace std::chrono_literals;
using platform::ProcessEntry;
using platform::ProcessId;

constexpr wchar_t kRestAddress[] = L"127.0.0.1:18384";

class RecordingPresenter : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring& title, const std::wstring& key, bool showCancel) override {
    std::lock_guard lock(mutex_);
    shown_.push_back(title + L"|" + key + (showCancel ? L"|cancel" : L"|ok"));
    if (onShow_) onShow_(shown_.size());
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring&, bool) override { ADD_FAILURE() << "no login here"; }
  std::vector<std::wstring> Shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
  }
  void OnShow(std::function<void(std::size_t)> onShow) { onShow_ = std::move(onShow); }

 private:
  mutable std::mutex mutex_;
  std::vector<std::wstring> shown_;
  std::function<void(std::size_t)> onShow_;
};

// Why the engine may not run here, or empty when this process's network
// namespace holds only loopback. Wine reads Linux files through drive Z:,
// and /proc/net/dev lists the interfaces of the reader's namespace, which
// is also the one of every engine this process starts.
std::string PrivateNetworkProblem() {
  std::ifstream in(L"Z:\\proc\\net\\dev");
  if (!in) return "cannot read /proc/net/dev through drive Z:";
  std::string line;
  std::vector<std::string> interfaces;
  while (std::getline(in, line)) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    const auto first = line.find_first_not_of(' ');
    interfaces.push_back(line.substr(first, colon - first));
  }
  if (interfaces.empty()) return "no interface listed in /proc/net/dev";
  for (const auto& name : interfaces) {
    if (name != "lo") return "the network namespace has interface " + name + " (run inside unshare -n)";
  }
  return {};
}

// The command line a process was started with, read from its process
// parameters block (the engine has the same bitness as this test); nullopt
// when it cannot be read.
std::optional<std::wstring> CommandLineOf(ProcessId pid) {
  using QueryFn = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  if (query == nullptr) return std::nullopt;
  HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (process == nullptr) return std::nullopt;
  std::optional<std::wstring> result;
  PROCESS_BASIC_INFORMATION basic{};
  PEB peb{};
  RTL_USER_PROCESS_PARAMETERS parameters{};
  if (query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) >= 0 &&
      ::ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, nullptr) &&
      ::ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters, nullptr)) {
    std::wstring line(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
    if (line.empty() ||
        ::ReadProcessMemory(process, parameters.CommandLine.Buffer, line.data(), parameters.CommandLine.Length, nullptr)) {
      result = std::move(line);
    }
  }
  ::CloseHandle(process);
  return result;
}

// Ids of the processes whose lower-cased image name is the engine's.
std::vector<ProcessId> EngineIds(platform::ProcessTable& table) {
  std::vector<ProcessId> ids;
  if (const auto scan = table.Scan()) {
    for (const ProcessEntry& entry : *scan) {
      if (AsciiLower(entry.imageName) == EngineProcess::kImageName) ids.push_back(entry.pid);
    }
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

template <typename Predicate>
bool WaitUntil(Predicate predicate, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

// Sets an environment variable of this process (and so of the engines it
// starts) for one test, and puts back what was there before.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
    const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (size > 0) {
      previous_.emplace(size, L'\0');
      previous_->resize(::GetEnvironmentVariableW(name, previous_->data(), size));
    }
    ::SetEnvironmentVariableW(name, value);
  }
  ~ScopedVariable() { ::SetEnvironmentVariableW(name_, previous_ ? previous_->c_str() : nullptr); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const wchar_t* name_;
  std::optional<std::wstring> previous_;
};

class RealWindowsEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* engine = std::getenv("ORLIN_WINDOWS_ENGINE");
    if (engine == nullptr || *engine == '\0') {
      GTEST_SKIP() << "ORLIN_WINDOWS_ENGINE names no engine (scripts/test-windows sets it)";
    }
    const std::string problem = PrivateNetworkProblem();
    if (!problem.empty()) GTEST_SKIP() << "the engine may not run here: " << problem;
    const std::filesystem::path source = Utf8ToWide(engine);
    ASSERT_TRUE(std::filesystem::is_regular_file(source)) << "ORLIN_WINDOWS_ENGINE: no file " << engine;
    ASSERT_TRUE(EngineIds(table_).empty()) << "an engine is already running; these tests end every sync.exe";

    installDir_ = temp_.path() / L"Tarn App";
    std::filesystem::create_directories(installDir_);
    std::filesystem::copy_file(source, installDir_ / L"Sync.exe");
    prepared_ = true;
  }

  void TearDown() override {
    if (!prepared_) return;
    // Leave no engine behind, whatever the test did.
    EngineProcess process(installDir_, table_, presenter_, clock_);
    WaitUntil([&] { process.TerminateAll(); return !process.IsRunning(); }, 20s);
  }

  std::filesystem::path Home() const { return installDir_ / L"syncconfig"; }

  // Waits for the REST interface to answer /rest/system/ping with the key of
  // the engine's configuration; returns the last answer.
  std::wstring PingUntilAnswered(std::chrono::milliseconds limit) {
    std::wstring answer;
    WaitUntil(
        [&] {
          RecordingPresenter quiet;
          std::string key;
          if (!std::filesystem::exists(Home() / L"config.xml")) return false;
          if (!EngineConfigFile(Home() / L"config.xml", quiet).ReadApiKey(key) || key.empty()) return false;
          platform::CHttpClient client(platform::kHttpUserAgent);
          client.SetConnectTimeout(2s);
          client.SetReceiveTimeout(5s);
          const int result = client.Get(std::wstring(L"http://") + kRestAddress + L"/rest/system/ping",
                                        L"X-API-Key: " + Utf8ToWide(key), answer);
          return result == platform::kHttpSuccess && client.LastExchange().httpStatus == 200;
        },
        limit);
    return answer;
  }

  testsupport::TempDir temp_;
  std::filesystem::path installDir_;
  bool prepared_ = false;
  platform::SystemProcessTable table_;
  RecordingPresenter presenter_;
  SystemClock clock_;
  // The engine's REST interface on the address Orlin talks to; its default
  // folder goes to the scratch directory, not the Wine user's home.
  ScopedVariable guiAddress_{L"STGUIADDRESS", kRestAddress};
  ScopedVariable userProfile_{L"USERPROFILE", temp_.path().c_str()};
};

// One whole supervision cycle: ensure running starts the engine with the
// product's command line, the scan sees both of its processes (monitor and
// engine) as sync.exe, the REST interface answers, terminate all ends both
// with exit code 9, and ensure running brings a fresh engine back.
TEST_F(RealWindowsEngine, StartsFindsEndsAndRestartsTheEngine) {
  EngineProcess process(installDir_, table_, presenter_, clock_);
  const std::wstring expected = L"\"" + (installDir_ / L"Sync.exe").wstring() +
                                L"\" -no-browser -no-console -home=\"" + Home().wstring() + L"\"";
  ASSERT_EQ(process.CommandLine(), expected);

  ASSERT_TRUE(process.EnsureRunning());
  EXPECT_GE(process.ProcessCount(), 1);
  // The monitor starts the engine proper from its own file a moment later.
  std::vector<ProcessId> ids;
  ASSERT_TRUE(WaitUntil([&] { return (ids = EngineIds(table_)).size() == 2; }, 30s))
      << "engine processes seen: " << ids.size();
  EXPECT_TRUE(process.IsRunning());
  EXPECT_EQ(process.ProcessCount(), 2);

  // Both carry the product's words: the monitor exactly our line, the engine
  // the same words as the monitor passes them on.
  const std::vector<std::wstring> words = platform::SplitCommandLine(expected);
  int exact = 0;
  for (ProcessId pid : ids) {
    const auto line = CommandLineOf(pid);
    ASSERT_TRUE(line.has_value()) << "cannot read the command line of " << pid;
    EXPECT_EQ(platform::SplitCommandLine(*line), words) << WideToUtf8(*line);
    if (*line == expected) ++exact;
  }
  EXPECT_EQ(exact, 1) << "the monitor runs with exactly the product's command line";

  // The engine made its home where the quoted -home= points, and answers.
  const std::wstring pong = PingUntilAnswered(30s);
  EXPECT_NE(pong.find(L"pong"), std::wstring::npos) << WideToUtf8(pong);
  EXPECT_TRUE(std::filesystem::exists(Home() / L"config.xml"));
  EXPECT_TRUE(std::filesystem::exists(Home() / L"cert.pem"));

  std::vector<HANDLE> handles;
  for (ProcessId pid : ids) {
    HANDLE h = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    ASSERT_NE(h, nullptr);
    handles.push_back(h);
  }
  process.TerminateAll();
  for (HANDLE h : handles) {
    EXPECT_EQ(::WaitForSingleObject(h, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 0;
    EXPECT_TRUE(::GetExitCodeProcess(h, &code));
    EXPECT_EQ(code, 9u);
    ::CloseHandle(h);
  }
  // One pass ended both, so the monitor had no chance to start another.
  EXPECT_FALSE(process.IsRunning());
  EXPECT_EQ(process.ProcessCount(), 0);

  ASSERT_TRUE(process.EnsureRunning());
  std::vector<ProcessId> again;
  ASSERT_TRUE(WaitUntil([&] { return (again = EngineIds(table_)).size() == 2; }, 30s));
  for (ProcessId pid : again) {
    EXPECT_EQ(std::find(ids.begin(), ids.end(), pid), ids.end()) << "an old process survived: " << pid;
  }
  EXPECT_NE(PingUntilAnswered(30s).find(L"pong"), std::wstring::npos);

  EXPECT_TRUE(process.StopAll());
  EXPECT_TRUE(EngineIds(table_).empty());
  EXPECT_TRUE(presenter_.Shown().empty());
}

// An engine whose processes vanish without Orlin's doing is restarted by the
// next ensure running, as the main window's refresh cycle does.
TEST_F(RealWindowsEngine, AVanishedEngineIsRestartedByTheNextEnsureRunning) {
  EngineProcess process(installDir_, table_, presenter_, clock_);
  ASSERT_TRUE(process.EnsureRunning());
  std::vector<ProcessId> ids;
  ASSERT_TRUE(WaitUntil([&] { return (ids = EngineIds(table_)).size() == 2; }, 30s));
  ASSERT_NE(PingUntilAnswered(30s).find(L"pong"), std::wstring::npos);

  // Killed from outside, not by Orlin: any exit code.
  for (ProcessId pid : ids) table_.Terminate(pid, 1);
  ASSERT_TRUE(WaitUntil([&] { return EngineIds(table_).empty(); }, 10s));
  EXPECT_FALSE(process.IsRunning());

  ASSERT_TRUE(process.EnsureRunning());
  EXPECT_NE(PingUntilAnswered(30s).find(L"pong"), std::wstring::npos);
  EXPECT_TRUE(process.StopAll());
  EXPECT_TRUE(presenter_.Shown().empty());
}

// Without Sync.exe in the install directory every start fails: the failure
// message comes (paced), ensure running keeps trying and gives up only when
// asked to stop, and no engine appears.
TEST_F(RealWindowsEngine, AMissingEngineFileShowsTheFailureMessageUntilStopped) {
  std::filesystem::remove(installDir_ / L"Sync.exe");
  EngineProcessOptions options;
  options.messageInterval = 20ms;
  options.maxRetryDelay = 10ms;
  EngineProcess process(installDir_, table_, presenter_, clock_, options);
  std::stop_source stop;
  presenter_.OnShow([&](std::size_t count) {
    if (count >= 3) stop.request_stop();
  });

  EXPECT_FALSE(process.EnsureRunning(stop.get_token()));
  const auto shown = presenter_.Shown();
  ASSERT_EQ(shown.size(), 3u);
  for (const auto& message : shown) EXPECT_EQ(message, L"Orlin|Sync_NoRunning_Msg|cancel");
  EXPECT_EQ(process.ProcessCount(), 0);
  EXPECT_TRUE(EngineIds(table_).empty());
}

}  // namespace
}  // namespace orlin
