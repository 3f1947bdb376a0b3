#include "ui/dialogs/sync_folder_rules.h"

namespace orlin {

UserConfigFolderRules::UserConfigFolderRules(InstallLayout layout, MessagePresenter& presenter)
    : files_(std::move(layout), presenter) {}

std::optional<UserEntry> UserConfigFolderRules::SavedLocation(const std::wstring& userName) {
  return files_.ReadUserEntry(userName);
}

bool UserConfigFolderRules::TakenByAnotherAccount(const std::wstring& path, const std::wstring& userName) {
  return files_.IsPathTakenByAnotherUser(path, userName);
}

std::wstring NormalizeFolderPath(std::wstring path) {
  auto isSeparator = [](wchar_t c) { return c == L'/' || c == L'\\'; };
  while (path.size() > 1 && isSeparator(path.back())) {
    // "C:\" and "/" are roots: their separator is part of the name.
    if (path.size() == 3 && path[1] == L':') break;
    path.pop_back();
  }
  return path;
}

}  // namespace orlin
