// The settings window on the headless backend with the shipped SetWnd.xml.

#include "ui/dialogs/settings_wnd.h"

#include <gtest/gtest.h>

#include "ui/dialogs/ignoring_wnd.h"
#include "ui/dialogs/tests/login_test_support.h"

namespace orlin {
namespace {

using dui::CComboUI;
using dui::CEditUI;
using dui::COptionUI;
using dui::CTabLayoutUI;
using dui::WindowImplBase;
namespace fs = std::filesystem;

class SettingsWndTest : public testing::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    record.language = L"en";
    record.syncFolderPath = Str(folder);
    record.ignoreText = L"photos\n\nnotes.txt\n";
    record.deviceId = L"GCANPO7-CZIGSCY-PJ6ZJYP-NHOVANG-GXNFXD6-QT3WJBF-GDAQYJH-JJLY5A6";
    record.receiveLimit = 300;
    record.sendLimit = 40;
    record.versionsKept = 3;
    record.folderType = kFolderReceiveOnly;
    record.dpi = 144;
    record.pullOrder = kPullOldestFirst;
    record.autostart = true;
    record.defaultLocation = false;
    record.showInMyComputer = false;
    record.hideFromTaskbar = true;
    std::ofstream(install.path() / "Orlin.ini") << "[product]\noutname=Orlin_Desktop_Sync\n";
  }
  std::unique_ptr<CSettingWnd> Open(int tab = 0) {
    auto wnd = std::make_unique<CSettingWnd>(record, controller, tab, &presenter);
    EXPECT_TRUE(wnd->Create(nullptr, L"Settting - Orlin", CSettingWnd::kStyle, dui::kWsExTopmost));
    return wnd;
  }
  template <class T>
  static T& Get(CSettingWnd& wnd, const wchar_t* name) {
    return *dui::FindControlAs<T>(wnd.GetPaintManager(), name);
  }
  // Clicks a control of the window's current page (the page shown first).
  void ClickOn(CSettingWnd& wnd, const wchar_t* name) {
    dui::ClickControl(wnd, name);
    backend->Pump();
  }
  SyncSettings record;
};

TEST_F(SettingsWndTest, EveryControlShowsTheRecord) {
  auto wnd = Open(1);
  EXPECT_EQ(Get<CComboUI>(*wnd, L"LANG_COMBO").GetCurSel(), 0);
  EXPECT_TRUE(Get<COptionUI>(*wnd, L"AUTOSTART_OPTION").IsSelected());
  EXPECT_FALSE(Get<COptionUI>(*wnd, L"COMPUTERSHOW_OPTION").IsSelected());
  EXPECT_TRUE(Get<COptionUI>(*wnd, L"TRAY_OPTION").IsSelected());
  EXPECT_FALSE(Get<COptionUI>(*wnd, L"TASK_OPTION").IsSelected());
  EXPECT_EQ(Get<CComboUI>(*wnd, L"DPI_COMBO").GetCurSel(), 2);
  EXPECT_EQ(wnd->GetPaintManager().GetDPIObj()->GetScale(), 150);
  EXPECT_EQ(Get<CEditUI>(*wnd, L"SYNCPOSEDIT").GetText(), Str(folder));
  EXPECT_FALSE(Get<COptionUI>(*wnd, L"SETDEFAULTLOCATION").IsSelected());
  EXPECT_EQ(Get<CEditUI>(*wnd, L"DOWNLOADEEDIT").GetText(), L"300");
  EXPECT_EQ(Get<CEditUI>(*wnd, L"UPLOADEEDIT").GetText(), L"40");
  EXPECT_EQ(Get<CComboUI>(*wnd, L"FILETYPE_COMBO").GetCurSel(), 2);
  EXPECT_EQ(Get<CComboUI>(*wnd, L"FILEPULLORDER_COMBO").GetCurSel(), 4);
  EXPECT_EQ(Get<CComboUI>(*wnd, L"FILEPULLORDER_COMBO").GetCurText(), L"Oldest First ");
  EXPECT_EQ(Get<CComboUI>(*wnd, L"VERSIONS_COMBO").GetCurSel(), 3);
  EXPECT_EQ(TextOf(*wnd, L"FILESFOLDERSLABEL"), L"( 2 )") << "empty lines are not entries";
  EXPECT_EQ(TextOf(*wnd, L"DEVICEID_LABEL2"), record.deviceId);
  EXPECT_EQ(TextOf(*wnd, L"VERSION_LABEL2"), L"Orlin Desktop Sync");
  // The page asked for.
  EXPECT_EQ(Get<CTabLayoutUI>(*wnd, L"TAB_SWITCH").GetCurSel(), 1);
  EXPECT_TRUE(Get<COptionUI>(*wnd, L"ORLIN_TAB").IsSelected());
  EXPECT_EQ(TextOf(*wnd, L"SETTITLE"), L"Setting - Orlin");
  EXPECT_EQ(Get<CComboUI>(*wnd, L"FILETYPE_COMBO").GetCurText(), L"Receive Only");
}

TEST_F(SettingsWndTest, AnyLanguageButEnglishIsChineseAndTextsFollow) {
  record.language = L"fr";
  auto wnd = Open();
  EXPECT_EQ(Get<CComboUI>(*wnd, L"LANG_COMBO").GetCurSel(), 1);
  EXPECT_EQ(TextOf(*wnd, L"SETTITLE"), L"设置 - Orlin");
  EXPECT_EQ(TextOf(*wnd, L"GENERAL_TAB"), L"通用设置");
  EXPECT_EQ(Get<CComboUI>(*wnd, L"FILEPULLORDER_COMBO").GetCurText(), L"旧文件优先");
  ClickOn(*wnd, L"OKBTN");
  EXPECT_EQ(record.language, L"zh_cn");
}

TEST_F(SettingsWndTest, TheTabsShowTheirPages) {
  auto wnd = Open(0);
  auto& pages = Get<CTabLayoutUI>(*wnd, L"TAB_SWITCH");
  EXPECT_EQ(pages.GetCurSel(), 0);
  ClickOn(*wnd, L"ABOUT_TAB");
  EXPECT_EQ(pages.GetCurSel(), 2);
  ClickOn(*wnd, L"ORLIN_TAB");
  EXPECT_EQ(pages.GetCurSel(), 1);
  wnd->SelectTab(0);
  EXPECT_EQ(pages.GetCurSel(), 0);
  EXPECT_TRUE(Get<COptionUI>(*wnd, L"GENERAL_TAB").IsSelected());
}

TEST_F(SettingsWndTest, OkCollectsEveryValueAndEndsWithOne) {
  fs::create_directories(install.path() / "NewPlace");
  backend->SetModalHook([this](WindowImplBase& w) {
    w.GetHWND()->Dispatch([this, &w] {
      auto& wnd = static_cast<CSettingWnd&>(w);
      dui::ClickControl(wnd, L"AUTOSTART_OPTION");
      dui::ClickControl(wnd, L"COMPUTERSHOW_OPTION");
      dui::ClickControl(wnd, L"TASK_OPTION");
      Get<CComboUI>(wnd, L"LANG_COMBO").SelectItem(1);
      Get<CComboUI>(wnd, L"DPI_COMBO").SelectItem(4);
      wnd.SelectTab(1);
      wnd.GetPaintManager().LayoutIfNeeded();
      Get<CEditUI>(wnd, L"SYNCPOSEDIT").UserSetText(Str(install.path() / "NewPlace") + L"/");
      dui::ClickControl(wnd, L"SETDEFAULTLOCATION");
      Get<CEditUI>(wnd, L"DOWNLOADEEDIT").UserSetText(L"123kB");
      Get<CEditUI>(wnd, L"UPLOADEEDIT").UserSetText(L"fast");
      Get<CComboUI>(wnd, L"FILETYPE_COMBO").SelectItem(1);
      Get<CComboUI>(wnd, L"FILEPULLORDER_COMBO").SelectItem(5);
      Get<CComboUI>(wnd, L"VERSIONS_COMBO").SelectItem(10);
      dui::ClickControl(wnd, L"APPLYBTN");  // does nothing
      dui::ClickControl(wnd, L"OKBTN");
    });
  });
  CSettingWnd wnd(record, controller, 0, &presenter);
  ASSERT_TRUE(wnd.Create(nullptr, L"Settting - Orlin", CSettingWnd::kStyle, dui::kWsExTopmost));
  EXPECT_EQ(wnd.ShowModal(), 1);
  EXPECT_FALSE(record.autostart);
  EXPECT_TRUE(record.showInMyComputer);
  EXPECT_FALSE(record.hideFromTaskbar);
  EXPECT_EQ(record.language, L"zh_cn");
  EXPECT_EQ(record.dpi, 192);
  EXPECT_EQ(record.syncFolderPath, Str(install.path() / "NewPlace"));
  EXPECT_TRUE(record.defaultLocation);
  EXPECT_EQ(record.receiveLimit, 123);
  EXPECT_EQ(record.sendLimit, 0);
  EXPECT_EQ(record.folderType, kFolderSendOnly);
  EXPECT_EQ(record.pullOrder, kPullNewestFirst);
  EXPECT_EQ(record.versionsKept, 10);
  EXPECT_TRUE(presenter.Shown().empty());
  // Applying is not the window's business.
  EXPECT_EQ(controller.Count("ApplySettings"), 0u);
}

TEST_F(SettingsWndTest, LimitsTakeTheLeadingDigits) {
  EXPECT_EQ(CSettingWnd::ParseLimit(L""), 0);
  EXPECT_EQ(CSettingWnd::ParseLimit(L"abc"), 0);
  EXPECT_EQ(CSettingWnd::ParseLimit(L"-5"), 0);
  EXPECT_EQ(CSettingWnd::ParseLimit(L"12abc"), 12);
  EXPECT_EQ(CSettingWnd::ParseLimit(L"0042"), 42);
  EXPECT_EQ(CSettingWnd::ParseLimit(L"99999999999999"), 2147483647);
  EXPECT_EQ(CSettingWnd::CountIgnoreLines(L"a\n\nb\n"), 2);
  EXPECT_EQ(CSettingWnd::CountIgnoreLines(L""), 0);
  EXPECT_EQ(CSettingWnd::CountIgnoreLines(L"/\n"), 1);
}

TEST_F(SettingsWndTest, OkRefusesAFolderThatCannotBeTheSyncFolderAndStaysOpen) {
  auto wnd = Open(1);
  fs::create_directories(folder / "inner");
  fs::create_directories(install.path() / "Theirs");
  controller.pathInUse = false;
  struct Case {
    std::wstring typed;
    bool inUse;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {Str(install.path() / "missing"), false, L"Orlin|SyncPath_Invalid_Msg"},
      {L"", false, L"Orlin|SyncPath_Invalid_Msg"},
      // The sync folder cannot move into itself.
      {Str(folder / "inner"), false, L"Orlin|SyncPath_Invalid_Msg"},
      {Str(install.path() / "Theirs"), true, L"Orlin|Path_Used_Msg"},
  };
  for (const auto& c : cases) {
    presenter.shown.clear();
    controller.pathInUse = c.inUse;
    Get<CEditUI>(*wnd, L"SYNCPOSEDIT").UserSetText(c.typed);
    ClickOn(*wnd, L"OKBTN");
    EXPECT_EQ(presenter.Shown(), std::vector<std::wstring>{c.expected}) << WideToUtf8(c.typed);
    EXPECT_TRUE(wnd->IsWindow());
  }
  // The folder as it was is fine, whoever else was asked about.
  controller.pathInUse = true;
  presenter.shown.clear();
  Get<CEditUI>(*wnd, L"SYNCPOSEDIT").UserSetText(Str(folder));
  ClickOn(*wnd, L"OKBTN");
  EXPECT_TRUE(presenter.Shown().empty());
  EXPECT_FALSE(wnd->IsWindow());
}

TEST_F(SettingsWndTest, CloseAndCancelEndWithTwo) {
  for (const wchar_t* button : {L"CLOSEBTN", L"CANCELBTN"}) {
    backend->SetModalHook([button](WindowImplBase& w) {
      w.GetHWND()->Dispatch([&w, button] { dui::ClickControl(w, button); });
    });
    CSettingWnd wnd(record, controller, 0, &presenter);
    ASSERT_TRUE(wnd.Create(nullptr, L"Settting - Orlin", CSettingWnd::kStyle, dui::kWsExTopmost));
    EXPECT_EQ(wnd.ShowModal(), 2) << WideToUtf8(button);
  }
  EXPECT_EQ(record.receiveLimit, 300);
}

TEST_F(SettingsWndTest, APickedFolderGoesIntoTheEditUnlessAnotherAccountSyncsIt) {
  auto wnd = Open(1);
  fs::create_directories(install.path() / "Picked");
  backend->SetNextFolder(install.path() / "Picked");
  ClickOn(*wnd, L"SYNCPOSBTN");
  EXPECT_EQ(Get<CEditUI>(*wnd, L"SYNCPOSEDIT").GetText(), Str(install.path() / "Picked"));
  EXPECT_EQ(wnd->ChildState(), CSettingWnd::kNoChild);

  controller.pathInUse = true;
  backend->SetNextFolder(install.path());
  ClickOn(*wnd, L"SYNCPOSBTN");
  EXPECT_EQ(Get<CEditUI>(*wnd, L"SYNCPOSEDIT").GetText(), Str(install.path() / "Picked"));
  EXPECT_EQ(presenter.Shown(), std::vector<std::wstring>{L"Orlin|Path_Used_Msg"});
}

TEST_F(SettingsWndTest, ADpiChangeIsClampedAndOnlyListedValuesApply) {
  auto wnd = Open();
  wnd->SendMessageW(dui::kWmDpiChanged, 200, 0);
  EXPECT_EQ(Get<CComboUI>(*wnd, L"DPI_COMBO").GetCurSel(), 4);
  EXPECT_EQ(wnd->GetPaintManager().GetDPIObj()->GetDPI(), 192);
  wnd->SendMessageW(dui::kWmDpiChanged, 100, 0);
  EXPECT_EQ(Get<CComboUI>(*wnd, L"DPI_COMBO").GetCurSel(), 4);
  EXPECT_EQ(wnd->GetPaintManager().GetDPIObj()->GetDPI(), 192);
  // Choosing a DPI in the combo changes nothing on screen.
  Get<CComboUI>(*wnd, L"DPI_COMBO").SelectItem(0);
  EXPECT_EQ(wnd->GetPaintManager().GetDPIObj()->GetDPI(), 192);
}

TEST_F(SettingsWndTest, TheSelectiveSyncWindowRewritesTheIgnoreTextAndTheCount) {
  std::ofstream(folder / "a.txt") << "a";
  fs::create_directories(folder / "docs");
  std::ofstream(folder / "docs" / "b.txt") << "b";
  record.ignoreText = L"";
  CSettingWnd* settings = nullptr;
  // Lives as long as the test: the window's queue runs it after the hook.
  std::function<void()> whenReady;
  backend->SetModalHook([&](WindowImplBase& w) {
    auto* ignoring = dynamic_cast<CIgnoredWnd*>(&w);
    ASSERT_NE(ignoring, nullptr);
    EXPECT_EQ(settings->ChildState(), CSettingWnd::kSelectiveSync);
    EXPECT_EQ(settings->ChildWindow(), ignoring);
    whenReady = [&, ignoring] {
      if (!ignoring->TreeReady()) {
        ignoring->GetHWND()->Dispatch(whenReady);
        return;
      }
      auto* tree = dui::FindControlAs<dui::CTreeViewUI>(ignoring->GetPaintManager(), L"IGNORING_TREEVIEW");
      auto* root = tree->GetRoot(0);
      for (int i = 0; i < root->GetChildNodeCount(); ++i) {
        if (root->GetChildNode(i)->GetText() == L"docs") root->GetChildNode(i)->SetCheck(true);
      }
      dui::ClickControl(*ignoring, L"OKBTN");
    };
    ignoring->GetHWND()->Dispatch(whenReady);
  });
  auto wnd = Open(1);
  settings = wnd.get();
  wnd->OpenSelectiveSync();
  EXPECT_EQ(record.ignoreText, L"docs\n");
  // Every checked entry counts: the folder and its file.
  EXPECT_EQ(TextOf(*wnd, L"FILESFOLDERSLABEL"), L"( 2 )");
  EXPECT_EQ(wnd->ChildState(), CSettingWnd::kNoChild);
  EXPECT_EQ(wnd->ChildWindow(), nullptr);
  EXPECT_EQ(TextOf(*wnd, L"SETTITLE"), L"Setting - Orlin") << "the window's texts are its own again";
}

}  // namespace
}  // namespace orlin
