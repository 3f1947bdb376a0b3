#pragma once
// The texts Ravel shows in the file manager's context menu, in the language
// of lang.xml beside it: the entry and its help text (the status-bar line or
// tooltip that says what the entry does with a file or a folder).

#include <filesystem>
#include <string>

namespace orlin::ravel {

// The language of the lang.xml at `langFile`: the text of its `lang`
// element; "zh_cn" when the file is missing, is not XML or has no such
// element.
std::wstring ReadLanguage(const std::filesystem::path& langFile);

// "使用 Orlin 同步" when `language` is exactly "zh_cn", otherwise
// "Using Orlin to Synchronize".
std::wstring MenuEntryText(const std::wstring& language);

// What the entry does with the selection: "Copy the folder to the Tarn Cloud
// Synchro Folder for automatic synchronization", "file" for anything but a
// folder; the Chinese text for "zh_cn".
std::wstring HelpText(const std::wstring& language, bool folder);

}  // namespace orlin::ravel
