#include "platform/registry.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/support/temp_dir.h"

namespace orlin::platform {
namespace {

using testsupport::TempDir;

// Every test works below a scratch key of its own, so that where the registry
// is the system's, nothing of the user's is touched.
constexpr wchar_t kTestsKey[] = L"Software\\Orlin Tests";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { base_ = std::wstring(kTestsKey) + L"\\registry-" + std::to_wstring(std::random_device{}()); }
  void TearDown() override {
    CRegistry reg(RegistryRoot::kCurrentUser, location_);
    if (reg.OpenKey(kTestsKey)) {
      testing::internal::CaptureStdout();
      reg.DeleteKey(base_.substr(std::wstring(kTestsKey).size() + 1));
      testing::internal::GetCapturedStdout();
    }
  }
  // `name` below the scratch key.
  std::wstring K(const std::wstring& name) const { return base_ + L"\\" + name; }

  TempDir dir_;
  RegistryLocation location_{dir_.path()};
  std::wstring base_;
};

TEST_F(RegistryTest, CreatedKeysAndValuesAreSeenByLaterObjects) {
  {
    CRegistry reg(RegistryRoot::kCurrentUser, location_);
    ASSERT_TRUE(reg.CreateKey(K(L"Orlin\\Test")));
    EXPECT_TRUE(reg.IsOpen());
    ASSERT_TRUE(reg.WriteString(L"", L"default text"));
    ASSERT_TRUE(reg.WriteString(L"Path", L"C:\\Program Files\\Orlin\\Orlin.exe"));
    // A nested create is relative to the current key.
    ASSERT_TRUE(reg.CreateKey(L"Child"));
    ASSERT_TRUE(reg.WriteString(L"v", L"child value"));
    reg.Close();
    EXPECT_FALSE(reg.IsOpen());
  }
  CRegistry reg(RegistryRoot::kCurrentUser, location_);
  std::wstring text;
  ASSERT_TRUE(reg.OpenKey(K(L"Orlin\\Test")));
  ASSERT_TRUE(reg.ReadString(L"", text));
  EXPECT_EQ(text, L"default text");
  ASSERT_TRUE(reg.ReadString(L"Path", text));
  EXPECT_EQ(text, L"C:\\Program Files\\Orlin\\Orlin.exe");
  ASSERT_TRUE(reg.OpenKey(L"Child"));
  ASSERT_TRUE(reg.ReadString(L"v", text));
  EXPECT_EQ(text, L"child value");
}

TEST_F(RegistryTest, OpeningAMissingKeyFailsAndKeepsTheCurrentKey) {
  CRegistry reg(RegistryRoot::kCurrentUser, location_);
  ASSERT_TRUE(reg.CreateKey(K(L"A\\B")));
  reg.Close();
  ASSERT_TRUE(reg.OpenKey(K(L"A")));
  EXPECT_FALSE(reg.OpenKey(L"Missing"));
  ASSERT_TRUE(reg.OpenKey(L"B"));  // still below A
}

TEST_F(RegistryTest, WritingWithoutAnOpenKeyFails) {
  CRegistry reg(RegistryRoot::kCurrentUser, location_);
  std::wstring text = L"unchanged";
  EXPECT_FALSE(reg.WriteString(L"x", L"y"));
  EXPECT_FALSE(reg.ReadString(L"x", text));
  EXPECT_FALSE(reg.DeleteValue(L"x"));
  EXPECT_EQ(text, L"unchanged");
}

TEST_F(RegistryTest, KeyAndValueNamesIgnoreCase) {
  CRegistry reg(RegistryRoot::kCurrentUser, location_);
  ASSERT_TRUE(reg.CreateKey(K(L"Classes\\CLSID\\{ABC}\\shell")));
  ASSERT_TRUE(reg.WriteString(L"Orlin", L"one"));
  reg.Close();
  ASSERT_TRUE(reg.CreateKey(K(L"classes\\clsid\\{abc}\\Shell")));
  ASSERT_TRUE(reg.WriteString(L"ORLIN", L"two"));
  reg.Close();

  ASSERT_TRUE(reg.OpenKey(K(L"CLASSES\\Clsid\\{Abc}\\SHELL")));
  std::wstring text;
  ASSERT_TRUE(reg.ReadString(L"orlin", text));
  EXPECT_EQ(text, L"two");  // the same value was overwritten, not duplicated
  ASSERT_TRUE(reg.DeleteValue(L"oRLIN"));
  EXPECT_FALSE(reg.ReadString(L"Orlin", text));
  EXPECT_FALSE(reg.DeleteValue(L"Orlin"));
}

TEST_F(RegistryTest, ReadHoldsNinetyNineCharactersAtMost) {
  CRegistry reg(RegistryRoot::kCurrentUser, location_);
  ASSERT_TRUE(reg.CreateKey(K(L"Limits")));
  const std::wstring ninetyNine(99, L'x');
  const std::wstring hundred(100, L'y');
  // 98 characters and one outside the basic plane take 100 UTF-16 units.
  const std::wstring surrogatePair = std::wstring(98, L'z') + L"\U0001F600";
  ASSERT_TRUE(reg.WriteString(L"99", ninetyNine));
  ASSERT_TRUE(reg.WriteString(L"100", hundred));
  ASSERT_TRUE(reg.WriteString(L"pair", surrogatePair));

  std::wstring text = L"before";
  ASSERT_TRUE(reg.ReadString(L"99", text));
  EXPECT_EQ(text, ninetyNine);
  text = L"before";
  EXPECT_FALSE(reg.ReadString(L"100", text));
  EXPECT_FALSE(reg.ReadString(L"pair", text));
  EXPECT_EQ(text, L"before");
}

TEST_F(RegistryTest, TextWithSeparatorsAndNonAsciiSurvivesTheStore) {
  const std::wstring awkward = L"tab\there\nnew line\r%25 percent 同步 \U0001F600";
  {
    CRegistry reg(RegistryRoot::kCurrentUser, location_);
    ASSERT_TRUE(reg.CreateKey(K(L"Odd key 同步")));
    ASSERT_TRUE(reg.WriteString(L"name\twith tab", awkward));
  }
  CRegistry reg(RegistryRoot::kCurrentUser, location_);
  ASSERT_TRUE(reg.OpenKey(K(L"odd KEY 同步")));
  std::wstring text;
  ASSERT_TRUE(reg.ReadString(L"name\twith tab", text));
  EXPECT_EQ(text, awkward);
}

TEST_F(RegistryTest, DeleteKeyRemovesTheWholeSubtreeOnly) {
  CRegistry reg(RegistryRoot::kCurrentUser, location_);
  ASSERT_TRUE(reg.CreateKey(K(L"Root\\Gone\\Deep\\Deeper")));
  ASSERT_TRUE(reg.WriteString(L"v", L"1"));
  reg.Close();
  ASSERT_TRUE(reg.CreateKey(K(L"Root\\GoneSibling")));  // shares the prefix, must stay
  reg.Close();

  ASSERT_TRUE(reg.OpenKey(K(L"root")));
  testing::internal::CaptureStdout();
  EXPECT_TRUE(reg.DeleteKey(L"GONE"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  EXPECT_FALSE(reg.OpenKey(L"Gone"));
  EXPECT_FALSE(reg.OpenKey(L"Gone\\Deep\\Deeper"));
  EXPECT_TRUE(reg.OpenKey(L"GoneSibling"));
}

TEST_F(RegistryTest, FailedDeleteKeyIsReportedOnTheConsoleAndStillSucceeds) {
  CRegistry reg(RegistryRoot::kCurrentUser, location_);
  ASSERT_TRUE(reg.CreateKey(base_));
  testing::internal::CaptureStdout();
  EXPECT_TRUE(reg.DeleteKey(L"Nothing\\Here"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "删除Nothing\\Here项失败\n");
}

TEST_F(RegistryTest, AKeyDeletedElsewhereCannotBeWrittenAnyMore) {
  CRegistry writer(RegistryRoot::kCurrentUser, location_);
  ASSERT_TRUE(writer.CreateKey(K(L"Shared\\Key")));
  CRegistry remover(RegistryRoot::kCurrentUser, location_);
  ASSERT_TRUE(remover.OpenKey(base_));
  ASSERT_TRUE(remover.DeleteKey(L"Shared"));
  EXPECT_FALSE(writer.WriteString(L"v", L"x"));
  EXPECT_FALSE(writer.CreateKey(L"Below"));
  EXPECT_FALSE(remover.OpenKey(L"Shared"));
}

TEST(RegistryLocationTest, TheStoreIsWhereTheCallerSaysOrInOrlinsConfiguration) {
  if (CRegistry::StoreDirectory({"/explicit"}).empty()) GTEST_SKIP() << "the system registry has no store directory";
  EXPECT_EQ(CRegistry::StoreDirectory({"/explicit"}), std::filesystem::path("/explicit"));
  const auto fallback = CRegistry::StoreDirectory({});
  EXPECT_EQ(fallback.filename(), "registry");
  EXPECT_EQ(fallback.parent_path().filename(), "orlin");
}

}  // namespace
}  // namespace orlin::platform
