#pragma once
// The texts of the login window and of the sync folder location window, in
// English and Simplified Chinese. Each window answers the text queries of
// its skin from its table while it is the text provider; ids are compared
// without regard to case, "en" selects English and any other language
// Chinese, and an id that is not in the table gets no text (the control keeps
// its skin text).
//
// A few texts are chosen in code instead (the window title, the language
// menu's entries): those are Chinese exactly for "zh_cn" and English for any
// other code, like every code-chosen text of the program.

#include <optional>
#include <string>
#include <string_view>

#include "ui/dui/resource_manager.h"

namespace orlin {

// "Login_Btn", "IPURL_Edit", "UserName_Edit", "Password_Edit".
const dui::TextTable& LoginTextTable();
// "Sync_title", "Location_Label", "sync_folder_btn", "Set_Default_Option",
// "OK_Btn", "Cancel_Btn".
const dui::TextTable& SyncPathTextTable();

// "Login - Orlin", or "登录 - Orlin" for "zh_cn".
std::wstring LoginWindowTitle(std::wstring_view language);

// The language menu's entries and the codes they choose.
inline constexpr wchar_t kLanguageEnglish[] = L"en";
inline constexpr wchar_t kLanguageChinese[] = L"zh_cn";
inline constexpr wchar_t kEnglishMenuText[] = L"English";
inline constexpr wchar_t kChineseMenuText[] = L"简体中文";
// The entry naming `language` as the language button shows it.
std::wstring LanguageName(std::wstring_view language);

}  // namespace orlin
