#include "monitor/file_lists.h"

#include <cstring>

#include "common/text.h"
#include "monitor/events.h"

namespace orlin {
namespace {

std::wstring NameAfterLastBackslash(const FileItemRecord& row) {
  std::wstring name = Utf8ToWide(FieldText(row.name));
  const std::size_t slash = name.rfind(L'\\');
  return slash == std::wstring::npos ? name : name.substr(slash + 1);
}

}  // namespace

void InsertLastSynced(StatusModel& model, FileItemRecord row) {
  const std::string name(FieldText(row.name));
  if (name.find(kConflictInfix) != std::string::npos) SetField(row.name, ConflictOriginalPath(name));
  const bool appended = model.lastSynced.Locked([&](std::deque<FileItemRecord>& rows) {
    for (FileItemRecord& existing : rows) {
      if (FieldText(existing.name) == FieldText(row.name)) {
        std::memcpy(existing.time, row.time, sizeof existing.time);
        return false;
      }
    }
    while (rows.size() >= kListCapacity) rows.pop_front();
    rows.push_back(row);
    return true;
  });
  if (appended) model.lastSynced.MarkChanged();
}

bool UnsyncedRowBefore(const FileItemRecord& a, const FileItemRecord& b) {
  const std::string_view statusA = FieldText(a.status);
  const std::string_view statusB = FieldText(b.status);
  if (statusA == "progress" && statusB == "progress") {
    if (a.percent != b.percent) return a.percent > b.percent;
    const std::wstring nameA = NameAfterLastBackslash(a);
    const std::wstring nameB = NameAfterLastBackslash(b);
    if (nameA != nameB) return nameA < nameB;
    return a.size < b.size;
  }
  return statusA < statusB;
}

}  // namespace orlin
