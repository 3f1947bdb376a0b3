#include "app/store/os_name.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace orlin {
namespace {

TEST(OsNameTest, EveryRowOfTheWindowsTable) {
  struct Row {
    unsigned major, minor;
    const wchar_t* workstation;
    const wchar_t* server;
  };
  const std::vector<Row> rows = {
      {5, 1, L"Windows XP", L"Windows XP"},
      {5, 2, L"Windows XP", L"Windows XP"},
      {6, 0, L"Windows Vista", L"Windows Vista"},
      {6, 1, L"Windows 7", L"Windows Server 2008"},
      {6, 2, L"Windows 8", L"Windows Server 2012"},
      {6, 3, L"Windows 8.1", L"Windows Server 2012 R2"},
      {10, 0, L"Windows 10", L"Windows Server 2016"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.major << "." << row.minor);
    EXPECT_EQ(OsNameFromVersion(row.major, row.minor, kProductTypeWorkstation), row.workstation);
    // Domain controllers (2) and servers (3) are both servers.
    EXPECT_EQ(OsNameFromVersion(row.major, row.minor, 2), row.server);
    EXPECT_EQ(OsNameFromVersion(row.major, row.minor, 3), row.server);
  }
}

TEST(OsNameTest, VersionsOutsideTheTableHaveNoName) {
  for (auto [major, minor] : std::vector<std::pair<unsigned, unsigned>>{
           {5, 0}, {4, 0}, {5, 3}, {6, 4}, {10, 1}, {11, 0}, {0, 0}}) {
    EXPECT_EQ(OsNameFromVersion(major, minor, kProductTypeWorkstation), L"") << major << "." << minor;
    EXPECT_EQ(OsNameFromVersion(major, minor, 3), L"") << major << "." << minor;
  }
}

TEST(OsNameTest, ASystemThatNamesItselfKeepsItsName) {
  platform::OsIdentity debian;
  debian.name = L"Debian GNU/Linux 12 (bookworm)";
  EXPECT_EQ(OperatingSystemName(debian), L"Debian GNU/Linux 12 (bookworm)");

  platform::OsIdentity windows{10, 0, kProductTypeWorkstation, L""};
  EXPECT_EQ(OperatingSystemName(windows), L"Windows 10");
  EXPECT_EQ(OperatingSystemName(platform::OsIdentity{5, 0, 1, L""}), L"");
}

TEST(OsNameTest, TheRunningSystemIsNamedAndItsComputerNameFitsTheField) {
  const std::wstring name = OperatingSystemName();
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(name.find_first_of(L"\"\r\n"), std::wstring::npos);  // quotes and line ends are not part of it
  EXPECT_LT(platform::ComputerName().size(), platform::kComputerNameBufferChars);
}

}  // namespace
}  // namespace orlin
