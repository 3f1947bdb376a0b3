#pragma once
// Shared set-up of the login and sync folder window tests: the headless
// backend with the shipped skins, a scratch instance folder with lang.xml,
// and fakes of what the windows ask: the sync folder rules and the message
// presenter (the controller is tests/support/fake_controller.h).

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "tests/support/fake_controller.h"
#include "tests/support/temp_dir.h"
#include "ui/dialogs/sync_folder_rules.h"
#include "ui/dui/find_control.h"
#include "ui/dui/headless_backend.h"
#include "ui/dui/resource_manager.h"

namespace orlin::testing {

// Answers from the entries and the taken paths the test sets; records every
// question with the user it named.
class FakeFolderRules : public SyncFolderRules {
 public:
  std::optional<UserEntry> SavedLocation(const std::wstring& userName) override {
    std::lock_guard lock(mutex);
    asked.push_back(L"saved:" + userName);
    auto it = entries.find(userName);
    if (it == entries.end()) return std::nullopt;
    return it->second;
  }
  bool TakenByAnotherAccount(const std::wstring& path, const std::wstring& userName) override {
    std::lock_guard lock(mutex);
    asked.push_back(L"taken:" + path + L"|" + userName);
    return taken.count(path) > 0;
  }

  std::mutex mutex;
  std::map<std::wstring, UserEntry> entries;
  std::set<std::wstring> taken;
  std::vector<std::wstring> asked;
};

// Records what would have been shown; answers OK.
class RecordingPresenter : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring& title, const std::wstring& key, bool showCancel) override {
    std::lock_guard lock(mutex);
    shown.push_back(title + L"|" + key + (showCancel ? L"|cancel" : L""));
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring& detail, bool showCancel) override {
    std::lock_guard lock(mutex);
    shown.push_back(L"Orlin|Login_Failed_msg" + detail + (showCancel ? L"|cancel" : L""));
  }
  std::vector<std::wstring> Shown() {
    std::lock_guard lock(mutex);
    return shown;
  }

  std::mutex mutex;
  std::vector<std::wstring> shown;
};

inline std::filesystem::path SkinDir() {
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().parent_path() / "skins";
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = std::make_shared<dui::HeadlessBackend>();
    dui::UiBackend::Install(backend);
    dui::CPaintManagerUI::SetInstance(install.path());
    dui::CPaintManagerUI::SetResourcePath(SkinDir());
    dui::CResourceManager::GetInstance().SetTextQueryInterface(nullptr);
    dui::SetMissingControlHandler(
        [](const std::wstring& name) { ADD_FAILURE() << "the skin lacks " << WideToUtf8(name); });
    WriteLanguage("en");
    controller.settings.dpi = 96;
    controller.settings.language = L"en";
    folder = install.path() / "Sync";
    std::filesystem::create_directories(folder);
    controller.settings.syncFolderPath = WideFromPath(folder);
  }
  void TearDown() override {
    backend->SetModalHook(nullptr);
    dui::SetMissingControlHandler(nullptr);
    dui::CResourceManager::GetInstance().SetTextQueryInterface(nullptr);
    dui::UiBackend::Install(nullptr);
  }
  void WriteLanguage(const std::string& lang) {
    std::ofstream(install.path() / "lang.xml") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Orlin>\n    <lang>"
                                                << lang << "</lang>\n</Orlin>\n";
  }
  // Runs this thread's queue until `done` holds; gives up (and fails) after a
  // generous deadline, naming what it waited for.
  void PumpUntil(const std::function<bool()>& done, const char* what) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) {
        FAIL() << "waited 120 s for " << what;
      }
      if (backend->Pump() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  // The text of a named control of `window`.
  static std::wstring TextOf(dui::WindowImplBase& window, const std::wstring& name) {
    auto* c = window.GetPaintManager().FindControl(name);
    return c ? c->GetText() : L"<missing " + name + L">";
  }
  static std::wstring Str(const std::filesystem::path& p) { return WideFromPath(p); }

  testsupport::TempDir install;
  std::shared_ptr<dui::HeadlessBackend> backend;
  FakeController controller;
  FakeFolderRules rules;
  RecordingPresenter presenter;
  std::filesystem::path folder;
};

}  // namespace orlin::testing
