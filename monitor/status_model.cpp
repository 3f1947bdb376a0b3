#include "monitor/status_model.h"

namespace orlin {

DeviceRecord DeviceRecord::NewDevice(std::string_view deviceId) {
  DeviceRecord r;
  SetField(r.address, "-");
  SetField(r.uploadText, "-");
  SetField(r.downloadText, "-");
  SetField(r.name, "unknown");
  SetField(r.folder, "-");
  SetField(r.deviceId, deviceId);
  SetField(r.clientVersion, "-");
  return r;
}

std::string SharedFolderState::FolderId() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return folderId_;
}

void SharedFolderState::SetFolderId(std::string_view id) {
  std::lock_guard<std::mutex> lock(mutex_);
  folderId_.assign(id);
}

std::string SharedFolderState::FolderStateText() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return folderStateText_;
}

void SharedFolderState::SetFolderStateText(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  folderStateText_.assign(text);
}

std::wstring SharedFolderState::StatusKey() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return statusKey_;
}

void SharedFolderState::SetStatusKey(std::wstring_view key) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    statusKey_.assign(key);
  }
  derivations_.fetch_add(1);
}

bool BoundedPathSet::Insert(std::string_view path) {
  if (capacity_ == 0) return true;
  std::string key(path);
  if (!paths_.insert(key).second) return false;
  order_.push_back(std::move(key));
  while (order_.size() > capacity_) {
    paths_.erase(order_.front());
    order_.pop_front();
  }
  return true;
}

StatusModel::StatusModel() {
  syncEvents.AttachBell(&changeBell);
  conflicts.AttachBell(&changeBell);
  devices.AttachBell(&changeBell);
  inProgress.AttachBell(&changeBell);
  unsynced.AttachBell(&changeBell);
  failed.AttachBell(&changeBell);
  locallyChanged.AttachBell(&changeBell);
  lastSynced.AttachBell(&changeBell);
}

SystemSummary StatusModel::Summary() const {
  std::lock_guard<std::mutex> lock(summaryMutex_);
  return summary_;
}

}  // namespace orlin
