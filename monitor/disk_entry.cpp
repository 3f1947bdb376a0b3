#include "monitor/disk_entry.h"

#include "common/text.h"

namespace orlin {

namespace fs = std::filesystem;

std::optional<fs::path> InSyncFolder(const fs::path& folder, const std::wstring& relative) {
  fs::path rel = PathFromWide(relative);
  if (relative.find(L"..") != std::wstring::npos) rel = rel.lexically_normal();
  if (rel.empty() || rel.has_root_name() || rel.has_root_directory()) return std::nullopt;
  if (*rel.begin() == "..") return std::nullopt;
  return folder / rel;
}

DiskEntry ExamineInSyncFolder(const fs::path& folder, const std::wstring& relative) {
  DiskEntry e;
  const auto file = InSyncFolder(folder, relative);
  if (!file) return e;
  std::error_code ec;
  e.size = fs::file_size(*file, ec);
  if (!ec) {
    e.kind = DiskEntry::Kind::kFile;
  } else if (fs::is_directory(*file, ec)) {
    e.kind = DiskEntry::Kind::kFolder;
    e.size = 0;
  } else {
    e.size = 0;
  }
  return e;
}

}  // namespace orlin
