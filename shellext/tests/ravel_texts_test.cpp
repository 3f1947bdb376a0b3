// The entry and help texts follow lang.xml beside Ravel; anything but a
// readable "zh_cn" choice is decided as the menu decides it.

#include <gtest/gtest.h>

#include <fstream>

#include "shellext/ravel_texts.h"
#include "tests/support/temp_dir.h"

namespace orlin::ravel {
namespace {

TEST(RavelTexts, LanguageFromLangXmlWithChineseWhenItCannotBeRead) {
  testsupport::TempDir dir;
  const auto file = dir.path() / "lang.xml";
  EXPECT_EQ(ReadLanguage(file), L"zh_cn") << "missing file";
  std::ofstream(file) << "<Orlin><lang>en</lang></Orlin>";
  EXPECT_EQ(ReadLanguage(file), L"en");
  std::ofstream(file) << "<Orlin><lang>zh_cn</lang></Orlin>";
  EXPECT_EQ(ReadLanguage(file), L"zh_cn");
  std::ofstream(file) << "<Orlin><lang>en</lang>";
  EXPECT_EQ(ReadLanguage(file), L"zh_cn") << "not XML";
  std::ofstream(file) << "<Orlin><language>en</language></Orlin>";
  EXPECT_EQ(ReadLanguage(file), L"zh_cn") << "no lang element";
  std::ofstream(file) << "<Orlin><lang>fr</lang></Orlin>";
  EXPECT_EQ(ReadLanguage(file), L"fr");
  EXPECT_EQ(MenuEntryText(ReadLanguage(file)), L"Using Orlin to Synchronize") << "anything but zh_cn is English";
}

TEST(RavelTexts, EntryAndHelpTextsInBothLanguages) {
  EXPECT_EQ(MenuEntryText(L"zh_cn"), L"使用 Orlin 同步");
  EXPECT_EQ(MenuEntryText(L"en"), L"Using Orlin to Synchronize");
  EXPECT_EQ(MenuEntryText(L"ZH_CN"), L"Using Orlin to Synchronize") << "exactly zh_cn";
  EXPECT_EQ(HelpText(L"en", true), L"Copy the folder to the Tarn Cloud Synchro Folder for automatic synchronization");
  EXPECT_EQ(HelpText(L"en", false), L"Copy the file to the Tarn Cloud Synchro Folder for automatic synchronization");
  EXPECT_EQ(HelpText(L"zh_cn", true), L"将该文件夹复制到Tarn Cloud 同步文件夹里进行自动同步");
  EXPECT_EQ(HelpText(L"zh_cn", false), L"将该文件复制到Tarn Cloud 同步文件夹里进行自动同步");
}

}  // namespace
}  // namespace orlin::ravel
