#pragma once
// A stand-in for the main window around the status lists and the tray menu:
// it loads the product's own skin (skins/orlin.xml) on the headless backend,
// passes every notification to the lists and answers texts the way the main
// window does. A control the code looks for and the skin lacks fails the
// test.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/text.h"
#include "tests/support/fake_controller.h"
#include "tests/support/temp_dir.h"
#include "ui/dui/find_control.h"
#include "ui/dui/headless_backend.h"
#include "ui/dui/resource_manager.h"
#include "ui/dui/window_impl_base.h"
#include "ui/main/main_text_table.h"
#include "ui/main/status_lists.h"

namespace orlin::testing {

inline std::filesystem::path SkinsDir() {
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().parent_path() / "skins";
}

class ListsWindow : public dui::WindowImplBase, public StatusListsHost {
 public:
  std::wstring GetWindowClassName() const override { return L"ListsTestWnd"; }
  std::wstring GetSkinFile() override { return L"orlin.xml"; }
  void Notify(dui::TNotifyUI& msg) override {
    if (msg.sType == dui::kEventWindowInit && lists) lists->SelectStartTab();
    else if (lists) lists->HandleNotify(msg);
  }
  std::optional<std::wstring> QueryControlText(const std::wstring& id, const std::wstring&) override {
    const std::wstring language = dui::CResourceManager::GetInstance().GetLanguage();
    if (lists) {
      if (auto text = lists->ButtonText(id, language)) return text;
    }
    return MainTextTable::Lookup(id, language, lists ? lists->Counts() : MainTextCounts{});
  }

  // StatusListsHost.
  std::wstring Language() const override {
    std::lock_guard lock(mutex);
    return language;
  }
  std::filesystem::path SyncFolder() const override {
    std::lock_guard lock(mutex);
    return syncFolder;
  }
  std::wstring LastStateKey() const override {
    std::lock_guard lock(mutex);
    return stateKey;
  }

  // The language switch as the main window does it.
  void SwitchLanguage(const std::wstring& code) {
    {
      std::lock_guard lock(mutex);
      language = code;
    }
    auto& resources = dui::CResourceManager::GetInstance();
    resources.SetLanguage(code);
    resources.SetTextQueryInterface(this);
    resources.ReloadText();
    lists->OnLanguageChanged();
  }

  template <class T = dui::CControlUI>
  T* Find(const std::wstring& name) {
    return dui::FindControlAs<T>(pm_, name);
  }
  dui::CListUI* List(const std::wstring& name) { return Find<dui::CListUI>(name); }
  // The text of control `label` in row `row` of list `list`.
  std::wstring Cell(const std::wstring& list, int row, const std::wstring& label) {
    auto lock = pm_.ModelLock();
    dui::CControlUI* r = List(list)->GetItemAt(row);
    if (!r) return L"<no row>";
    dui::CControlUI* c = r->FindSubControl(label);
    return c ? c->GetText() : L"<no " + label + L">";
  }
  dui::CControlUI* CellControl(const std::wstring& list, int row, const std::wstring& label) {
    dui::CControlUI* r = List(list)->GetItemAt(row);
    return r ? r->FindSubControl(label) : nullptr;
  }
  int Rows(const std::wstring& list) { return List(list)->GetCount(); }
  bool Shown(const std::wstring& name) { return Find(name)->IsVisible(); }
  bool Selected(const std::wstring& name) { return Find<dui::COptionUI>(name)->IsSelected(); }

  mutable std::mutex mutex;
  std::wstring language = L"en";
  std::filesystem::path syncFolder;
  std::wstring stateKey = L"Syncing_Event";
  std::unique_ptr<StatusLists> lists;
};

// The headless backend with the product's skins, the window made and shown,
// the lists bound to a fake controller and English texts.
class ListsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dui::SetMissingControlHandler([](const std::wstring& name) { ADD_FAILURE() << "no control " << WideToUtf8(name); });
    backend = std::make_shared<dui::HeadlessBackend>();
    dui::UiBackend::Install(backend);
    dui::CPaintManagerUI::SetResourcePath(SkinsDir());
    auto& resources = dui::CResourceManager::GetInstance();
    resources.SetLanguage(L"en");
    resources.SetTextQueryInterface(&window);
    window.syncFolder = folder.path();
    window.lists = std::make_unique<StatusLists>(window, window, [this](const std::filesystem::path& p) {
      shown.push_back(p);
      return true;
    });
    window.lists->SetController(&controller);
    ASSERT_TRUE(window.Create(nullptr, L"Orlin", 0, 0));
    resources.ReloadText();
    backend->Pump();  // "windowinit"
    window.GetPaintManager().LayoutIfNeeded();
  }
  void TearDown() override {
    dui::CResourceManager::GetInstance().RemoveTextQueryInterface(&window);
    dui::SetMissingControlHandler(nullptr);
    window.lists.reset();
    dui::UiBackend::Install(nullptr);
  }

  // A click as the user makes it: pressed and released over the control.
  void Click(const std::wstring& name) {
    window.GetPaintManager().LayoutIfNeeded();
    dui::ClickControl(window, name);
  }
  StatusLists& lists() { return *window.lists; }

  testsupport::TempDir folder;
  std::shared_ptr<dui::HeadlessBackend> backend;
  FakeController controller;
  ListsWindow window;
  std::vector<std::filesystem::path> shown;
};

inline SyncEventRecord Event(const std::string& action, const std::string& path, const std::string& time) {
  SyncEventRecord r;
  SetField(r.action, action);
  r.path = path;
  SetField(r.time, time);
  return r;
}

inline PathTimeRecord PathTime(const std::string& path, const std::string& time, std::uint64_t size = 0) {
  PathTimeRecord r;
  r.path = path;
  SetField(r.time, time);
  r.size = size;
  return r;
}

inline FileItemRecord FileItem(const std::string& name, const std::string& status, int percent = 0,
                               std::uint64_t size = 0) {
  FileItemRecord r;
  r.name = name;
  SetField(r.status, status);
  r.percent = percent;
  r.size = size;
  return r;
}

}  // namespace orlin::testing
