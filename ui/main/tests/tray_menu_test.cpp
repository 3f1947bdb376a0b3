// The tray icon and the two menus on the product's skins: which items the
// tray menu offers in which state and language, the language menu's check
// mark, and that a chosen item reaches the main window's command.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ui/dui/menu_wnd.h"
#include "ui/dui/tray_icon.h"
#include "ui/main/tests/lists_test_window.h"
#include "ui/main/tray_menu.h"

namespace orlin::testing {
namespace {

using ::testing::ElementsAre;

// The main window as far as the tray is concerned: records the commands and
// hands the menu command message to the tray menu.
class TrayWindow : public ListsWindow, public TrayActions {
 public:
  std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam, bool& handled) override {
    if (msg == dui::kWmTrayCallback) {
      handled = true;
      tray->OnTrayMessage(static_cast<unsigned>(lParam));
    } else if (msg == dui::kWmMenuCommand) {
      handled = true;
      tray->OnMenuCommand(reinterpret_cast<dui::MenuCmd*>(wParam));
    }
    return 0;
  }

  void ShowMain() override { commands.push_back("ShowMain"); }
  void OpenFolder() override { commands.push_back("OpenFolder"); }
  void OpenWeb() override { commands.push_back("OpenWeb"); }
  void Update() override { commands.push_back("Update"); }
  void Resume() override { commands.push_back("Resume"); }
  void Pause() override { commands.push_back("Pause"); }
  void Settings() override { commands.push_back("Settings"); }
  void LogOff() override { commands.push_back("LogOff"); }
  void Exit() override { commands.push_back("Exit"); }
  void SetLanguage(const std::wstring& language) override { commands.push_back("SetLanguage:" + WideToUtf8(language)); }
  bool IsBusy() const override { return busy; }
  std::wstring Language() const override { return ListsWindow::Language(); }

  bool busy = false;
  std::vector<std::string> commands;
  std::unique_ptr<TrayMenu> tray;
};

class TrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dui::SetMissingControlHandler([](const std::wstring& name) { ADD_FAILURE() << "no control " << WideToUtf8(name); });
    backend = std::make_shared<dui::HeadlessBackend>();
    dui::UiBackend::Install(backend);
    dui::CPaintManagerUI::SetResourcePath(SkinsDir());
    auto& resources = dui::CResourceManager::GetInstance();
    resources.SetLanguage(L"en");
    resources.SetTextQueryInterface(nullptr);
    ASSERT_TRUE(window.Create(nullptr, L"Orlin", 0, 0));
    window.tray = std::make_unique<TrayMenu>(window, window);
    backend->Pump();
  }
  void TearDown() override {
    window.tray.reset();
    dui::CResourceManager::GetInstance().RemoveTextQueryInterface(&window);
    dui::SetMissingControlHandler(nullptr);
    dui::UiBackend::Install(nullptr);
  }

  // Names and texts of the items of the menu shown last.
  std::vector<std::string> Items(bool texts = false) {
    std::vector<std::string> out;
    dui::CMenuWnd* menu = window.tray->CurrentMenu();
    if (!menu || !menu->GetMenuUI()) return out;
    dui::CMenuUI* items = menu->GetMenuUI();
    for (int i = 0; i < items->GetCount(); ++i) {
      dui::CControlUI* item = items->GetItemAt(i);
      out.push_back(WideToUtf8(texts ? item->GetText() : item->GetName()));
    }
    return out;
  }
  // The engine paused: the sync button takes the mouse, as the pause look
  // leaves it.
  void SetPaused(bool paused) { window.Find(L"SYNCBTN")->SetMouseEnabled(paused); }

  std::shared_ptr<dui::HeadlessBackend> backend;
  TrayWindow window;
};

TEST_F(TrayTest, TheTrayMenuOffersPauseWhileSyncingAndStartWhilePausedInTheWindowLanguage) {
  SetPaused(false);
  window.tray->OpenTrayMenu();
  EXPECT_THAT(Items(), ElementsAre("MENU_FOLDER", "MENU_PANEL", "MENU_WEB", "MENU_UPGRADE", "MENU_PAUSE", "MENU_SETTING",
                                   "MENU_LOGOFF", "MENU_EXIT"));
  EXPECT_THAT(Items(true), ElementsAre("Open Floder", "Open Panel", "Open Web", "Update", "Pause Sync", "Setting",
                                       "Log Off", "Exit"));
  auto* pause = static_cast<dui::CMenuElementUI*>(window.tray->CurrentMenu()->GetMenuUI()->GetItemAt(4));
  EXPECT_EQ(pause->GetIcon(), L"res\\tray\\pause.png");
  EXPECT_EQ(pause->GetIconSize(), (dui::Size{16, 16}));
  EXPECT_EQ(dui::CResourceManager::GetInstance().GetTextQueryInterface(), &window) << "the window answers the texts";

  SetPaused(true);
  dui::CResourceManager::GetInstance().SetLanguage(L"zh_cn");
  window.tray->OpenTrayMenu();
  EXPECT_THAT(Items(), ElementsAre("MENU_FOLDER", "MENU_PANEL", "MENU_WEB", "MENU_UPGRADE", "MENU_START", "MENU_SETTING",
                                   "MENU_LOGOFF", "MENU_EXIT"));
  EXPECT_THAT(Items(true), ElementsAre("打开文件夹", "打开主面板", "打开官网", "在线升级", "开始同步", "设置", "注销", "退出"));
  // One menu at a time.
  EXPECT_EQ(backend->Windows().size(), 2u);
}

TEST_F(TrayTest, WhileBusyTheTrayMenuOffersNothingThatWouldRunIntoTheOperation) {
  window.busy = true;
  window.tray->OpenTrayMenu();
  EXPECT_THAT(Items(), ElementsAre("MENU_FOLDER", "MENU_PANEL", "MENU_WEB", "MENU_UPGRADE", "MENU_EXIT"));
  window.busy = false;
  window.tray->OpenTrayMenu();
  EXPECT_EQ(Items().size(), 8u);
}

TEST_F(TrayTest, ChoosingAnItemRunsItsCommandOnTheMainWindow) {
  SetPaused(false);
  window.tray->OpenTrayMenu();
  // A click on "Pause Sync" in the menu window: the menu closes and its
  // command arrives as the menu command message.
  dui::CMenuWnd* menu = window.tray->CurrentMenu();
  menu->GetPaintManager().LayoutIfNeeded();
  dui::ClickControl(*menu, L"MENU_PAUSE");
  backend->Pump();
  EXPECT_THAT(window.commands, ElementsAre("Pause"));
  EXPECT_FALSE(menu->IsWindow());

  // The state the menu then shows follows the toolbar.
  SetPaused(true);
  window.tray->OpenTrayMenu();
  EXPECT_EQ(Items()[4], "MENU_START");
}

TEST_F(TrayTest, MenuCommandsDispatchByNameAndAnEmptyRecordOnlyReloadsTheTexts) {
  auto send = [&](const std::wstring& name) {
    auto* cmd = new dui::MenuCmd{};
    std::copy(name.begin(), name.end(), cmd->szName);
    window.tray->OnMenuCommand(cmd);
  };
  for (const wchar_t* name : {L"MENU_FOLDER", L"menu_panel", L"MENU_WEB", L"MENU_UPGRADE", L"MENU_START", L"Menu_Pause",
                              L"MENU_SETTING", L"MENU_LOGOFF", L"MENU_EXIT", L"LANG_ENGLISH", L"LANG_CHINESE"}) {
    send(name);
  }
  // The exit and language items compare exactly.
  send(L"menu_exit");
  send(L"lang_english");
  send(L"MENU_NOTHING");
  window.tray->OnMenuCommand(nullptr);
  EXPECT_THAT(window.commands,
              ElementsAre("OpenFolder", "ShowMain", "OpenWeb", "Update", "Resume", "Pause", "Settings", "LogOff", "Exit",
                          "SetLanguage:en", "SetLanguage:zh_cn"));
}

TEST_F(TrayTest, TheLanguageMenuChecksTheCurrentLanguage) {
  window.language = L"en";
  window.tray->OpenLanguageMenu();
  EXPECT_THAT(Items(), ElementsAre("LANG_ENGLISH", "LANG_CHINESE"));
  EXPECT_THAT(Items(true), ElementsAre("English", "简体中文"));
  auto item = [&](int i) { return static_cast<dui::CMenuElementUI*>(window.tray->CurrentMenu()->GetMenuUI()->GetItemAt(i)); };
  EXPECT_EQ(item(0)->GetIcon(), L"res\\common\\menu_check.png");
  EXPECT_EQ(item(0)->GetIconSize(), (dui::Size{9, 9}));
  EXPECT_EQ(item(1)->GetIcon(), L"");

  window.language = L"zh_cn";
  window.tray->OpenLanguageMenu();
  EXPECT_EQ(item(0)->GetIcon(), L"");
  EXPECT_EQ(item(1)->GetIcon(), L"res\\common\\menu_check.png");
  dui::ClickControl(*window.tray->CurrentMenu(), L"LANG_ENGLISH");
  backend->Pump();
  EXPECT_THAT(window.commands, ElementsAre("SetLanguage:en"));
}

TEST_F(TrayTest, TheIconShowsTheWindowOnALeftClickAndTheMenuOnARightClick) {
  ASSERT_TRUE(window.tray->CreateIcon());
  EXPECT_TRUE(window.tray->HasIcon());
  backend->ClickTray(513);
  backend->Pump();
  EXPECT_THAT(window.commands, ElementsAre("ShowMain"));
  backend->ClickTray(512);  // a move over the icon
  backend->ClickTray(514);
  backend->Pump();
  EXPECT_EQ(window.tray->CurrentMenu(), nullptr);
  backend->ClickTray(517);
  backend->Pump();
  ASSERT_NE(window.tray->CurrentMenu(), nullptr);
  EXPECT_EQ(Items().back(), "MENU_EXIT");
  window.tray->DeleteIcon();
  EXPECT_FALSE(window.tray->HasIcon());
  // Without a notification area there is no icon to come back from.
  backend->SetHasSystemTray(false);
  EXPECT_FALSE(window.tray->CreateIcon());
}

}  // namespace
}  // namespace orlin::testing
