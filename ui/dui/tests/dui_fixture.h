#pragma once
// Shared set-up of the window layer tests: a scratch resource folder with
// skins written by the test and the headless backend installed.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "tests/support/temp_dir.h"
#include "ui/dui/headless_backend.h"
#include "ui/dui/window_impl_base.h"

namespace orlin::dui::testing {

class RecordingWindow : public WindowImplBase {
 public:
  explicit RecordingWindow(std::wstring skin) : skin_(std::move(skin)) {}
  std::wstring GetWindowClassName() const override { return L"TestWnd"; }
  std::wstring GetSkinFile() override { return skin_; }
  void Notify(TNotifyUI& msg) override {
    std::lock_guard lock(mutex);
    notes.push_back(msg.sType + L":" + (msg.pSender ? msg.pSender->GetName() : L""));
    if (onNotify) onNotify(msg);
  }
  std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam, bool& handled) override {
    if (msg < kWmUserBase) return 0;
    handled = true;
    std::lock_guard lock(mutex);
    messages.emplace_back(msg, wParam);
    if (msg == kWmMenuCommand && wParam) {
      auto* cmd = reinterpret_cast<MenuCmd*>(wParam);
      menuCommands.push_back(cmd->szName);
      CPaintManagerUI::DeletePtr(cmd);
    }
    return static_cast<std::intptr_t>(wParam) * 2;
  }
  std::optional<std::wstring> QueryControlText(const std::wstring& id, const std::wstring&) override {
    return texts.Find(id, CResourceManager::GetInstance().GetLanguage());
  }
  std::vector<std::wstring> TakeNotes() {
    std::lock_guard lock(mutex);
    auto out = notes;
    notes.clear();
    return out;
  }

  std::mutex mutex;
  std::vector<std::wstring> notes;
  std::vector<std::pair<unsigned, std::uintptr_t>> messages;
  std::vector<std::wstring> menuCommands;
  std::function<void(TNotifyUI&)> onNotify;
  TextTable texts;

 private:
  std::wstring skin_;
};

class DuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = std::make_shared<HeadlessBackend>();
    UiBackend::Install(backend);
    CPaintManagerUI::SetResourcePath(dir.path());
    CResourceManager::GetInstance().SetLanguage(L"en");
    CResourceManager::GetInstance().SetTextQueryInterface(nullptr);
  }
  void TearDown() override {
    backend->SetModalHook(nullptr);
    UiBackend::Install(nullptr);
  }
  void WriteSkin(const std::string& name, const std::string& xml) {
    std::ofstream(dir.path() / name, std::ios::binary) << xml;
  }
  testsupport::TempDir dir;
  std::shared_ptr<HeadlessBackend> backend;
};

}  // namespace orlin::dui::testing
