#include "monitor/file_lists.h"

#include <cstring>
#include <string_view>
#include <unordered_map>

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
    // Names of the listed rows, so a batch (a disk-events answer can bring a
    // thousand files) does not walk the list once per file. Rows keep their
    // place in the deque, so the views and pointers stay valid until a row
    // is dropped, which removes it here first.
    std::unordered_map<std::string_view, FileItemRecord*> listed;
    listed.reserve(list.size() + rows.size());
    for (FileItemRecord& row : list) listed.emplace(FieldText(row.name), &row);
    bool any = false;
    for (FileItemRecord& row : rows) {
      if (auto found = listed.find(FieldText(row.name)); found != listed.end()) {
        std::memcpy(found->second->time, row.time, sizeof row.time);
        continue;
      }
      while (list.size() >= kListCapacity) {
        listed.erase(FieldText(list.front().name));
        list.pop_front();
      }
      list.push_back(std::move(row));
      listed.emplace(FieldText(list.back().name), &list.back());
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
