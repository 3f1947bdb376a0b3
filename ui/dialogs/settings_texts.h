#pragma once
// The texts of the settings window, the selective synchronisation window and
// the copy progress window, in English and Simplified Chinese. Each window
// answers its skin's text ids from its table while it is the text provider;
// ids are compared without regard to case, "en" selects English and any
// other language Chinese.
//
// Titles and the folder picker's title are chosen in code: Chinese exactly
// for "zh_cn", English for any other code, like every code-chosen text of the
// program.

#include <string>
#include <string_view>

#include "ui/dui/resource_manager.h"

namespace orlin {

const dui::TextTable& SettingsTextTable();
const dui::TextTable& IgnoringTextTable();
const dui::TextTable& CopyTextTable();

// "Setting - Orlin" / "设置 - Orlin".
std::wstring SettingsWindowTitle(std::wstring_view language);
// "Selective Synchronization - Orlin" / "选择性同步 - Orlin".
std::wstring IgnoringWindowTitle(std::wstring_view language);
// "Copying - Orlin" / "复制 - Orlin".
std::wstring CopyWindowTitle(std::wstring_view language);
// The folder picker's title, by which the main window finds it:
// "Orlin Select sync directory" / "Orlin 选择同步目录".
std::wstring SyncFolderPickerTitle(std::wstring_view language);

}  // namespace orlin
