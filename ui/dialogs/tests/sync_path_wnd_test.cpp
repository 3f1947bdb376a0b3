// The sync folder location window on the headless backend with the shipped
// SyncPath.xml.

#include "ui/dialogs/sync_path_wnd.h"

#include <gtest/gtest.h>

#include "ui/dialogs/tests/login_test_support.h"

namespace orlin {
namespace {

using dui::COptionUI;
using dui::CEditUI;
using dui::WindowImplBase;

class SyncPathWndTest : public testing::DialogTest {
 protected:
  SyncSettings Record() const {
    SyncSettings record;
    record.language = L"en";
    record.syncFolderPath = Str(folder);
    record.defaultLocation = false;
    return record;
  }
  std::unique_ptr<CSyncPathWnd> Open(const SyncSettings& record) {
    auto wnd = std::make_unique<CSyncPathWnd>(record, controller, rules, L"ann", &presenter);
    EXPECT_TRUE(wnd->Create(nullptr, L"sync", CSyncPathWnd::kStyle, dui::kWsExTopmost, 0, 0));
    return wnd;
  }
  CEditUI& Edit(CSyncPathWnd& wnd) {
    return *dui::FindControlAs<CEditUI>(wnd.GetPaintManager(), L"SYNCPOSEDIT");
  }
};

TEST_F(SyncPathWndTest, ShowsTheProposalWithTheDefaultOptionSelectedWhateverTheRecordSays) {
  auto wnd = Open(Record());
  EXPECT_EQ(Edit(*wnd).GetText(), Str(folder));
  auto* option = dui::FindControlAs<COptionUI>(wnd->GetPaintManager(), L"SETDEFAULTLOCATION");
  ASSERT_NE(option, nullptr);
  EXPECT_TRUE(option->IsSelected());
  EXPECT_EQ(TextOf(*wnd, L"SYNCTITLE"), L"Set the synch folder location - Orlin ");
  EXPECT_EQ(TextOf(*wnd, L"SYNCPOSBTN"), L"Browse");
  EXPECT_EQ(TextOf(*wnd, L"SETDEFAULTLOCATION"), L"This path is set to the default location");
  EXPECT_EQ(TextOf(*wnd, L"OKBTN"), L"OK");
  EXPECT_EQ(TextOf(*wnd, L"CANCELBTN"), L"Cancel");

  SyncSettings chinese = Record();
  chinese.language = L"zh_cn";
  auto zh = Open(chinese);
  EXPECT_EQ(TextOf(*zh, L"SYNCTITLE"), L"设置同步文件夹位置");
  EXPECT_EQ(TextOf(*zh, L"SYNCPOSBTN"), L"浏览");
  EXPECT_EQ(TextOf(*zh, L"SETDEFAULTLOCATION"), L"此路径设为默认位置");
  EXPECT_EQ(TextOf(*zh, L"OKBTN"), L"确定");
  EXPECT_EQ(TextOf(*zh, L"CANCELBTN"), L"取消");
}

TEST_F(SyncPathWndTest, OkRefusesWhatCannotBeASyncFolderWithTheKeyAndStaysOpen) {
  auto wnd = Open(Record());
  std::ofstream(install.path() / "a file") << "x";
  std::filesystem::create_directories(folder / "taken");
  rules.taken.insert(Str(folder / "taken"));
  const std::pair<std::wstring, const wchar_t*> cases[] = {
      {L"", L"Orlin|Invalid_directory_Msg"},
      {Str(install.path() / "missing"), L"Orlin|SyncPath_Invalid_Msg"},
      // A file cannot hold the account's files; a relative path would be the
      // engine's working directory.
      {Str(install.path() / "a file"), L"Orlin|SyncPath_Invalid_Msg"},
      {L"Sync", L"Orlin|SyncPath_Invalid_Msg"},
      // Typed by hand and still another account's folder.
      {Str(folder / "taken"), L"Orlin|Path_Used_Msg"},
      {Str(folder / "taken") + L"/", L"Orlin|Path_Used_Msg"},
  };
  for (const auto& [typed, expected] : cases) {
    presenter.shown.clear();
    Edit(*wnd).UserSetText(typed);
    dui::ClickControl(*wnd, L"OKBTN");
    backend->Pump();
    EXPECT_EQ(presenter.Shown(), std::vector<std::wstring>{expected}) << WideToUtf8(typed);
    EXPECT_TRUE(wnd->IsWindow()) << WideToUtf8(typed);
  }
  // The question named the user choosing, with the folder as it is kept.
  EXPECT_EQ(rules.asked.back(), L"taken:" + Str(folder / "taken") + L"|ann");
  EXPECT_TRUE(controller.Calls().empty());
}

TEST_F(SyncPathWndTest, OkEndsWithOneAndHandsBackThePathAndTheOption) {
  std::filesystem::create_directories(folder / "elsewhere");
  backend->SetModalHook([this](WindowImplBase& w) {
    w.GetHWND()->Dispatch([this, &w] {
      Edit(static_cast<CSyncPathWnd&>(w)).UserSetText(Str(folder / "elsewhere") + L"/");
      dui::ClickControl(w, L"SETDEFAULTLOCATION");
      dui::ClickControl(w, L"OKBTN");
    });
  });
  CSyncPathWnd wnd(Record(), controller, rules, L"ann", &presenter);
  ASSERT_TRUE(wnd.Create(nullptr, L"sync", CSyncPathWnd::kStyle, dui::kWsExTopmost, 0, 0));
  EXPECT_EQ(wnd.ShowModal(), 1);
  EXPECT_EQ(wnd.Result().syncFolderPath, Str(folder / "elsewhere"));
  EXPECT_FALSE(wnd.Result().defaultLocation);
  EXPECT_TRUE(presenter.Shown().empty());
}

TEST_F(SyncPathWndTest, CloseAndCancelEndWithTwo) {
  for (const wchar_t* button : {L"CLOSEBTN", L"CANCELBTN"}) {
    backend->SetModalHook([button](WindowImplBase& w) {
      w.GetHWND()->Dispatch([&w, button] { dui::ClickControl(w, button); });
    });
    CSyncPathWnd wnd(Record(), controller, rules, L"ann", &presenter);
    ASSERT_TRUE(wnd.Create(nullptr, L"sync", CSyncPathWnd::kStyle, dui::kWsExTopmost, 0, 0));
    EXPECT_EQ(wnd.ShowModal(), 2) << WideToUtf8(button);
  }
}

TEST_F(SyncPathWndTest, APickedFolderGoesIntoTheEditUnlessAnotherAccountSyncsIt) {
  auto wnd = Open(Record());
  std::filesystem::create_directories(folder / "picked");
  std::filesystem::create_directories(folder / "theirs");
  rules.taken.insert(Str(folder / "theirs"));

  // Cancelling the picker changes nothing.
  backend->SetNextFolder(std::nullopt);
  dui::ClickControl(*wnd, L"SYNCPOSBTN");
  backend->Pump();
  EXPECT_EQ(Edit(*wnd).GetText(), Str(folder));

  backend->SetNextFolder(folder / "picked");
  dui::ClickControl(*wnd, L"SYNCPOSBTN");
  backend->Pump();
  EXPECT_EQ(Edit(*wnd).GetText(), Str(folder / "picked"));
  EXPECT_TRUE(presenter.Shown().empty());

  // Another account's folder: refused, the edit keeps what it had.
  backend->SetNextFolder(folder / "theirs");
  dui::ClickControl(*wnd, L"SYNCPOSBTN");
  backend->Pump();
  EXPECT_EQ(Edit(*wnd).GetText(), Str(folder / "picked"));
  EXPECT_EQ(presenter.Shown(), std::vector<std::wstring>{L"Orlin|Path_Used_Msg"});
  EXPECT_EQ(rules.asked.back(), L"taken:" + Str(folder / "theirs") + L"|ann");
}

TEST_F(SyncPathWndTest, DpiChangesAreClampedAppliedAndRemembered) {
  controller.settings.dpi = 144;
  auto wnd = Open(Record());
  EXPECT_EQ(wnd->GetPaintManager().GetDPIObj()->GetScale(), 150);
  EXPECT_EQ(wnd->GetPaintManager().GetCaptionRect().bottom, 45);
  wnd->SendMessageW(dui::kWmDpiChanged, (3u << 16) | 240u, 0);
  EXPECT_EQ(wnd->GetPaintManager().GetDPIObj()->GetDPI(), 192);
  EXPECT_EQ(wnd->GetPaintManager().GetCaptionRect().bottom, 60);
  EXPECT_EQ(controller.Calls(), std::vector<std::string>{"SetDpi:192"});
}

TEST_F(SyncPathWndTest, FolderRulesReadUserconfigAndCountNoUserAgainstThemselves) {
  std::ofstream(install.path() / "userconfig.xml")
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<users>\n"
         "    <user name=\"ann\" path=\"/data/ann\" default=\"false\"/>\n"
         "    <user name=\"bob\" path=\"/data/bob\" default=\"true\"/>\n</users>\n";
  UserConfigFolderRules real(InstallLayout{install.path()}, presenter);
  EXPECT_EQ(real.SavedLocation(L"bob"), (UserEntry{L"/data/bob", true}));
  EXPECT_EQ(real.SavedLocation(L"ann"), (UserEntry{L"/data/ann", false}));
  EXPECT_EQ(real.SavedLocation(L"Ann"), std::nullopt);
  // Ann may pick her own earlier folder again; Bob's is refused to her.
  EXPECT_FALSE(real.TakenByAnotherAccount(L"/data/ann", L"ann"));
  EXPECT_TRUE(real.TakenByAnotherAccount(L"/data/bob", L"ann"));
  EXPECT_TRUE(real.TakenByAnotherAccount(L"/data/ann", L""));
  EXPECT_TRUE(presenter.Shown().empty());

  std::filesystem::remove(install.path() / "userconfig.xml");
  EXPECT_EQ(real.SavedLocation(L"bob"), std::nullopt);
  EXPECT_FALSE(real.TakenByAnotherAccount(L"/data/bob", L"ann"));
  EXPECT_EQ(presenter.Shown(),
            (std::vector<std::wstring>{L"Orlin|UserConfig_Failed_Msg", L"Orlin|Userconfig_Failed_Msg|cancel"}));
  EXPECT_FALSE(std::filesystem::exists(install.path() / "userconfig.xml"));
}

TEST(NormalizeFolderPath, DropsTrailingSeparatorsButKeepsRoots) {
  EXPECT_EQ(NormalizeFolderPath(L"/home/ann/Sync//"), L"/home/ann/Sync");
  EXPECT_EQ(NormalizeFolderPath(L"C:\\Users\\ann\\Sync\\"), L"C:\\Users\\ann\\Sync");
  EXPECT_EQ(NormalizeFolderPath(L"/"), L"/");
  EXPECT_EQ(NormalizeFolderPath(L"C:\\"), L"C:\\");
  EXPECT_EQ(NormalizeFolderPath(L""), L"");
}

}  // namespace
}  // namespace orlin
