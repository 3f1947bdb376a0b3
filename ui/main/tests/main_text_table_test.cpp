#include "ui/main/main_text_table.h"

#include <gtest/gtest.h>

namespace orlin {
namespace {

TEST(MainTextTable, EnglishOnlyForExactlyEnAndChineseOtherwise) {
  EXPECT_EQ(MainTextTable::Size(), 86u);
  EXPECT_EQ(MainTextTable::Lookup(L"Up to date", L"en"), L"Up to date");
  EXPECT_EQ(MainTextTable::Lookup(L"Up to date", L"zh_cn"), L"已同步");
  EXPECT_EQ(MainTextTable::Lookup(L"Up to date", L"EN"), L"已同步");
  EXPECT_EQ(MainTextTable::Lookup(L"Up to date", L""), L"已同步");
  EXPECT_EQ(MainTextTable::Lookup(L"Syncing_Event", L"en"), L"Syncing... ");
  // The product's own spelling stays.
  EXPECT_EQ(MainTextTable::Lookup(L"menu_folder", L"en"), L"Open Floder");
}

TEST(MainTextTable, IdsIgnoreCaseAndUnknownOrMissingTextsAreNull) {
  EXPECT_EQ(MainTextTable::Lookup(L"MENU_EXIT", L"en"), L"Exit");
  EXPECT_EQ(MainTextTable::Lookup(L"outofsync_event", L"zh_cn"), L"未同步");
  EXPECT_EQ(MainTextTable::Lookup(L"No_Such_Id", L"en"), std::nullopt);
  EXPECT_EQ(MainTextTable::Lookup(L"", L"en"), std::nullopt);
  // Two ids have a Chinese text only.
  EXPECT_EQ(MainTextTable::Lookup(L"Remote deleted dir", L"en"), std::nullopt);
  EXPECT_EQ(MainTextTable::Lookup(L"Remote deleted file", L"zh_cn"), L"远程删除文件");
}

TEST(MainTextTable, ThreeButtonsCarryTheirCounts) {
  MainTextCounts counts{L"(3)", L"(1)", L"(2)"};
  EXPECT_EQ(MainTextTable::Lookup(L"UnSync_Btn", L"en", counts), L"UnSynced Files(3)");
  EXPECT_EQ(MainTextTable::Lookup(L"Error_Btn", L"zh_cn", counts), L"失败文件(1)");
  EXPECT_EQ(MainTextTable::Lookup(L"remote_devices_btn", L"en", counts), L"Remote Devices(2)");
  EXPECT_EQ(MainTextTable::Lookup(L"Conflict_Btn", L"en", counts), L"Conflicting Files");
}

}  // namespace
}  // namespace orlin
