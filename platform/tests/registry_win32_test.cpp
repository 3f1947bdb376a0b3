#include "platform/registry.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace orlin::platform {
namespace {

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

}  // namespace
}  // namespace orlin::platform
