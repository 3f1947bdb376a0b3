#include "ui/dui/resource_manager.h"

#include "common/text.h"
#include "ui/dui/paint_manager.h"

namespace orlin::dui {

CResourceManager& CResourceManager::GetInstance() {
  static CResourceManager instance;
  return instance;
}

void CResourceManager::SetLanguage(const std::wstring& language) {
  std::lock_guard lock(mutex_);
  language_ = language;
}

std::wstring CResourceManager::GetLanguage() const {
  std::lock_guard lock(mutex_);
  return language_;
}

void CResourceManager::SetTextQueryInterface(IQueryControlText* provider) {
  std::lock_guard lock(mutex_);
  provider_ = provider;
}

IQueryControlText* CResourceManager::GetTextQueryInterface() const {
  std::lock_guard lock(mutex_);
  return provider_;
}

void CResourceManager::RemoveTextQueryInterface(IQueryControlText* provider) {
  std::lock_guard lock(mutex_);
  if (provider_ == provider) provider_ = nullptr;
}

std::optional<std::wstring> CResourceManager::QueryText(const std::wstring& id, const std::wstring& type) {
  std::lock_guard lock(mutex_);
  if (!provider_ || id.empty()) return std::nullopt;
  return provider_->QueryControlText(id, type);
}

void CResourceManager::RegisterManager(CPaintManagerUI* manager) {
  std::lock_guard lock(mutex_);
  managers_.insert(manager);
}

void CResourceManager::UnregisterManager(CPaintManagerUI* manager) {
  std::lock_guard lock(mutex_);
  managers_.erase(manager);
}

void CResourceManager::ApplyTexts(CPaintManagerUI& manager) {
  std::lock_guard lock(mutex_);
  if (!provider_) return;
  auto model = manager.ModelLock();
  if (!manager.GetRoot()) return;
  manager.GetRoot()->Visit([this](CControlUI& c) {
    if (!c.GetTextId().empty()) {
      if (auto text = provider_->QueryControlText(c.GetTextId(), c.GetClass())) c.SetText(*text);
    }
    return true;
  });
}

void CResourceManager::ReloadText() {
  std::lock_guard lock(mutex_);
  for (auto* m : managers_) ApplyTexts(*m);
}

TextTable::TextTable(std::vector<Entry> entries) {
  for (auto& e : entries) Add(std::move(e));
}

void TextTable::Add(Entry entry) {
  index_.emplace(AsciiLower(entry.id), entries_.size());
  entries_.push_back(std::move(entry));
}

std::optional<std::wstring> TextTable::Find(const std::wstring& id, const std::wstring& language) const {
  auto it = index_.find(AsciiLower(id));
  if (it == index_.end()) return std::nullopt;
  const Entry& e = entries_[it->second];
  return language == L"en" ? e.english : e.chinese;
}

}  // namespace orlin::dui
