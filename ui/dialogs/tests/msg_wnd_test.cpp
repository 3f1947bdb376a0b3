// The message window on the headless backend, with the shipped msg.xml.

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "common/text.h"
#include "tests/support/temp_dir.h"
#include "ui/dialogs/msg_wnd.h"
#include "ui/dialogs/window_message_presenter.h"
#include "ui/dui/find_control.h"
#include "ui/dui/headless_backend.h"

namespace orlin {
namespace {

using dui::CControlUI;
using dui::HeadlessBackend;
using dui::WindowImplBase;

std::filesystem::path SkinDir() {
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().parent_path() / "skins";
}

class FakeHost : public MsgWndHost {
 public:
  int GetDpi() const override { return dpi; }
  void SetDpi(int value, int notify) override {
    dpi = value;
    calls.emplace_back(value, notify);
  }
  int dpi = 96;
  std::vector<std::pair<int, int>> calls;
};

// What a modal message window showed, captured from inside its loop.
struct Shown {
  std::wstring title, text, ok, cancel;
  bool cancelVisible = false;
  int dpiScale = 0;
  dui::Rect caption;
};

class MsgWndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = std::make_shared<HeadlessBackend>();
    dui::UiBackend::Install(backend);
    dui::CPaintManagerUI::SetInstance(install.path());
    dui::CPaintManagerUI::SetResourcePath(SkinDir());
    dui::SetMissingControlHandler([](const std::wstring& name) { ADD_FAILURE() << "msg.xml lacks " << WideToUtf8(name); });
    SetLanguage("en");
  }
  void TearDown() override {
    backend->SetModalHook(nullptr);
    dui::SetMissingControlHandler(nullptr);
    dui::UiBackend::Install(nullptr);
  }
  void SetLanguage(const std::string& lang) {
    std::ofstream(install.path() / "lang.xml") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Orlin>\n    <lang>" << lang
                                               << "</lang>\n</Orlin>\n";
  }
  // Records the window, then ends it by clicking `button` (from the loop).
  void ClickWhenShown(const std::wstring& button) {
    backend->SetModalHook([this, button](WindowImplBase& w) {
      auto& pm = w.GetPaintManager();
      std::lock_guard lock(mutex);
      shown.title = pm.FindControl(L"MESSAGETITLE")->GetText();
      shown.text = pm.FindControl(L"MessageText")->GetText();
      shown.ok = pm.FindControl(L"OKBTN")->GetText();
      shown.cancel = pm.FindControl(L"CANCELBTN")->GetText();
      shown.cancelVisible = pm.FindControl(L"CANCELBTN")->IsVisible();
      shown.dpiScale = pm.GetDPIObj()->GetScale();
      shown.caption = pm.GetCaptionRect();
      if (onShown) onShown(w);
      if (!button.empty()) w.GetHWND()->Dispatch([&w, button] { dui::ClickControl(w, button); });
    });
  }

  testsupport::TempDir install;
  std::shared_ptr<HeadlessBackend> backend;
  FakeHost host;
  std::mutex mutex;
  Shown shown;
  std::function<void(WindowImplBase&)> onShown;
};

TEST_F(MsgWndTest, OkReturnsOneCancelAndCloseReturnTwo) {
  ClickWhenShown(L"OKBTN");
  EXPECT_EQ(ShowMessageWindow(&host, nullptr, L"Orlin", L"Cloud_LogOff_Msg", 1), 1);
  EXPECT_TRUE(shown.cancelVisible);
  EXPECT_EQ(shown.text, L"Are you sure you want to unlink the account?");
  ClickWhenShown(L"CANCELBTN");
  EXPECT_EQ(ShowMessageWindow(&host, nullptr, L"Orlin", L"Cloud_LogOff_Msg", 1), 2);
  // Without Cancel the close button still says no.
  ClickWhenShown(L"CLOSEBTN");
  EXPECT_EQ(ShowMessageWindow(&host, nullptr, L"Orlin", L"Cloud_LogOff_Msg", 0), 2);
  EXPECT_FALSE(shown.cancelVisible);
  // Only the low byte of the flag counts.
  ClickWhenShown(L"OKBTN");
  ShowMessageWindow(&host, nullptr, L"Orlin", L"Cloud_LogOff_Msg", 0x100);
  EXPECT_FALSE(shown.cancelVisible);
  // Hidden Cancel cannot be clicked.
  ClickWhenShown(L"");
  onShown = [](WindowImplBase& w) {
    w.GetHWND()->Dispatch([&w] {
      dui::ClickControl(w, L"CANCELBTN");
      dui::ClickControl(w, L"OKBTN");
    });
  };
  EXPECT_EQ(ShowMessageWindow(&host, nullptr, L"Orlin", L"Cloud_LogOff_Msg", 0), 1);
}

TEST_F(MsgWndTest, TextsFollowTheKeyTheTitleAndTheLanguageOfLangXml) {
  ClickWhenShown(L"OKBTN");
  ShowMessageWindow(&host, nullptr, L"Orlin Override", L"versioning_failed_MSG", 0);
  EXPECT_EQ(shown.title, L"Orlin");
  EXPECT_EQ(shown.text, L"\tServer file version setup failed");
  EXPECT_EQ(shown.ok, L"OK");
  EXPECT_EQ(shown.cancel, L"Cancel");

  ShowMessageWindow(&host, nullptr, L"Orlin", L"No_Such_Key", 0);
  EXPECT_EQ(shown.text, L"No_Such_Key");

  // Empty key and title: the skin's texts stay.
  ShowMessageWindow(&host, nullptr, L"", L"", 0);
  EXPECT_EQ(shown.title, L"Orlin");
  EXPECT_EQ(shown.text, L"");

  SetLanguage("zh_cn");
  ShowMessageWindow(&host, nullptr, L"Orlin", L"Sync_NoRunning_Msg", 1);
  EXPECT_EQ(shown.text, L"不能运行 Orlin 同步服务  \n 请重新安装Orlin ");
  EXPECT_EQ(shown.ok, L"确  定");
  EXPECT_EQ(shown.cancel, L"取  消");

  // An unreadable lang.xml means Chinese.
  std::filesystem::remove(install.path() / "lang.xml");
  ShowMessageWindow(&host, nullptr, L"Orlin", L"Invalid_directory_Msg", 0);
  EXPECT_EQ(shown.text, L"无效的目录");
}

TEST_F(MsgWndTest, LoginFailureAppendsTheDetailDirectly) {
  ClickWhenShown(L"OKBTN");
  ShowLoginFailureWindow(&host, nullptr, L"Couldn't resolve host name", 0);
  EXPECT_EQ(shown.text, L"Login Failed!Couldn't resolve host name");
  EXPECT_EQ(shown.title, L"Orlin");
  ShowLoginFailureWindow(&host, nullptr, L"", 0);
  EXPECT_EQ(shown.text, L"Login Failed!");
  SetLanguage("zh_cn");
  ShowLoginFailureWindow(&host, nullptr, L"", 0);
  EXPECT_EQ(shown.text, L"登录失败 ");
}

TEST_F(MsgWndTest, DpiComesFromTheHostAndChangesAreClampedAndPassedOn) {
  host.dpi = 144;
  ClickWhenShown(L"OKBTN");
  ShowMessageWindow(&host, nullptr, L"Orlin", L"Cloud_Running_Msg", 0);
  EXPECT_EQ(shown.dpiScale, 150);
  EXPECT_EQ(shown.caption.bottom, 45);

  // WM_DPICHANGED with 240 in the low word: applied as 192.
  onShown = [](WindowImplBase& w) { w.PostMessageW(dui::kWmDpiChanged, (7u << 16) | 240u, 0); };
  ClickWhenShown(L"");
  int scaleAfter = 0;
  dui::Rect captionAfter;
  auto previous = onShown;
  onShown = [&](WindowImplBase& w) {
    previous(w);
    w.GetHWND()->Dispatch([&] {
      scaleAfter = w.GetPaintManager().GetDPIObj()->GetScale();
      captionAfter = w.GetPaintManager().GetCaptionRect();
      dui::ClickControl(w, L"OKBTN");
    });
  };
  EXPECT_EQ(ShowMessageWindow(&host, nullptr, L"Orlin", L"Cloud_Running_Msg", 0), 1);
  EXPECT_EQ(scaleAfter, 200);
  EXPECT_EQ(captionAfter.bottom, 60);
  ASSERT_EQ(host.calls.size(), 1u);
  EXPECT_EQ(host.calls[0], (std::pair<int, int>{192, 0}));
}

TEST_F(MsgWndTest, PresenterRunsWindowsOnSeveralThreadsAtOnce) {
  ClickWhenShown(L"");
  onShown = [](WindowImplBase& w) {
    // Each loop answers for itself: OK when Cancel is offered, else close.
    bool cancel = w.GetPaintManager().FindControl(L"CANCELBTN")->IsVisible();
    w.GetHWND()->Dispatch([&w, cancel] { dui::ClickControl(w, cancel ? L"OKBTN" : L"CLOSEBTN"); });
  };
  WindowMessagePresenter presenter(&host, nullptr);
  std::vector<int> results(6, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < 6; ++i) {
    threads.emplace_back([&, i] { results[i] = presenter.ShowMessage(L"Orlin", L"Path_Used_Msg", i % 2 == 0); });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < 6; ++i) EXPECT_EQ(results[i], i % 2 == 0 ? kModalOk : kModalCancel) << i;
  presenter.ShowLoginFailure(L"timeout", false);
  EXPECT_EQ(shown.text, L"Login Failed!timeout");
}

TEST_F(MsgWndTest, MissingSkinEndsAsCancelWithoutAWindow) {
  dui::CPaintManagerUI::SetResourcePath(install.path());
  EXPECT_EQ(ShowMessageWindow(&host, nullptr, L"Orlin", L"Cloud_Running_Msg", 1), 2);
}

}  // namespace
}  // namespace orlin
