#include "platform/program_start.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "tests/support/temp_dir.h"

namespace orlin::platform {
namespace {

constexpr wchar_t kReportVariable[] = L"ORLIN_ARGUMENTS_REPORT";

std::wstring ReportPath() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD n = ::GetEnvironmentVariableW(kReportVariable, buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring();
}

// Run as a child by the test below: writes down the arguments it was given,
// one per line, as UTF-8.
TEST(ProgramStartWin32Child, WritesItsArguments) {
  const std::wstring report = ReportPath();
  if (report.empty()) GTEST_SKIP() << "runs only as a child";
  std::ofstream out(std::filesystem::path(report), std::ios::binary);
  for (const std::string& word : ProgramArguments(0, nullptr)) out << word << '\n';
}

// Arguments outside the ANSI code page (a Chinese folder name, here) arrive
// whole: argv would have turned them into question marks.
TEST(ProgramStartWin32Test, ArgumentsOutsideTheCodePageArriveAsUtf8) {
  testsupport::TempDir dir;
  const std::wstring report = WideFromPath(dir.path() / "arguments.txt");
  ASSERT_TRUE(::SetEnvironmentVariableW(kReportVariable, report.c_str()));

  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine = L"\"" + std::wstring(self) +
                             L"\" --gtest_filter=ProgramStartWin32Child.* \"\u540C\u6B65 folder\" \u00E9\u20AC";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                               nullptr, &startup, &child));
  EXPECT_EQ(::WaitForSingleObject(child.hProcess, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
  ::CloseHandle(child.hThread);
  ::CloseHandle(child.hProcess);
  ::SetEnvironmentVariableW(kReportVariable, nullptr);

  std::ifstream in(std::filesystem::path(report), std::ios::binary);
  ASSERT_TRUE(in) << "the child wrote no report";
  std::vector<std::string> words;
  for (std::string line; std::getline(in, line);) words.push_back(line);
  ASSERT_EQ(words.size(), 3u);
  EXPECT_EQ(words[0], "--gtest_filter=ProgramStartWin32Child.*");
  EXPECT_EQ(words[1], "\xE5\x90\x8C\xE6\xAD\xA5 folder");
  EXPECT_EQ(words[2], "\xC3\xA9\xE2\x82\xAC");
}

}  // namespace
}  // namespace orlin::platform
