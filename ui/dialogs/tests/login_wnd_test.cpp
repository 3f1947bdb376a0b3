// The login window on the headless backend with the shipped login.xml,
// against the fake controller, fake folder rules and a recording presenter.

#include "ui/dialogs/login_wnd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>

#include "ui/dialogs/sync_path_wnd.h"
#include "ui/dialogs/tests/login_test_support.h"
#include "ui/dui/menu_wnd.h"

namespace orlin {
namespace {

using dui::CButtonUI;
using dui::CEditUI;
using dui::WindowImplBase;

class LoginWndTest : public testing::DialogTest {
 protected:
  std::unique_ptr<CLoginWnd> Open() {
    auto wnd = std::make_unique<CLoginWnd>(controller, &rules, &presenter);
    EXPECT_TRUE(wnd->Create(nullptr, L"Login - Orlin", CLoginWnd::kStyle, dui::kWsExTopmost, 0, 0));
    backend->Pump();  // "windowinit"
    return wnd;
  }
  static CEditUI& Edit(CLoginWnd& wnd, const wchar_t* name) {
    return *dui::FindControlAs<CEditUI>(wnd.GetPaintManager(), name);
  }
  static void Type(CLoginWnd& wnd, const wchar_t* name, const std::wstring& text) {
    auto& pm = wnd.GetPaintManager();
    auto lock = pm.ModelLock();
    pm.SetFocus(&Edit(wnd, name));
    Edit(wnd, name).UserSetText(text);
  }
  static void TypeAll(CLoginWnd& wnd, const std::wstring& server, const std::wstring& user, const std::wstring& pass) {
    Type(wnd, L"IPEDIT", server);
    Type(wnd, L"USERNAMEEDIT", user);
    Type(wnd, L"PASSWORDEDIT", pass);
    wnd.GetPaintManager().SetFocus(nullptr);
  }
  // Clicks the login button and pumps until the attempt has ended.
  void Attempt(CLoginWnd& wnd) {
    dui::ClickControl(wnd, L"LOGINBTN");
    ASSERT_TRUE(wnd.AttemptRunning());
    PumpUntil([&] { return !wnd.AttemptRunning(); }, "the login attempt to end");
  }
  // The window as the idle state leaves it: enabled, the button usable and
  // in its own colour.
  void ExpectIdle(CLoginWnd& wnd, dui::Color buttonColor) {
    EXPECT_TRUE(wnd.IsWindowEnabled());
    auto* button = dui::FindControlAs<CButtonUI>(wnd.GetPaintManager(), L"LOGINBTN");
    EXPECT_TRUE(button->IsEnabled());
    EXPECT_EQ(button->GetBkColor(), buttonColor);
    EXPECT_FALSE(wnd.AttemptRunning());
  }
  void KeepsDefault(const std::wstring& user) {
    rules.entries[user] = UserEntry{Str(folder), true};
  }
};

TEST_F(LoginWndTest, EmptyFieldsFailTheLoginNamingTheFieldAndSendNothing) {
  auto wnd = Open();
  const dui::Color buttonColor = dui::FindControlAs<CButtonUI>(wnd->GetPaintManager(), L"LOGINBTN")->GetBkColor();
  KeepsDefault(L"ann");

  // Never typed into: the placeholder is not a value.
  Attempt(*wnd);
  TypeAll(*wnd, L"", L"ann", L"secret");
  Attempt(*wnd);
  TypeAll(*wnd, L"nas.example", L"  ", L"secret");
  Attempt(*wnd);
  TypeAll(*wnd, L"nas.example", L"ann", L"");
  Attempt(*wnd);
  EXPECT_EQ(presenter.Shown(), (std::vector<std::wstring>{L"Orlin|Login_Failed_msg (IP or URL)",
                                                          L"Orlin|Login_Failed_msg (IP or URL)",
                                                          L"Orlin|Login_Failed_msg (User Name)",
                                                          L"Orlin|Login_Failed_msg (Password)"}));
  EXPECT_EQ(controller.Count("Login"), 0u);
  EXPECT_TRUE(rules.asked.empty());
  ExpectIdle(*wnd, buttonColor);

  // In Chinese the field is named in Chinese.
  wnd->SwitchLanguage(L"zh_cn");
  presenter.shown.clear();
  TypeAll(*wnd, L"nas.example", L"", L"secret");
  Attempt(*wnd);
  EXPECT_EQ(presenter.Shown(), std::vector<std::wstring>{L"Orlin|Login_Failed_msg (用户名)"});
}

TEST_F(LoginWndTest, AFailedLoginLeavesTheWindowUsableWithWhatWasTyped) {
  auto wnd = Open();
  const dui::Color buttonColor = dui::FindControlAs<CButtonUI>(wnd->GetPaintManager(), L"LOGINBTN")->GetBkColor();
  KeepsDefault(L"ann lee");
  controller.loginOutcome.result = 0;
  TypeAll(*wnd, L"https://nas.example:5001", L"ann lee", L"p&ss word");
  Attempt(*wnd);
  ASSERT_EQ(controller.Count("Login"), 1u);
  const LoginRequest sent = controller.LastLogin();
  EXPECT_EQ(sent.server, L"https://nas.example:5001");
  EXPECT_EQ(sent.userName, L"ann lee");
  EXPECT_EQ(sent.password, L"p&ss word");
  EXPECT_EQ(sent.syncFolder, Str(folder));
  EXPECT_TRUE(sent.makeDefault);
  EXPECT_TRUE(wnd->IsWindow());
  ExpectIdle(*wnd, buttonColor);
  EXPECT_EQ(Edit(*wnd, L"USERNAMEEDIT").GetText(), L"ann lee");
  EXPECT_EQ(Edit(*wnd, L"PASSWORDEDIT").GetText(), L"p&ss word");
  EXPECT_TRUE(Edit(*wnd, L"PASSWORDEDIT").IsPasswordMode());

  // And it can try again, this time by Enter in a field.
  wnd->GetPaintManager().SendNotify(&Edit(*wnd, L"PASSWORDEDIT"), dui::kEventReturn);
  PumpUntil([&] { return !wnd->AttemptRunning(); }, "the second attempt to end");
  EXPECT_EQ(controller.Count("Login"), 2u);
  ExpectIdle(*wnd, buttonColor);
  // The window itself stored nothing.
  EXPECT_EQ(controller.Count("SetLanguage"), 0u);
}

TEST_F(LoginWndTest, WhileTheLoginRunsTheWindowIsBusyButHandlesMessagesAndTakesNoSecondAttempt) {
  auto wnd = Open();
  KeepsDefault(L"ann");
  TypeAll(*wnd, L"nas.example", L"ann", L"secret");
  controller.CloseGate();
  dui::ClickControl(*wnd, L"LOGINBTN");
  PumpUntil([&] { return controller.Count("Login") == 1; }, "the worker to call Login");

  auto* button = dui::FindControlAs<CButtonUI>(wnd->GetPaintManager(), L"LOGINBTN");
  EXPECT_FALSE(wnd->IsWindowEnabled());
  EXPECT_FALSE(button->IsEnabled());
  EXPECT_EQ(button->GetBkColor(), CLoginWnd::kBusyButtonColor);

  // Enter in a field cannot start a second attempt.
  wnd->GetPaintManager().SendNotify(&Edit(*wnd, L"IPEDIT"), dui::kEventReturn);
  // Messages sent from another thread are answered while the login blocks.
  std::atomic<bool> answered{false};
  std::thread sender([&] {
    wnd->SendMessageW(dui::kWmDpiChanged, 144, 0);
    answered = true;
  });
  PumpUntil([&] { return answered.load(); }, "a message sent during the login to be handled");
  sender.join();
  EXPECT_EQ(wnd->GetPaintManager().GetDPIObj()->GetDPI(), 144);

  controller.OpenGate();
  PumpUntil([&] { return !wnd->AttemptRunning(); }, "the attempt to end once the login returned");
  EXPECT_EQ(controller.Count("Login"), 1u);
}

TEST_F(LoginWndTest, ASuccessfulLoginEndsTheModalRunWithOne) {
  KeepsDefault(L"ann");
  controller.loginOutcome.result = 1;
  backend->SetModalHook([this](WindowImplBase& w) {
    if (w.GetWindowClassName() != CLoginWnd::kClassName) return;
    w.GetHWND()->Dispatch([&w] {
      auto& login = static_cast<CLoginWnd&>(w);
      TypeAll(login, L"192.168.1.20:5001", L"ann", L"secret");
      w.GetPaintManager().SendNotify(&Edit(login, L"USERNAMEEDIT"), dui::kEventReturn);
    });
  });
  CLoginWnd wnd(controller, &rules, &presenter);
  ASSERT_TRUE(wnd.Create(nullptr, L"Login - Orlin", CLoginWnd::kStyle, dui::kWsExTopmost, 0, 0));
  EXPECT_EQ(wnd.ShowModal(), 1);
  EXPECT_EQ(controller.LastLogin().server, L"192.168.1.20:5001");
  EXPECT_TRUE(presenter.Shown().empty());
}

TEST_F(LoginWndTest, AUserWithoutDefaultChoosesTheFolderFirstAndCancellingChangesNothing) {
  auto wnd = Open();
  const dui::Color buttonColor = dui::FindControlAs<CButtonUI>(wnd->GetPaintManager(), L"LOGINBTN")->GetBkColor();
  std::filesystem::create_directories(folder / "mine");
  struct Seen {
    std::wstring proposal;
    WindowImplBase* owner = nullptr;
    int count = 0;
  };
  std::mutex seenMutex;
  Seen seen;
  std::wstring answer = L"CANCELBTN";
  backend->SetModalHook([&](WindowImplBase& w) {
    if (w.GetWindowClassName() != CSyncPathWnd::kClassName) return;
    {
      std::lock_guard lock(seenMutex);
      seen.proposal = TextOf(w, L"SYNCPOSEDIT");
      seen.owner = w.GetParentWindow();
      ++seen.count;
    }
    w.GetHWND()->Dispatch([&w, answer, this] {
      if (answer == L"OKBTN") {
        dui::FindControlAs<CEditUI>(w.GetPaintManager(), L"SYNCPOSEDIT")->UserSetText(Str(folder / "mine"));
      }
      dui::ClickControl(w, answer);
    });
  });

  // A new user of this computer: asked, over the login window.
  TypeAll(*wnd, L"nas.example", L"new", L"secret");
  Attempt(*wnd);
  EXPECT_EQ(seen.count, 1);
  EXPECT_EQ(seen.owner, wnd.get());
  EXPECT_EQ(seen.proposal, Str(folder));
  EXPECT_EQ(controller.Count("Login"), 0u);
  ExpectIdle(*wnd, buttonColor);
  EXPECT_EQ(TextOf(*wnd, L"LOGINBTN"), L"Login");

  // The folder chosen there is what the login uses.
  answer = L"OKBTN";
  Attempt(*wnd);
  EXPECT_EQ(seen.count, 2);
  ASSERT_EQ(controller.Count("Login"), 1u);
  EXPECT_EQ(controller.LastLogin().syncFolder, Str(folder / "mine"));
  EXPECT_TRUE(controller.LastLogin().makeDefault);

  // A returning user without the default flag: asked, with the earlier folder
  // proposed, and not counted as another account on it.
  rules.entries[L"old"] = UserEntry{Str(folder / "mine"), false};
  Type(*wnd, L"USERNAMEEDIT", L"old");
  answer = L"OKBTN";
  Attempt(*wnd);
  EXPECT_EQ(seen.count, 3);
  EXPECT_EQ(seen.owner, nullptr);
  EXPECT_EQ(seen.proposal, Str(folder / "mine"));
  EXPECT_EQ(rules.asked.back(), L"taken:" + Str(folder / "mine") + L"|old");
}

TEST_F(LoginWndTest, ADefaultLocationSkipsTheFolderWindowOnlyWhileTheFolderExists) {
  auto wnd = Open();
  int folderWindows = 0;
  backend->SetModalHook([&](WindowImplBase& w) {
    if (w.GetWindowClassName() != CSyncPathWnd::kClassName) return;
    ++folderWindows;
    w.GetHWND()->Dispatch([&w] { dui::ClickControl(w, L"CANCELBTN"); });
  });
  rules.entries[L"ann"] = UserEntry{Str(folder), true};
  TypeAll(*wnd, L"nas.example", L"ann", L"secret");
  Attempt(*wnd);
  EXPECT_EQ(folderWindows, 0);
  EXPECT_EQ(controller.Count("Login"), 1u);
  EXPECT_EQ(controller.LastLogin().syncFolder, Str(folder));

  // The default folder was removed meanwhile: the user is asked again rather
  // than the engine handed a folder that is not there.
  rules.entries[L"ann"] = UserEntry{Str(install.path() / "gone"), true};
  Attempt(*wnd);
  EXPECT_EQ(folderWindows, 1);
  EXPECT_EQ(controller.Count("Login"), 1u);
}

TEST_F(LoginWndTest, TheLanguageSwitchChangesEveryTextAtOnceAndIsStored) {
  auto wnd = Open();
  EXPECT_EQ(wnd->Language(), L"en");
  EXPECT_EQ(TextOf(*wnd, L"LOGINBTN"), L"Login");
  EXPECT_EQ(Edit(*wnd, L"IPEDIT").GetPromptText(), L"IP or URL");
  EXPECT_EQ(Edit(*wnd, L"USERNAMEEDIT").GetPromptText(), L"User Name");
  EXPECT_EQ(Edit(*wnd, L"PASSWORDEDIT").GetPromptText(), L"Password");
  EXPECT_EQ(TextOf(*wnd, L"LOGINTITLE"), L"Login - Orlin");
  EXPECT_EQ(wnd->GetWindowName(), L"Login - Orlin");
  EXPECT_EQ(TextOf(*wnd, L"LANGUAGEBTN"), L"English");
  Type(*wnd, L"USERNAMEEDIT", L"ann");
  wnd->GetPaintManager().SetFocus(nullptr);

  // The language menu marks the current language.
  backend->SetCursorPos(dui::Point{300, 200});
  dui::ClickControl(*wnd, L"LANGUAGEBTN");
  backend->Pump();
  dui::CMenuWnd* menu = nullptr;
  for (auto* w : backend->Windows()) {
    if (auto* m = dynamic_cast<dui::CMenuWnd*>(w)) menu = m;
  }
  ASSERT_NE(menu, nullptr);
  auto* english = dynamic_cast<dui::CMenuElementUI*>(menu->GetPaintManager().FindControl(L"LANG_ENGLISH"));
  auto* chinese = dynamic_cast<dui::CMenuElementUI*>(menu->GetPaintManager().FindControl(L"LANG_CHINESE"));
  ASSERT_TRUE(english && chinese);
  EXPECT_EQ(english->GetText(), L"English");
  EXPECT_EQ(chinese->GetText(), L"简体中文");
  EXPECT_EQ(english->GetIcon(), L"res\\common\\menu_check.png");
  EXPECT_EQ(chinese->GetIcon(), L"");

  // Storing the language makes the main window the text provider (it
  // answers "Login_Btn" from its own table); the login window takes its texts
  // back.
  struct MainTexts : dui::IQueryControlText {
    std::optional<std::wstring> QueryControlText(const std::wstring& id, const std::wstring&) override {
      return id == L"Login_Btn" ? std::optional<std::wstring>(L"main-window text") : std::nullopt;
    }
  } mainTexts;
  controller.onSetLanguage = [&mainTexts] {
    dui::CResourceManager::GetInstance().SetTextQueryInterface(&mainTexts);
    dui::CResourceManager::GetInstance().ReloadText();
  };

  // Choosing Chinese there: the menu posts its command to the window.
  dui::ClickControl(*menu, L"LANG_CHINESE");
  PumpUntil([&] { return wnd->Language() == L"zh_cn"; }, "the language menu's choice");
  EXPECT_EQ(TextOf(*wnd, L"LOGINBTN"), L"登  录");
  EXPECT_EQ(Edit(*wnd, L"IPEDIT").GetPromptText(), L"IP 或者 URL");
  EXPECT_EQ(Edit(*wnd, L"USERNAMEEDIT").GetPromptText(), L"用户名");
  EXPECT_EQ(Edit(*wnd, L"PASSWORDEDIT").GetPromptText(), L"密  码");
  EXPECT_EQ(TextOf(*wnd, L"USERNAMEEDIT"), L"ann");  // typed text stays
  EXPECT_EQ(TextOf(*wnd, L"IPEDIT"), L"");           // a hint is never a value
  EXPECT_EQ(TextOf(*wnd, L"LOGINTITLE"), L"登录 - Orlin");
  EXPECT_EQ(wnd->GetWindowName(), L"登录 - Orlin");
  EXPECT_EQ(TextOf(*wnd, L"LANGUAGEBTN"), L"简体中文");
  EXPECT_EQ(dui::CResourceManager::GetInstance().GetLanguage(), L"zh_cn");
  EXPECT_EQ(controller.Count("SetLanguage"), 1u);
  EXPECT_EQ(controller.settings.language, L"zh_cn");
  controller.onSetLanguage = nullptr;

  // An item the window does not know changes nothing.
  auto* unknown = new dui::MenuCmd{};
  std::wcscpy(unknown->szName, L"LANG_KLINGON");
  wnd->SendMessageW(dui::kWmMenuCommand, reinterpret_cast<std::uintptr_t>(unknown), 0);
  EXPECT_EQ(wnd->Language(), L"zh_cn");
  EXPECT_EQ(controller.Count("SetLanguage"), 1u);
}

TEST_F(LoginWndTest, FieldsStartEmptyWithTheirHintsAndKeepWhatIsTyped) {
  WriteLanguage("zh_cn");
  auto wnd = Open();
  CEditUI& password = Edit(*wnd, L"PASSWORDEDIT");
  for (const wchar_t* name : {L"IPEDIT", L"USERNAMEEDIT", L"PASSWORDEDIT"}) {
    EXPECT_EQ(TextOf(*wnd, name), L"") << WideToUtf8(name);
  }
  EXPECT_EQ(password.GetPromptText(), L"密  码");
  EXPECT_TRUE(password.IsPasswordMode());
  EXPECT_EQ(wnd->GetWindowName(), L"登录 - Orlin");

  Type(*wnd, L"PASSWORDEDIT", L"s3cret");
  wnd->GetPaintManager().SetFocus(nullptr);
  dui::CResourceManager::GetInstance().ReloadText();
  EXPECT_EQ(password.GetText(), L"s3cret");

  // What the fields hold is what the login sends, emptied fields included.
  KeepsDefault(L"ann");
  TypeAll(*wnd, L"nas.example", L"ann", L"s3cret");
  Type(*wnd, L"IPEDIT", L"");
  Attempt(*wnd);
  EXPECT_EQ(presenter.Shown(), std::vector<std::wstring>{L"Orlin|Login_Failed_msg (IP 或者 URL)"});
}

TEST_F(LoginWndTest, TheCloseButtonAsksTheMainWindowToQuitAndEndsWithTwo) {
  // A stand-in main window, found by its class and title.
  std::ofstream(install.path() / "main.xml") << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                                                "<Window size=\"200,100\"><VerticalLayout/></Window>\n";
  struct MainWindow : WindowImplBase {
    std::wstring GetWindowClassName() const override { return kMainWindowClass; }
    std::wstring GetSkinFile() override { return skin; }
    std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t, std::intptr_t, bool& handled) override {
      if (msg == kMsgQuit) ++quits;
      return 0;
    }
    std::wstring skin;
    int quits = 0;
  } main;
  main.skin = Str(install.path() / "main.xml");
  ASSERT_TRUE(main.Create(nullptr, kMainWindowTitle, dui::kWsPopup, 0));

  backend->SetModalHook([](WindowImplBase& w) {
    if (w.GetWindowClassName() == CLoginWnd::kClassName) {
      w.GetHWND()->Dispatch([&w] { dui::ClickControl(w, L"CLOSEBTN"); });
    }
  });
  CLoginWnd wnd(controller, &rules, &presenter);
  ASSERT_TRUE(wnd.Create(nullptr, L"Login - Orlin", CLoginWnd::kStyle, dui::kWsExTopmost, 0, 0));
  EXPECT_EQ(wnd.ShowModal(), 2);
  backend->Pump();
  EXPECT_EQ(main.quits, 1);
  EXPECT_EQ(controller.Count("Login"), 0u);
}

TEST_F(LoginWndTest, DpiComesFromSettingXmlAndChangesAreClampedAndRemembered) {
  controller.settings.dpi = 120;
  auto wnd = Open();
  EXPECT_EQ(wnd->GetPaintManager().GetDPIObj()->GetScale(), 125);
  EXPECT_EQ(wnd->GetPaintManager().GetCaptionRect().bottom, 75);
  wnd->SendMessageW(dui::kWmDpiChanged, (1u << 16) | 250u, 0);
  EXPECT_EQ(wnd->GetPaintManager().GetDPIObj()->GetDPI(), 192);
  EXPECT_EQ(wnd->GetPaintManager().GetCaptionRect().bottom, 120);
  EXPECT_EQ(controller.Count("SetDpi:192"), 1u);
}

// The whole entry as the main window's start-up calls it: userconfig.xml of
// the instance folder decides, message windows show over the login window.
TEST_F(LoginWndTest, RunLoginReadsTheDefaultLocationFromUserconfigAndReturnsOne) {
  std::ofstream(install.path() / "userconfig.xml")
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<users>\n    <user name=\"ann\" path=\""
      << WideToUtf8(Str(folder)) << "\" default=\"true\"/>\n</users>\n";
  controller.loginOutcome.result = 1;
  backend->SetModalHook([](WindowImplBase& w) {
    if (w.GetWindowClassName() != CLoginWnd::kClassName) {
      ADD_FAILURE() << "unexpected window " << WideToUtf8(w.GetWindowClassName());
      w.GetHWND()->Dispatch([&w] { w.Close(2); });
      return;
    }
    EXPECT_EQ(w.GetWindowName(), L"Login - Orlin");
    w.GetHWND()->Dispatch([&w] {
      TypeAll(static_cast<CLoginWnd&>(w), L"nas.example", L"ann", L"secret");
      dui::ClickControl(w, L"LOGINBTN");
    });
  });
  EXPECT_EQ(RunLogin(controller), 1);
  EXPECT_EQ(controller.LastLogin().syncFolder, Str(folder));
  EXPECT_TRUE(controller.LastLogin().makeDefault);
}

}  // namespace
}  // namespace orlin
