#pragma once
// The language of the user interface and the one window that turns text ids
// into texts. Windows name their texts by ids in the skin (textid="..."); on
// ReloadText every control of every open window that carries an id asks the
// current provider, and keeps its own text when the provider has none.

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orlin::dui {

class CPaintManagerUI;

class IQueryControlText {
 public:
  virtual ~IQueryControlText() = default;
  // Called on the thread that calls ReloadText (or builds a skin); `type` is
  // the control's class name. Null: no text for this id.
  virtual std::optional<std::wstring> QueryControlText(const std::wstring& id, const std::wstring& type) = 0;
};

// Locks: the manager's lock is taken before a window's model lock (ReloadText
// holds it while it changes each window's texts); code holding a model lock
// does not call in here.
class CResourceManager {
 public:
  static CResourceManager& GetInstance();

  void SetLanguage(const std::wstring& language);
  std::wstring GetLanguage() const;

  // Not owned; the provider unregisters itself (SetTextQueryInterface(null)
  // or RemoveTextQueryInterface) before it goes away.
  void SetTextQueryInterface(IQueryControlText* provider);
  IQueryControlText* GetTextQueryInterface() const;
  // Clears the provider only if it is still `provider`.
  void RemoveTextQueryInterface(IQueryControlText* provider);

  // The provider's text for `id`, if any.
  std::optional<std::wstring> QueryText(const std::wstring& id, const std::wstring& type);
  // Re-applies the texts of every registered window.
  void ReloadText();
  // Windows register their paint manager while they exist.
  void RegisterManager(CPaintManagerUI* manager);
  void UnregisterManager(CPaintManagerUI* manager);
  // Applies the provider's texts to one window's controls.
  void ApplyTexts(CPaintManagerUI& manager);

 private:
  mutable std::recursive_mutex mutex_;
  std::wstring language_ = L"zh_cn";
  IQueryControlText* provider_ = nullptr;
  std::set<CPaintManagerUI*> managers_;
};

// A text table in the two languages: ids are compared without regard to case;
// "en" selects the English column and any other language the Chinese one.
class TextTable {
 public:
  struct Entry {
    std::wstring id;
    std::wstring english;
    std::wstring chinese;
  };
  TextTable() = default;
  explicit TextTable(std::vector<Entry> entries);
  void Add(Entry entry);
  std::optional<std::wstring> Find(const std::wstring& id, const std::wstring& language) const;

 private:
  std::vector<Entry> entries_;
  std::map<std::wstring, std::size_t> index_;  // lower-case id -> first entry
};

}  // namespace orlin::dui
