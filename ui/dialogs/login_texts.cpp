#include "ui/dialogs/login_texts.h"

namespace orlin {

const dui::TextTable& LoginTextTable() {
  // The doubled blanks space the two characters of the short Chinese words.
  static const dui::TextTable table({
      {L"Login_Btn", L"Login", L"登  录"},
      {L"IPURL_Edit", L"IP or URL", L"IP 或者 URL"},
      {L"UserName_Edit", L"User Name", L"用户名"},
      {L"Password_Edit", L"Password", L"密  码"},
  });
  return table;
}

const dui::TextTable& SyncPathTextTable() {
  // The English title ends with a blank, as the product has always shown it.
  static const dui::TextTable table({
      {L"Sync_title", L"Set the synch folder location - Orlin ", L"设置同步文件夹位置"},
      {L"Location_Label", L"File synchronization to:", L"文件同步到:"},
      {L"sync_folder_btn", L"Browse", L"浏览"},
      {L"Set_Default_Option", L"This path is set to the default location", L"此路径设为默认位置"},
      {L"OK_Btn", L"OK", L"确定"},
      {L"Cancel_Btn", L"Cancel", L"取消"},
  });
  return table;
}

std::wstring LoginWindowTitle(std::wstring_view language) {
  return language == kLanguageChinese ? L"登录 - Orlin" : L"Login - Orlin";
}

std::wstring LanguageName(std::wstring_view language) {
  return language == kLanguageChinese ? kChineseMenuText : kEnglishMenuText;
}

}  // namespace orlin
