#include "ui/dialogs/message_table.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "common/atomic_file.h"
#include "common/text.h"
#include "tests/support/temp_dir.h"
#include "ui/dialogs/console_message_presenter.h"

namespace orlin {
namespace {

TEST(MessageTable, TextsInBothLanguages) {
  EXPECT_EQ(MessageText(L"Cloud_LogOff_Msg", L"en"), L"Are you sure you want to unlink the account?");
  EXPECT_EQ(MessageText(L"Cloud_LogOff_Msg", L"zh_cn"), L"您确定要注销吗？");
  EXPECT_EQ(MessageText(L"SyncConfig_Failed_Msg", L"zh_cn"), L"config.xml 不存在 ");
  // Doubled blanks and line feeds are part of the text.
  EXPECT_EQ(MessageText(L"Lang_Failed_Msg", L"en"), L"The  lang.xml  does not exist\n Please reinstall Orlin");
  EXPECT_EQ(MessageText(L"Sync_NoRunning_Msg", L"zh_cn"), L"不能运行 Orlin 同步服务  \n 请重新安装Orlin ");
  EXPECT_EQ(MessageText(L"Btn_State_ChildWnd", L"en"), L"Please close the Settings window and and its children first");
  // The English versioning failure starts with a tab; the Chinese one does not.
  const auto failed = MessageText(L"versioning_Failed_msg", L"en");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->front(), L'\t');
  EXPECT_EQ(*failed, L"\tServer file version setup failed");
  EXPECT_EQ(MessageText(L"versioning_Failed_msg", L"zh_cn"), L"服务器文件历史版本设置失败");
}

// Damaged files, an unwritable folder and a changed server certificate are
// named as such, in both languages, instead of as a missing file.
TEST(MessageTable, CausesOfFailuresHaveTextsInBothLanguages) {
  for (const wchar_t* key : {L"SyncConfig_Damaged_Msg", L"UserConfig_Damaged_Msg", L"Install_ReadOnly_Msg",
                             L"ServerCert_Changed_Msg"}) {
    SCOPED_TRACE(WideToUtf8(key));
    const auto english = MessageText(key, L"en");
    const auto chinese = MessageText(key, L"zh_cn");
    ASSERT_TRUE(english && chinese);
    EXPECT_NE(*english, key);
    EXPECT_NE(*english, *chinese);
    EXPECT_EQ(english->find(L"does not exist"), std::wstring::npos);
    EXPECT_LT(WideToUtf8(*chinese).size(), 1024u);
  }
  EXPECT_NE(MessageText(L"SyncConfig_Damaged_Msg", L"en")->find(L"damaged"), std::wstring::npos);
  EXPECT_NE(MessageText(L"ServerCert_Changed_Msg", L"en")->find(L"certificate"), std::wstring::npos);
}

TEST(MessageTable, OnlyZhCnSelectsChinese) {
  const std::wstring english = L"Invalid directory";
  const std::wstring chinese = L"无效的目录";
  EXPECT_EQ(MessageText(L"Invalid_directory_Msg", L"zh_cn"), chinese);
  for (const wchar_t* language : {L"en", L"", L"ZH_CN", L"zh", L"fr"}) {
    EXPECT_EQ(MessageText(L"Invalid_directory_Msg", language), english) << WideToUtf8(language);
  }
}

TEST(MessageTable, KeysIgnoreCaseAndBothSpellingsOfTheUserConfigKeyMatch) {
  const std::wstring text = L"The userconfig.xml does not exist \n Please reinstall Orlin";
  EXPECT_EQ(MessageText(L"UserConfig_Failed_Msg", L"en"), text);
  EXPECT_EQ(MessageText(L"Userconfig_Failed_Msg", L"en"), text);
  EXPECT_EQ(MessageText(L"USERCONFIG_FAILED_MSG", L"en"), text);
  EXPECT_EQ(MessageText(L"path_failed_MSG", L"zh_cn"), L"所选路径已经被其它用户占用 \n 请选择其它路径");
}

TEST(MessageTable, UnknownKeyIsShownAsItStandsAndEmptyKeySetsNothing) {
  EXPECT_EQ(MessageText(L"No_Such_Msg", L"en"), L"No_Such_Msg");
  EXPECT_EQ(MessageText(L"Permission denied", L"zh_cn"), L"Permission denied");
  EXPECT_EQ(MessageText(L"Cloud_Running_Msg ", L"en"), L"Cloud_Running_Msg ");  // no trimming
  EXPECT_EQ(MessageText(L"", L"en"), std::nullopt);
  EXPECT_EQ(MessageText(L"", L"zh_cn", L"detail"), std::nullopt);
  EXPECT_EQ(MessageTitleText(L""), std::nullopt);
  EXPECT_EQ(MessageTitleText(L"Orlin Override"), L"Orlin");
}

TEST(MessageTable, LoginFailureIsFollowedDirectlyByTheDetail) {
  EXPECT_EQ(MessageText(L"Login_Failed_msg", L"en"), L"Login Failed!");
  EXPECT_EQ(MessageText(L"Login_Failed_msg", L"zh_cn"), L"登录失败 ");
  EXPECT_EQ(MessageText(L"login_failed_MSG", L"en", L"Couldn't connect to server"),
            L"Login Failed!Couldn't connect to server");
  EXPECT_EQ(MessageText(L"Login_Failed_msg", L"zh_cn", L"timeout"), L"登录失败 timeout");
  // Only the login failure takes a detail.
  EXPECT_EQ(MessageText(L"UpdateApp_Error_Msg", L"en", L"ignored"), L"UpdateApp Error");
}

TEST(MessageTable, EveryKeyIsUniqueAndHasBothTexts) {
  std::set<std::wstring> keys;
  for (const auto& entry : MessageEntries()) {
    EXPECT_TRUE(keys.insert(AsciiLower(entry.key)).second) << WideToUtf8(entry.key);
    EXPECT_NE(std::wstring(entry.english), L"");
    EXPECT_NE(std::wstring(entry.chinese), L"");
    EXPECT_NE(std::wstring(entry.english), std::wstring(entry.chinese));
    // Each entry is reachable through the lookup.
    EXPECT_EQ(MessageText(entry.key, L"en"), entry.english);
  }
  EXPECT_EQ(keys.size(), 44u);
}

TEST(MessageTable, LanguageComesFromLangXmlWithChineseAsDefault) {
  testsupport::TempDir dir;
  EXPECT_EQ(ReadLanguage(dir.path()), L"zh_cn");
  ASSERT_FALSE(WriteFileAtomically(dir.path() / "lang.xml", "<Orlin><lang>en</lang></Orlin>"));
  EXPECT_EQ(ReadLanguage(dir.path()), L"en");
  ASSERT_FALSE(WriteFileAtomically(dir.path() / "lang.xml", "<Orlin><lang>en</Orlin>"));
  EXPECT_EQ(ReadLanguage(dir.path()), L"zh_cn");

  EXPECT_EQ(OkButtonText(L"zh_cn"), L"确  定");
  EXPECT_EQ(CancelButtonText(L"zh_cn"), L"取  消");
  EXPECT_EQ(OkButtonText(L"en"), L"OK");
  EXPECT_EQ(CancelButtonText(L"fr"), L"Cancel");
}

TEST(ConsoleMessagePresenter, PrintsTitleAndTextInTheFileLanguageAndAnswersOk) {
  testsupport::TempDir dir;
  std::ostringstream out;
  ConsoleMessagePresenter presenter(dir.path(), out);
  // No lang.xml: Chinese.
  EXPECT_EQ(presenter.ShowMessage(L"Orlin", L"Invalid_directory_Msg", true), kModalOk);
  ASSERT_FALSE(WriteFileAtomically(dir.path() / "lang.xml", "<Orlin><lang>en</lang></Orlin>"));
  EXPECT_EQ(presenter.ShowMessage(L"Orlin Override", L"Invalid_directory_Msg", false), kModalOk);
  presenter.ShowLoginFailure(L" (timeout)", false);
  presenter.SetLanguage(L"zh_cn");
  presenter.ShowMessage(L"Orlin", L"Unknown key", false);
  EXPECT_EQ(out.str(),
            "Orlin: \xE6\x97\xA0\xE6\x95\x88\xE7\x9A\x84\xE7\x9B\xAE\xE5\xBD\x95\n"
            "Orlin Override: Invalid directory\n"
            "Orlin: Login Failed! (timeout)\n"
            "Orlin: Unknown key\n");
}

}  // namespace
}  // namespace orlin
