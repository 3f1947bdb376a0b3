// The state files a fresh install ships with must load through the same
// readers as the user's files, with the documented defaults.

#include <gtest/gtest.h>

#include "app/store/ini_file.h"
#include "app/store/state_files.h"
#include "app/store/tests/state_test_fakes.h"

namespace orlin {
namespace {

const std::filesystem::path kDist = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().parent_path() / "dist";

TEST(DistDefaults, ShippedStateFilesLoadWithTheirDefaults) {
  // A cross-built test run on another system may not see the source tree.
  if (!std::filesystem::exists(kDist / "lang.xml")) GTEST_SKIP() << "no source tree at " << kDist;
  testing::RecordingPresenter presenter;
  StateFiles files(InstallLayout{kDist}, presenter);
  EXPECT_EQ(files.ReadLanguage(), L"en");
  EXPECT_EQ(files.ReadDpi(0), 96);
  EXPECT_FALSE(files.ReadTaskbarStyle(true));
  EXPECT_EQ(files.ReadUserEntry(L"anyone"), std::nullopt);
  EXPECT_FALSE(files.IsPathTakenByAnotherUser(L"/any", L"anyone"));
  EXPECT_TRUE(presenter.messages.empty());

  std::string error;
  const auto ini = IniDocument::Load(kDist / "Orlin.ini", &error);
  ASSERT_TRUE(ini) << error;
  EXPECT_EQ(ProductDisplayName(*ini), "Orlin Desktop Sync");
}

}  // namespace
}  // namespace orlin
