#include "platform/process.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "tests/support/temp_dir.h"

namespace orlin::platform {
namespace {

constexpr char kReportVariable[] = "ORLIN_PROCESS_CHILD_REPORT";

// Run as a child by the tests below, under the engine's image name: it
// writes down how it was started (start-up flags, show state, command line),
// then waits to be terminated.
TEST(ProcessWin32Child, RecordsHowItWasStartedAndWaits) {
  const char* report = std::getenv(kReportVariable);
  if (report == nullptr || *report == '\0') GTEST_SKIP() << "runs only as a child";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  ::GetStartupInfoW(&startup);
  const std::filesystem::path file = std::filesystem::path(report).concat(std::to_string(::GetCurrentProcessId()));
  const std::filesystem::path partial = std::filesystem::path(file).concat(".part");
  {
    std::ofstream out(partial, std::ios::binary);
    out << startup.dwFlags << ' ' << startup.wShowWindow << '\n' << WideToUtf8(::GetCommandLineW());
  }
  std::filesystem::rename(partial, file);  // the parent sees it whole or not at all
  ::Sleep(60000);
}

std::filesystem::path OwnPath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

struct ChildReport {
  unsigned long flags = 0;
  unsigned showWindow = 0;
  std::wstring commandLine;
};

std::optional<ChildReport> WaitForReport(const std::filesystem::path& prefix, ProcessId pid) {
  const auto file = std::filesystem::path(prefix).concat(std::to_string(pid));
  for (int i = 0; i < 400 && !std::filesystem::exists(file); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  ChildReport report;
  in >> report.flags >> report.showWindow;
  in.get();
  std::stringstream rest;
  rest << in.rdbuf();
  report.commandLine = Utf8ToWide(rest.str());
  return report;
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

class ScopedReportVariable {
 public:
  explicit ScopedReportVariable(const std::filesystem::path& prefix) {
    ::SetEnvironmentVariableW(L"ORLIN_PROCESS_CHILD_REPORT", prefix.c_str());
    _wputenv_s(L"ORLIN_PROCESS_CHILD_REPORT", prefix.c_str());
  }
  ~ScopedReportVariable() {
    ::SetEnvironmentVariableW(L"ORLIN_PROCESS_CHILD_REPORT", nullptr);
    _wputenv_s(L"ORLIN_PROCESS_CHILD_REPORT", L"");
  }
};

// The supervision cycle the engine gets: a copy of this test program named
// Sync.exe in a directory with a blank is started hidden with the engine's
// command line, the scan finds every copy by its image name in any case, and
// each is terminated with exit code 9.
TEST(ProcessWin32Test, EngineNamedChildrenAreStartedHiddenFoundByNameAndTerminatedWithNine) {
  testsupport::TempDir temp;
  const auto installDir = temp.path() / L"Tarn App";
  std::filesystem::create_directories(installDir);
  const auto engine = installDir / L"Sync.exe";
  std::filesystem::copy_file(OwnPath(), engine);
  const auto home = installDir / L"syncconfig";
  const auto reportPrefix = temp.path() / "started-";

  SystemProcessTable table;
  const std::wstring commandLine = L"\"" + engine.wstring() + L"\" -no-browser -no-console -home=\"" + home.wstring() +
                                   L"\" --gtest_filter=ProcessWin32Child.RecordsHowItWasStartedAndWaits";
  std::vector<ProcessId> started;
  std::vector<HANDLE> handles;
  {
    ScopedReportVariable variable(reportPrefix);
    for (int i = 0; i < 2; ++i) {
      const auto pid = table.StartHidden(commandLine);
      ASSERT_TRUE(pid.has_value());
      started.push_back(*pid);
      HANDLE h = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, *pid);
      ASSERT_NE(h, nullptr);
      handles.push_back(h);
    }
  }

  for (ProcessId pid : started) {
    const auto report = WaitForReport(reportPrefix, pid);
    ASSERT_TRUE(report.has_value()) << "child " << pid << " never reported";
    EXPECT_TRUE(report->flags & STARTF_USESHOWWINDOW);
    EXPECT_EQ(report->showWindow, static_cast<unsigned>(SW_HIDE));
    const auto words = SplitCommandLine(report->commandLine);
    ASSERT_EQ(words.size(), 5u) << WideToUtf8(report->commandLine);
    EXPECT_EQ(words[0], engine.wstring());
    EXPECT_EQ(words[3], L"-home=" + home.wstring());
  }

  // What "terminate all" does: every entry whose lower-cased image name is
  // the engine's is ended; ours are among them and nothing else is touched.
  const auto scan = table.Scan();
  ASSERT_TRUE(scan.has_value());
  int found = 0;
  for (const ProcessEntry& entry : *scan) {
    if (Lower(entry.imageName) != L"sync.exe") continue;
    if (std::find(started.begin(), started.end(), entry.pid) == started.end()) continue;
    ++found;
    EXPECT_TRUE(table.Terminate(entry.pid, 9));
  }
  EXPECT_EQ(found, 2);

  for (HANDLE h : handles) {
    ASSERT_EQ(::WaitForSingleObject(h, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 0;
    ASSERT_TRUE(::GetExitCodeProcess(h, &code));
    EXPECT_EQ(code, 9u);
    ::CloseHandle(h);
  }
  const auto after = table.Scan();
  ASSERT_TRUE(after.has_value());
  for (const ProcessEntry& entry : *after) {
    EXPECT_EQ(std::find(started.begin(), started.end(), entry.pid), started.end()) << "still listed: " << entry.pid;
  }
}

// The engine check asks about the same engine process ten times a second:
// after the first look it is watched without a snapshot, and still seen to
// end, whatever the case of the name asked for.
TEST(ProcessWin32Test, StillRunningTellsAWatchedProcessByNameAndSeesItEnd) {
  testsupport::TempDir temp;
  const auto engine = temp.path() / L"Sync.exe";
  std::filesystem::copy_file(OwnPath(), engine);
  SystemProcessTable table;

  const std::wstring self = OwnPath().filename().wstring();
  EXPECT_EQ(table.StillRunning(::GetCurrentProcessId(), self), std::optional<bool>(true));
  EXPECT_EQ(table.StillRunning(::GetCurrentProcessId(), L"Sync.exe"), std::optional<bool>(false))
      << "another name is another process";
  EXPECT_EQ(table.StillRunning(0xFFFFFFF0u, L"Sync.exe"), std::optional<bool>(false)) << "no such process";

  std::optional<ProcessId> child;
  {
    ScopedReportVariable variable(temp.path() / "started-");
    child = table.StartHidden(L"\"" + engine.wstring() + L"\" --gtest_filter=ProcessWin32Child.RecordsHowItWasStartedAndWaits");
  }
  ASSERT_TRUE(child.has_value());
  HANDLE h = ::OpenProcess(SYNCHRONIZE, FALSE, *child);
  ASSERT_NE(h, nullptr);
  for (int i = 0; i < 250; ++i) {
    ASSERT_EQ(table.StillRunning(*child, i % 2 ? L"sync.exe" : L"Sync.exe"), std::optional<bool>(true)) << "look " << i;
  }
  ASSERT_TRUE(table.Terminate(*child, 9));
  ASSERT_EQ(::WaitForSingleObject(h, 120000), static_cast<DWORD>(WAIT_OBJECT_0)) << "the child did not end within 120 s";
  EXPECT_EQ(table.StillRunning(*child, L"Sync.exe"), std::optional<bool>(false));
  EXPECT_EQ(table.StillRunning(*child, L"Sync.exe"), std::optional<bool>(false)) << "and stays ended";
  ::CloseHandle(h);
}

TEST(ProcessWin32Test, StartingAMissingProgramFailsAndAnUnknownProcessCannotBeEnded) {
  SystemProcessTable table;
  EXPECT_FALSE(table.StartHidden(L"\"C:\\no such dir\\Sync.exe\" -no-browser").has_value());
  EXPECT_FALSE(table.Terminate(0xFFFFFFF0u, 9));
}

}  // namespace
}  // namespace orlin::platform
