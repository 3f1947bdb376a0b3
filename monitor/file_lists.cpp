#include "monitor/file_lists.h"

#include <algorithm>
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
  std::vector<FileItemRecord> rows;
  rows.push_back(std::move(row));
  InsertLastSynced(model, std::move(rows));
}

void InsertLastSynced(StatusModel& model, std::vector<FileItemRecord> rows) {
  for (FileItemRecord& row : rows) {
    const std::string name(FieldText(row.name));
    if (name.find(kConflictInfix) != std::string::npos) SetField(row.name, ConflictOriginalPath(name));
  }
  const bool appended = model.lastSynced.Locked([&](std::deque<FileItemRecord>& list) {
    bool any = false;
    for (FileItemRecord& row : rows) {
      auto existing = std::find_if(list.begin(), list.end(), [&](const FileItemRecord& listed) {
        return FieldText(listed.name) == FieldText(row.name);
      });
      if (existing != list.end()) {
        std::memcpy(existing->time, row.time, sizeof existing->time);
        continue;
      }
      while (list.size() >= kListCapacity) list.pop_front();
      list.push_back(std::move(row));
      any = true;
    }
    return any;
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
