#pragma once
// The system's folder picker: IFileOpenDialog with FOS_PICKFOLDERS, and
// SHBrowseForFolderW where that dialog does not exist. Modal over `owner`
// on the calling thread.

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>

namespace orlin::dui::win32 {

struct FolderPick {
  std::optional<std::filesystem::path> folder;  // nullopt: cancelled
  bool vistaDialog = false;                     // which of the two showed
};

FolderPick PickFolder(HWND owner, const std::wstring& title, const std::filesystem::path& start);

}  // namespace orlin::dui::win32
