#include "platform/registry.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace orlin::platform {
namespace {

// Runs a console program of the system and returns its exit code and what it
// wrote to standard output.
struct Captured {
  DWORD exitCode = 0xFFFFFFFF;
  std::string output;
};

Captured RunAndCapture(std::wstring commandLine) {
  Captured result;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION info{};
  commandLine.push_back(L'\0');
  const BOOL ok = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                   nullptr, &startup, &info);
  ::CloseHandle(writeEnd);
  if (ok) {
    char buffer[4096];
    DWORD n = 0;
    while (::ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) result.output.append(buffer, n);
    ::WaitForSingleObject(info.hProcess, 30000);
    ::GetExitCodeProcess(info.hProcess, &result.exitCode);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
  }
  ::CloseHandle(readEnd);
  return result;
}

class RegistryWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    base_ = L"Software\\OrlinTest\\" + std::to_wstring(rd());
  }
  void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str()); }
  std::wstring base_;
};

TEST_F(RegistryWin32Test, StringsRoundTripAsRegSzWithTheTerminatorCounted) {
  CRegistry reg(RegistryRoot::kCurrentUser);
  ASSERT_TRUE(reg.CreateKey(base_ + L"\\Run"));
  const std::wstring path = L"C:\\Program Files\\Orlin\\\u540C\u6B65.exe";
  ASSERT_TRUE(reg.WriteString(L"Orlin", path));
  ASSERT_TRUE(reg.WriteString(L"", L"Orlin"));
  std::wstring read;
  ASSERT_TRUE(reg.ReadString(L"Orlin", read));
  EXPECT_EQ(read, path);
  ASSERT_TRUE(reg.ReadString(L"", read));
  EXPECT_EQ(read, L"Orlin");

  // Checked through the plain registry functions, not through CRegistry.
  DWORD type = 0, bytes = 0;
  const std::wstring key = base_ + L"\\Run";
  ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"Orlin", RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(bytes, (path.size() + 1) * sizeof(wchar_t));
}

TEST_F(RegistryWin32Test, ReadsAreLimitedToNinetyNineCharacters) {
  CRegistry reg(RegistryRoot::kCurrentUser);
  ASSERT_TRUE(reg.CreateKey(base_));
  ASSERT_TRUE(reg.WriteString(L"fits", std::wstring(99, L'a')));
  ASSERT_TRUE(reg.WriteString(L"long", std::wstring(100, L'b')));
  std::wstring read = L"unchanged";
  ASSERT_TRUE(reg.ReadString(L"fits", read));
  EXPECT_EQ(read, std::wstring(99, L'a'));
  read = L"unchanged";
  EXPECT_FALSE(reg.ReadString(L"long", read));
  EXPECT_FALSE(reg.ReadString(L"missing", read));
  EXPECT_EQ(read, L"unchanged");
}

TEST_F(RegistryWin32Test, KeysNestBelowTheCurrentKeyAndDeleteWithEverythingBelow) {
  {
    CRegistry reg(RegistryRoot::kCurrentUser);
    ASSERT_TRUE(reg.CreateKey(base_ + L"\\CLSID"));
    ASSERT_TRUE(reg.CreateKey(L"shell"));
    ASSERT_TRUE(reg.CreateKey(L"Open\\Command"));
    ASSERT_TRUE(reg.WriteString(L"", L"C:\\Orlin.exe"));
    reg.Close();
    EXPECT_FALSE(reg.IsOpen());
    EXPECT_TRUE(reg.OpenKey(base_ + L"\\CLSID\\Shell\\Open\\Command"));  // names ignore case
    EXPECT_FALSE(reg.OpenKey(L"NoSuchKey"));
  }
  CRegistry reg(RegistryRoot::kCurrentUser);
  ASSERT_TRUE(reg.OpenKey(base_));
  EXPECT_TRUE(reg.DeleteKey(L"CLSID"));
  EXPECT_FALSE(reg.OpenKey(L"CLSID"));
  // A missing key is reported on the console, not as a failure.
  EXPECT_TRUE(reg.DeleteKey(L"CLSID"));
  ASSERT_TRUE(reg.WriteString(L"v", L"x"));
  EXPECT_TRUE(reg.DeleteValue(L"v"));
  EXPECT_FALSE(reg.DeleteValue(L"v"));
}

// The values land in the view the rest of the system reads: the one reg.exe
// shows with /reg:64, which is where the product writes on 64-bit Windows
// even as a 32-bit program.
TEST_F(RegistryWin32Test, ValuesAreSeenByTheSystemsOwnToolInThe64BitView) {
  const std::wstring key = base_ + L"\\Explorer\\MyComputer\\NameSpace\\{A5F4E1C4-B6E2-4E9A-8865-BDBC5DEE6598}";
  const std::wstring exe = L"C:\\Program Files\\Orlin\\Orlin.exe";
  {
    CRegistry reg(RegistryRoot::kCurrentUser);
    ASSERT_TRUE(reg.CreateKey(key));
    ASSERT_TRUE(reg.WriteString(L"", L"Orlin"));
    ASSERT_TRUE(reg.WriteString(L"Path", exe));
  }
  const Captured named = RunAndCapture(L"reg.exe query \"HKCU\\" + key + L"\" /v Path /reg:64");
  ASSERT_EQ(named.exitCode, 0u) << named.output;
  EXPECT_NE(named.output.find("REG_SZ"), std::string::npos) << named.output;
  EXPECT_NE(named.output.find("C:\\Program Files\\Orlin\\Orlin.exe"), std::string::npos) << named.output;

  // HKCU\Software is one key for both views, so a 32-bit reader sees the
  // same values.
  const Captured view32 = RunAndCapture(L"reg.exe query \"HKCU\\" + key + L"\" /v Path /reg:32");
  ASSERT_EQ(view32.exitCode, 0u) << view32.output;
  EXPECT_NE(view32.output.find("C:\\Program Files\\Orlin\\Orlin.exe"), std::string::npos) << view32.output;

  const Captured byDefault = RunAndCapture(L"reg.exe query \"HKCU\\" + key + L"\" /ve /reg:64");
  ASSERT_EQ(byDefault.exitCode, 0u) << byDefault.output;
  EXPECT_NE(byDefault.output.find("Orlin"), std::string::npos) << byDefault.output;

  // Deleting through CRegistry removes the key for everyone.
  {
    CRegistry reg(RegistryRoot::kCurrentUser);
    ASSERT_TRUE(reg.OpenKey(base_));
    EXPECT_TRUE(reg.DeleteKey(L"Explorer"));
  }
  const Captured gone = RunAndCapture(L"reg.exe query \"HKCU\\" + key + L"\" /ve /reg:64");
  EXPECT_NE(gone.exitCode, 0u) << gone.output;
}

// A value written by the system's own tool reads back through CRegistry,
// and one too long for the read buffer is refused as it is on Windows.
TEST_F(RegistryWin32Test, ValuesWrittenByTheSystemsOwnToolReadBack) {
  const std::wstring key = L"HKCU\\" + base_ + L"\\Run";
  const Captured added = RunAndCapture(L"reg.exe add \"" + key + L"\" /v Orlin /t REG_SZ /d \"C:\\Orlin\\Orlin.exe\" /f /reg:64");
  ASSERT_EQ(added.exitCode, 0u) << added.output;
  const Captured tooLong = RunAndCapture(L"reg.exe add \"" + key + L"\" /v Long /t REG_SZ /d " +
                                         std::wstring(100, L'x') + L" /f /reg:64");
  ASSERT_EQ(tooLong.exitCode, 0u) << tooLong.output;

  CRegistry reg(RegistryRoot::kCurrentUser);
  ASSERT_TRUE(reg.OpenKey(base_ + L"\\Run"));
  std::wstring read;
  ASSERT_TRUE(reg.ReadString(L"Orlin", read));
  EXPECT_EQ(read, L"C:\\Orlin\\Orlin.exe");
  EXPECT_FALSE(reg.ReadString(L"Long", read));
  EXPECT_EQ(read, L"C:\\Orlin\\Orlin.exe");
}

}  // namespace
}  // namespace orlin::platform
