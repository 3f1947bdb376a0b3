// The main window against the fake controller on the headless backend: the
// start-up, the message table, busy operations while another thread sends
// messages, log-off and restart, exit, language and DPI.

#include "ui/main/orlin_frame_wnd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <mutex>
#include <thread>

#include "tests/support/fake_controller.h"
#include "tests/support/temp_dir.h"
#include "ui/dui/find_control.h"
#include "ui/dui/headless_backend.h"

namespace orlin {
namespace {

using testing::FakeController;
using namespace std::chrono_literals;

// Generous: CI is a loaded two-core machine.
constexpr auto kDeadline = 120s;

class CallLog {
 public:
  void Add(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  std::vector<std::string> All() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::size_t Count(const std::string& call) const {
    auto all = All();
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), call));
  }
  // Position of the first `call`, or -1.
  int IndexOf(const std::string& call) const {
    auto all = All();
    auto it = std::find(all.begin(), all.end(), call);
    return it == all.end() ? -1 : static_cast<int>(it - all.begin());
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

class FakeLists final : public MainWindowLists {
 public:
  FakeLists(CallLog& log, const std::atomic<bool>& quiet) : log_(log), quiet_(quiet) {}
  void SetController(Controller* c) override { log_.Add(c ? "SetController" : "SetController:null"); }
  bool HandleNotify(const dui::TNotifyUI& msg) override {
    log_.Add("Notify:" + Narrow(msg.sType) + ":" + (msg.pSender ? Narrow(msg.pSender->GetName()) : ""));
    return true;
  }
  void SelectStartTab() override { log_.Add("SelectStartTab"); }
  void HideAll() override { log_.Add("HideAll"); }
  void ShowCurrentTab() override { log_.Add("ShowCurrentTab"); }
  void ToggleLogTab() override { log_.Add("ToggleLogTab"); }
  void LeaveLocalChangesMode() override { log_.Add("LeaveLocalChangesMode"); }
  void OnLanguageChanged() override { log_.Add("OnLanguageChanged"); }
  void OnUnsyncedChanged() override { log_.Add("OnUnsyncedChanged"); }
  void OnFailedCount(std::int64_t n) override { log_.Add("OnFailedCount:" + std::to_string(n)); }
  void OnLocalChangesCount(std::int64_t n) override { log_.Add("OnLocalChangesCount:" + std::to_string(n)); }
  void OnThisDeviceRefresh() override { log_.Add("OnThisDeviceRefresh"); }
  void OnRemoteDevicesRefresh() override { log_.Add("OnRemoteDevicesRefresh"); }
  void OnMouseMove(dui::Point) override {}
  void Refresh(StatusList list) override { log_.Add("Refresh:" + std::to_string(static_cast<int>(list))); }
  void DataPass() override { log_.Add("DataPass"); }
  std::chrono::milliseconds PassInterval() const override { return 10ms; }
  bool FilledOnlyWhenChanged() const override { return quiet_.load(); }
  MainTextCounts Counts() const override { return MainTextCounts{L" (3)", L"", L" (1)"}; }
  std::optional<std::wstring> ButtonText(const std::wstring&, const std::wstring&) const override {
    return std::nullopt;
  }

 private:
  static std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }
  CallLog& log_;
  const std::atomic<bool>& quiet_;
};

class FakeTray final : public MainWindowTray {
 public:
  FakeTray(CallLog& log, bool available) : log_(log), available_(available) {}
  bool CreateIcon() override {
    log_.Add("CreateIcon");
    icon_ = available_;
    return icon_;
  }
  void DeleteIcon() override {
    log_.Add("DeleteIcon");
    icon_ = false;
  }
  bool HasIcon() const override { return icon_; }
  void OnTrayMessage(unsigned m) override { log_.Add("Tray:" + std::to_string(m)); }
  void OpenLanguageMenu() override { log_.Add("OpenLanguageMenu"); }
  void OnMenuCommand(dui::MenuCmd* cmd) override {
    log_.Add(cmd ? "MenuCommand" : "MenuCommand:null");
    dui::CPaintManagerUI::DeletePtr(cmd);
  }

 private:
  CallLog& log_;
  bool available_;
  bool icon_ = false;
};

class FakePresenter final : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring&, const std::wstring& key, bool) override {
    std::lock_guard lock(mutex);
    keys.push_back(key);
    return answer;
  }
  void ShowLoginFailure(const std::wstring&, bool) override {}
  std::mutex mutex;
  std::vector<std::wstring> keys;
  int answer = kModalOk;
};

class FakeProcesses final : public platform::ProcessTable {
 public:
  std::optional<std::vector<platform::ProcessEntry>> Scan() override {
    std::lock_guard lock(mutex);
    return entries;
  }
  std::optional<platform::ProcessId> StartHidden(const std::wstring& commandLine) override {
    std::lock_guard lock(mutex);
    started.push_back(commandLine);
    return startable ? std::optional<platform::ProcessId>(77) : std::nullopt;
  }
  bool Terminate(platform::ProcessId pid, std::uint32_t code) override {
    std::lock_guard lock(mutex);
    terminated.push_back(pid);
    if (!mayEnd) return false;
    entries.erase(std::remove_if(entries.begin(), entries.end(), [pid](auto& e) { return e.pid == pid; }),
                  entries.end());
    EXPECT_EQ(code, 9u);
    return true;
  }
  std::mutex mutex;
  std::vector<platform::ProcessEntry> entries;
  std::vector<platform::ProcessId> terminated;
  std::vector<std::wstring> started;
  bool mayEnd = true;
  bool startable = true;
};

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = std::make_shared<dui::HeadlessBackend>();
    dui::UiBackend::Install(backend);
    dui::CPaintManagerUI::SetResourcePath(ORLIN_SKIN_DIR);
    dui::CPaintManagerUI::SetInstance(dir.path());
    dui::CResourceManager::GetInstance().SetLanguage(L"zh_cn");
    dui::CResourceManager::GetInstance().SetTextQueryInterface(nullptr);
    // The skin must hold every control the window looks up.
    dui::SetMissingControlHandler([](const std::wstring& name) {
      ADD_FAILURE() << "orlin.xml lacks " << std::string(name.begin(), name.end());
    });
  }
  void TearDown() override {
    frame.reset();
    dui::SetMissingControlHandler(nullptr);
    backend->SetModalHook(nullptr);
    dui::UiBackend::Install(nullptr);
  }

  // The controller of each start-up is made here, as the program's factory
  // makes the engine controller.
  FrameServices Services() {
    FrameServices s;
    s.makeController = [this](COrlinFrameWnd&) {
      auto c = std::make_unique<FakeController>();
      c->settings.language = language;
      c->settings.syncFolderPath = L"/home/ann/Orlin";
      c->settings.folderType = folderType;
      c->settings.dpi = 96;
      c->loginNeeded = loginNeeded;
      if (closeGate) c->CloseGate();
      made.fetch_add(1);
      return c;
    };
    s.makeLists = [this](COrlinFrameWnd&) { return std::make_unique<FakeLists>(lists, quietLists); };
    s.makeTray = [this](COrlinFrameWnd&) { return std::make_unique<FakeTray>(tray, trayAvailable); };
    s.runLogin = [this](Controller&) {
      loginThread = std::this_thread::get_id();
      logins.fetch_add(1);
      return loginResult;
    };
    s.presenter = &presenter;
    s.processes = &processes;
    s.installDir = dir.path();
    s.startProgram = [this](const std::filesystem::path& program, const std::vector<std::wstring>& arguments,
                            const std::filesystem::path& workingDirectory) {
      std::wstring line = L"\"" + program.wstring() + L"\"";
      for (const auto& argument : arguments) line += L" " + argument;
      startedIn = workingDirectory;
      return processes.StartHidden(line).has_value();
    };
    s.openFolder = [this](const std::filesystem::path& p) {
      std::lock_guard lock(openedMutex);
      opened.push_back(p.string());
      return true;
    };
    s.openUrl = [this](const std::string& url) {
      std::lock_guard lock(openedMutex);
      opened.push_back(url);
      return true;
    };
    s.quit = [this] { quits.fetch_add(1); };
    return s;
  }

  void Make(FrameServices services) {
    frame = std::make_unique<COrlinFrameWnd>(std::move(services));
    ASSERT_TRUE(frame->Create(nullptr, kMainWindowTitle, dui::kWsPopup, 0));
  }

  // Creates the window and pumps its messages until the main view shows.
  void Start() {
    Make(Services());
    ASSERT_TRUE(PumpUntil([&] { return frame->IsStarted() && frame->IsDataThreadRunning(); },
                          "the start-up to show the main view and start the data thread"));
  }

  // The test thread is the window's UI thread: it pumps while it waits.
  bool PumpUntil(const std::function<bool()>& done, const char* what) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!done()) {
      backend->Pump();
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "gave up waiting for " << what;
        return false;
      }
      std::this_thread::sleep_for(1ms);
    }
    backend->Pump();
    return true;
  }

  FakeController& Fake() { return *static_cast<FakeController*>(frame->GetController()); }
  dui::CControlUI* Control(const wchar_t* name) { return frame->GetPaintManager().FindControl(name); }
  std::wstring TextOf(const wchar_t* name) { return Control(name)->GetText(); }
  void Click(const wchar_t* name) { dui::ClickControl(*frame, name); }

  testsupport::TempDir dir;
  std::filesystem::path startedIn;  // where the updater was started
  std::shared_ptr<dui::HeadlessBackend> backend;
  std::unique_ptr<COrlinFrameWnd> frame;
  CallLog lists, tray;
  // Whether the fake lists say that their current list waits for changes.
  std::atomic<bool> quietLists{false};
  FakePresenter presenter;
  FakeProcesses processes;
  std::mutex openedMutex;
  std::vector<std::string> opened;
  std::wstring language = L"en";
  std::int32_t folderType = kFolderSendReceive;
  bool loginNeeded = false;
  bool closeGate = false;
  bool trayAvailable = true;
  int loginResult = kModalOk;
  std::atomic<int> made{0}, logins{0}, quits{0};
  std::thread::id loginThread;
};

// ------------------------------------------------------------ start-up

TEST_F(FrameTest, StartUpFillsTheStatusAreaResumesOnceAndStartsTheDataThread) {
  Start();
  EXPECT_TRUE(frame->GetHWND()->IsShown());
  EXPECT_EQ(TextOf(L"SYNCMSGSHOWEDLABEL"), L"ann@nas.example:443");
  EXPECT_EQ(TextOf(L"SYNCFOLDERPATHLABEL"), L"/home/ann/Orlin");
  EXPECT_EQ(TextOf(L"EVENTLABEL"), L"Orlin Prestart");
  EXPECT_FALSE(Control(L"SYNCPROGRESS")->IsVisible());
  EXPECT_EQ(TextOf(L"SIZENUMLABEL"), L"0 B");
  EXPECT_EQ(TextOf(L"DOWNLOADRATELABEL"), L"0 B/s (0 B)");
  EXPECT_EQ(TextOf(L"UNSYNCBTN"), L"UnSynced Files (3)");
  EXPECT_EQ(TextOf(L"SYNCBTN"), L"Sync");
  EXPECT_EQ(Control(L"OPENFOLDERBTN")->GetToolTip(), L"Send & Receive");
  EXPECT_EQ(frame->GetExStyle() & dui::kWsExAppWindow, dui::kWsExAppWindow);
  EXPECT_EQ(logins.load(), 0) << "an account is configured: no login window";

  // The first resume of every start-up (2040 with wParam 1): the sync look
  // and the start command, once.
  ASSERT_TRUE(PumpUntil([&] { return Fake().Count("StartSync") == 1; }, "the start command"));
  EXPECT_FALSE(Control(L"SYNCBTN")->IsMouseEnabled());
  EXPECT_TRUE(Control(L"PAUSEBTN")->IsMouseEnabled());
  EXPECT_EQ(Control(L"SYNCBTN")->GetBkColor(), 0xFF4B74B4u);
  EXPECT_EQ(Control(L"PAUSEBTN")->GetBkColor(), 0xFFB0BBC7u);
  EXPECT_EQ(Fake().Count("Start"), 1u);

  // The data thread refreshes the current list and keeps the engine running
  // on every pass.
  ASSERT_TRUE(PumpUntil([&] { return Fake().Count("EnsureEngineRunning") >= 3 && lists.Count("DataPass") >= 3; },
                        "three data thread passes"));
  // The order of the parts' start: the lists get the controller, the start
  // tab is chosen at "windowinit", the start-up hides the lists and shows
  // the start tab's list just before the window shows.
  int set = lists.IndexOf("SetController"), select = lists.IndexOf("SelectStartTab");
  int hide = lists.IndexOf("HideAll"), show = lists.IndexOf("ShowCurrentTab");
  EXPECT_GE(set, 0);
  EXPECT_LT(set, hide);
  EXPECT_LT(select, hide);
  EXPECT_LT(hide, show);
  EXPECT_EQ(lists.Count("Refresh:6"), 1u) << "this device is filled once at start-up";
  EXPECT_EQ(tray.Count("CreateIcon"), 1u);
  EXPECT_EQ(Fake().Count("StartSync"), 1u);
}

TEST_F(FrameTest, StartUpRunsTheLoginOnItsOwnThreadAndEndsTheProgramWhenItIsClosed) {
  loginNeeded = true;
  loginResult = kModalCancel;
  Make(Services());
  ASSERT_TRUE(PumpUntil([&] { return quits.load() == 1 && frame->RunningWorkers() == 0; },
                        "the program to end after the login window was closed"));
  EXPECT_EQ(logins.load(), 1);
  EXPECT_NE(loginThread, std::this_thread::get_id());
  EXPECT_FALSE(frame->IsStarted());
  EXPECT_FALSE(frame->GetHWND()->IsShown());
  EXPECT_EQ(Fake().Count("StartSync"), 0u);
  EXPECT_FALSE(frame->IsDataThreadRunning());
}

TEST_F(FrameTest, ASuccessfulLoginLeadsToTheMainView) {
  loginNeeded = true;
  Start();
  EXPECT_EQ(logins.load(), 1);
  EXPECT_EQ(quits.load(), 0);
  EXPECT_TRUE(frame->GetHWND()->IsShown());
}

TEST_F(FrameTest, HiddenFromTheTaskbarWhenTheSettingsSaySo) {
  FrameServices s = Services();
  auto make = s.makeController;
  s.makeController = [make](COrlinFrameWnd& w) {
    auto c = make(w);
    static_cast<FakeController&>(*c).settings.hideFromTaskbar = true;
    return c;
  };
  Make(std::move(s));
  ASSERT_TRUE(PumpUntil([&] { return frame->IsStarted(); }, "the main view"));
  EXPECT_EQ(frame->GetExStyle() & dui::kWsExToolWindow, dui::kWsExToolWindow);
  EXPECT_EQ(frame->GetExStyle() & dui::kWsExAppWindow, 0u);
}

// ------------------------------------------------------------ messages

TEST_F(FrameTest, PollerMessagesReachTheListsAndTheOverrideButton) {
  Start();
  lists.Clear();
  const std::pair<unsigned, std::string> cases[] = {
      {kMsgRefreshFailedList, "Refresh:4"},     {kMsgRefreshRemoteList, "Refresh:7"},
      {kMsgRefreshThisDeviceList, "Refresh:6"}, {kMsgRefreshUnsyncedList, "Refresh:1"},
      {kMsgRefreshSyncEventsList, "Refresh:0"}, {kMsgRefreshLastSyncedList, "Refresh:5"},
      {kMsgThisDeviceRefresh, "OnThisDeviceRefresh"}, {kMsgRemoteDevicesRefresh, "OnRemoteDevicesRefresh"},
      {kMsgUnsyncedChanged, "OnUnsyncedChanged"},
  };
  for (const auto& [message, call] : cases) {
    frame->SendMessageW(message);
    EXPECT_EQ(lists.Count(call), 1u) << call;
  }
  frame->SendMessageW(kMsgLocalChangesCount, 5);
  frame->SendMessageW(kMsgFailedCount, 3);
  EXPECT_EQ(lists.Count("OnLocalChangesCount:5"), 1u);
  EXPECT_EQ(lists.Count("OnFailedCount:3"), 1u);

  EXPECT_FALSE(Control(L"OVERRIDEBTN")->IsVisible());
  frame->SendMessageW(kMsgOverrideAvailable, 1);
  EXPECT_TRUE(Control(L"OVERRIDEBTN")->IsVisible());
  frame->SendMessageW(kMsgOverrideAvailable, 0);
  EXPECT_FALSE(Control(L"OVERRIDEBTN")->IsVisible());
}

TEST_F(FrameTest, ToolbarLockDisablesTheCommandsAndShowsSuspended) {
  Start();
  frame->SendMessageW(kMsgToolbarLock, 0);
  for (const wchar_t* name : {L"SYNCBTN", L"PAUSEBTN", L"REFRESHBTN", L"PREFERENCESBTN", L"REVERTBTN", L"OVERRIDEBTN"})
    EXPECT_FALSE(Control(name)->IsEnabled());
  EXPECT_FALSE(Control(L"PAUSEBTN")->IsMouseEnabled()) << "the pause look";
  EXPECT_EQ(frame->LastStateKey(), L"Suspended_Event");
  EXPECT_EQ(TextOf(L"EVENTLABEL"), L" Suspended");

  frame->SendMessageW(kMsgToolbarLock, 1);
  for (const wchar_t* name : {L"SYNCBTN", L"PAUSEBTN", L"REFRESHBTN", L"PREFERENCESBTN", L"REVERTBTN", L"OVERRIDEBTN"})
    EXPECT_TRUE(Control(name)->IsEnabled());
  EXPECT_FALSE(Control(L"SYNCBTN")->IsMouseEnabled()) << "the sync look";
  // The looks alone send no command.
  EXPECT_EQ(Fake().Count("Pause"), 0u);
  EXPECT_EQ(Fake().Count("StartSync"), 1u);
}

TEST_F(FrameTest, PauseAndSyncButtonsSwapLooksAndSendTheirCommands) {
  Start();
  ASSERT_TRUE(PumpUntil([&] { return Fake().Count("StartSync") == 1; }, "the first resume"));
  Click(L"PAUSEBTN");
  EXPECT_EQ(Fake().Count("Pause"), 1u);
  EXPECT_FALSE(Control(L"PAUSEBTN")->IsMouseEnabled());
  EXPECT_TRUE(Control(L"SYNCBTN")->IsMouseEnabled());
  EXPECT_FALSE(Control(L"REFRESHBTN")->IsEnabled()) << "no refresh while paused";
  // The button showing the state takes no clicks.
  Click(L"PAUSEBTN");
  EXPECT_EQ(Fake().Count("Pause"), 1u);

  Click(L"SYNCBTN");
  EXPECT_EQ(Fake().Count("StartSync"), 2u);
  EXPECT_TRUE(Control(L"REFRESHBTN")->IsEnabled());
  EXPECT_FALSE(Control(L"SYNCBTN")->IsMouseEnabled());

  // 2041 with wParam 1 pauses too; with 0 only the look changes.
  frame->SendMessageW(kMsgPauseLook, 0);
  EXPECT_EQ(Fake().Count("Pause"), 1u);
  frame->SendMessageW(kMsgPauseLook, 1);
  EXPECT_EQ(Fake().Count("Pause"), 2u);
}

TEST_F(FrameTest, StatusKeyAndProgressFromThePollerThread) {
  Start();
  std::thread poller([&] {
    frame->SetStatusLabel(L"Syncing_Event");
    frame->SetProgress(42);
    frame->SetProgress(150);  // not a percentage: ignored
  });
  poller.join();
  EXPECT_TRUE(Control(L"SYNCPROGRESS")->IsVisible());
  auto* progress = static_cast<dui::CProgressUI*>(Control(L"SYNCPROGRESS"));
  EXPECT_EQ(progress->GetValue(), 42);
  EXPECT_EQ(progress->GetText(), L"42%");
  EXPECT_EQ(TextOf(L"EVENTLABEL"), L"Syncing... ");
  frame->SetStatusLabel(L"Error_Event");
  EXPECT_FALSE(Control(L"SYNCPROGRESS")->IsVisible());
  EXPECT_EQ(TextOf(L"EVENTLABEL"), L"Stopped");
  EXPECT_EQ(frame->LastStateKey(), L"Error_Event");
}

TEST_F(FrameTest, TotalsAndRatesComeFromTheControllersSummary) {
  Start();
  Fake().model.UpdateSummary([](SystemSummary& s) {
    s.fileCountText = L"12";
    s.folderCountText = L"3";
    s.sizeText = L"1.5 MB";
    s.uploadText = L"2 KB/s (10 MB)";
    s.downloadText = L"1 KB/s (5 MB)";
  });
  frame->SendMessageW(kMsgTotalsChanged);
  EXPECT_EQ(TextOf(L"FILESTOTALLABEL"), L"12");
  EXPECT_EQ(TextOf(L"FOLDERSTOTALLABEL"), L"3");
  EXPECT_EQ(TextOf(L"SIZENUMLABEL"), L"1.5 MB");
  EXPECT_EQ(TextOf(L"UPLOADRATELABEL"), L"0 B/s (0 B)") << "rates wait for their own message";
  frame->SendMessageW(kMsgRatesChanged);
  EXPECT_EQ(TextOf(L"UPLOADRATELABEL"), L"2 KB/s (10 MB)");
  EXPECT_EQ(TextOf(L"DOWNLOADRATELABEL"), L"1 KB/s (5 MB)");
}

TEST_F(FrameTest, PathInUseAnswersForTheGivenPathOrTheSyncFolder) {
  Start();
  Fake().pathInUse = true;
  std::wstring path = L"/home/bob/Orlin";
  EXPECT_EQ(frame->SendMessageW(kMsgPathInUse, reinterpret_cast<std::uintptr_t>(path.c_str())), 1);
  EXPECT_EQ(frame->SendMessageW(kMsgPathInUse, 0), 1);
  Fake().pathInUse = false;
  EXPECT_EQ(frame->SendMessageW(kMsgPathInUse, 0), 0);
  EXPECT_EQ(Fake().Count("PathInUse"), 3u);
}

TEST_F(FrameTest, ClicksAndTrayMessagesGoToTheirParts) {
  Start();
  frame->SendMessageW(dui::kWmTrayCallback, 0, dui::kWmRButtonUp);
  EXPECT_EQ(tray.Count("Tray:517"), 1u);
  frame->SendMessageW(dui::kWmMenuCommand, reinterpret_cast<std::uintptr_t>(new dui::MenuCmd{}));
  frame->SendMessageW(dui::kWmMenuCommand, 0);
  EXPECT_EQ(tray.Count("MenuCommand"), 1u);
  EXPECT_EQ(tray.Count("MenuCommand:null"), 1u);
  Click(L"LANGUAGEBTN");
  EXPECT_EQ(tray.Count("OpenLanguageMenu"), 1u);

  Click(L"CONFLICTBTN");
  EXPECT_EQ(lists.Count("Notify:click:CONFLICTBTN"), 1u);
  dui::TNotifyUI dbl{dui::kEventItemDbClick, Control(L"CONFLICTLIST")};
  frame->Notify(dbl);
  EXPECT_EQ(lists.Count("Notify:itemdbclick:CONFLICTLIST"), 1u);

  Click(L"OPENFOLDERBTN");
  frame->OpenWeb();
  std::lock_guard lock(openedMutex);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], "/home/ann/Orlin");
  EXPECT_EQ(opened[1], "https://www.tarn.example/");
}

TEST_F(FrameTest, TheControllerHearsWhetherTheWindowShowsSoItCanPollSlowlyInTheTray) {
  Start();
  // Made hidden, then shown by the start-up.
  ASSERT_TRUE(PumpUntil([&] { return !Fake().Visibility().empty() && Fake().Visibility().back(); }, "the show"));
  EXPECT_FALSE(Fake().Visibility().front());
  // Clicks arrive as mouse messages; the window may handle them on its
  // next pump.
  auto now = [&](bool shown) { return [&, shown] { return Fake().Visibility().back() == shown; }; };
  Click(L"CLOSEBTN");
  EXPECT_TRUE(PumpUntil(now(false), "the tray"));
  frame->ShowMain();
  EXPECT_TRUE(PumpUntil(now(true), "tray click or Open Panel"));
  Click(L"MINBTN");
  EXPECT_TRUE(PumpUntil(now(false), "minimised"));
  frame->ShowMain();
  EXPECT_TRUE(PumpUntil(now(true), "shown again"));
  frame->SendMessageW(dui::kWmClose);
  EXPECT_TRUE(PumpUntil(now(false), "the window manager's close to go to the tray"));
}

TEST_F(FrameTest, InTheTrayTheDataThreadComesByOnceASecond) {
  Start();
  ASSERT_TRUE(PumpUntil([&] { return Fake().Count("EnsureEngineRunning") >= 3; }, "the data thread's passes"));
  Click(L"CLOSEBTN");
  ASSERT_TRUE(PumpUntil([&] { return !Fake().Visibility().empty() && !Fake().Visibility().back(); }, "the tray"));
  // The pass the hide woke is over after this; then at most one more in
  // 0.6 s (shown, the thread comes by every 100 ms).
  std::this_thread::sleep_for(200ms);
  const std::size_t before = Fake().Count("EnsureEngineRunning");
  std::this_thread::sleep_for(600ms);
  EXPECT_LE(Fake().Count("EnsureEngineRunning") - before, 1u);
  frame->ShowMain();
  const std::size_t hidden = Fake().Count("EnsureEngineRunning");
  EXPECT_TRUE(PumpUntil([&] { return Fake().Count("EnsureEngineRunning") >= hidden + 3; }, "the full pace again"));
}

// On screen, a list filled only when the model marks it changed needs no
// look while nothing changes: the pass waits for the model's bell (or a
// second, for the engine check) instead of coming by every interval.
TEST_F(FrameTest, OnScreenAQuietListIsLookedAtWhenTheModelRingsNotEveryInterval) {
  quietLists = true;
  Start();
  ASSERT_TRUE(PumpUntil([&] { return !Fake().Visibility().empty() && Fake().Visibility().back(); }, "the show"));
  ASSERT_TRUE(PumpUntil([&] { return lists.Count("DataPass") >= 2; }, "the data thread's first passes"));
  // Settled: at most the fallback's pass in 0.6 s (a 10 ms interval would
  // make about sixty).
  std::this_thread::sleep_for(200ms);
  std::size_t before = lists.Count("DataPass");
  std::this_thread::sleep_for(600ms);
  EXPECT_LE(lists.Count("DataPass") - before, 1u);

  // Each change brings a pass, as the interval allows.
  before = lists.Count("DataPass");
  for (int i = 0; i < 30; ++i) {
    Fake().model.syncEvents.MarkChanged();
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_GE(lists.Count("DataPass") - before, 5u) << "the bell did not wake the data thread";

  // So does a lost engine: the engine check is wanted at once.
  before = Fake().Count("EnsureEngineRunning");
  for (int i = 0; i < 30; ++i) {
    Fake().model.changeBell.Ring();
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_GE(Fake().Count("EnsureEngineRunning") - before, 5u);

  // A list with live figures (this device's) is looked at every interval.
  quietLists = false;
  Fake().model.changeBell.Ring();
  std::this_thread::sleep_for(100ms);
  before = lists.Count("DataPass");
  std::this_thread::sleep_for(600ms);
  EXPECT_GE(lists.Count("DataPass") - before, 5u) << "passes at the list's interval";
}

TEST_F(FrameTest, UpdaterStartsBesideTheProgramOrSaysItCouldNot) {
  Start();
  frame->Update();
  {
    std::lock_guard lock(processes.mutex);
    ASSERT_EQ(processes.started.size(), 1u);
    EXPECT_NE(processes.started[0].find(L"AutoUpdater.exe\" updateApp"), std::wstring::npos);
  }
  EXPECT_EQ(startedIn, dir.path()) << "the updater runs in the install directory";
  EXPECT_TRUE(presenter.keys.empty());
  processes.startable = false;
  frame->Update();
  ASSERT_EQ(presenter.keys.size(), 1u);
  EXPECT_EQ(presenter.keys[0], L"UpdateApp_Error_Msg");
}

TEST_F(FrameTest, CtrlShiftLOrGTogglesTheLogTab) {
  Start();
  const auto both = dui::kKeyModControl | dui::kKeyModShift;
  frame->SendMessageW(dui::kWmKeyDown, kVkL, both);
  frame->SendMessageW(dui::kWmKeyDown, kVkL, both);
  EXPECT_EQ(lists.Count("ToggleLogTab"), 2u);
  frame->SendMessageW(dui::kWmKeyDown, kVkL, dui::kKeyModControl);
  frame->SendMessageW(dui::kWmKeyDown, kVkL, dui::kKeyModShift);
  frame->SendMessageW(dui::kWmKeyDown, 0x4B /* K */, both);
  EXPECT_EQ(lists.Count("ToggleLogTab"), 2u);
  frame->SendMessageW(dui::kWmKeyDown, kVkG, both | dui::kKeyModAlt);
  EXPECT_EQ(lists.Count("ToggleLogTab"), 3u);
}

// ------------------------------------------------------------ busy operations

// While the controller holds the operation, a second thread sends the
// window messages as the poller does: each send must be answered (the UI
// thread is not waiting for the worker) and its effect visible, while the
// busy look stays until the worker ends.
class BusyTest : public FrameTest {
 protected:
  void SendWhileBusy() {
    Fake().model.UpdateSummary([](SystemSummary& s) { s.fileCountText = L"99"; });
    auto answered = std::async(std::launch::async, [&] {
      frame->SendMessageW(kMsgTotalsChanged);
      return frame->SendMessageW(kMsgPathInUse, 0);
    });
    ASSERT_TRUE(PumpUntil([&] { return answered.wait_for(0ms) == std::future_status::ready; },
                          "the messages sent during the operation to be answered"));
    EXPECT_EQ(answered.get(), 0);
    EXPECT_EQ(TextOf(L"FILESTOTALLABEL"), L"99");
  }
};

TEST_F(BusyTest, OverrideKeepsTheWindowWorkingAndRestoresTheButtons) {
  Start();
  frame->SendMessageW(kMsgOverrideAvailable, 1);
  const dui::Color before = Control(L"OVERRIDEBTN")->GetBkColor();
  Fake().CloseGate();
  Click(L"OVERRIDEBTN");
  ASSERT_TRUE(PumpUntil([&] { return Fake().Count("Override") == 1; }, "the override to start"));
  EXPECT_TRUE(frame->IsBusy());
  EXPECT_FALSE(Control(L"OVERRIDEBTN")->IsEnabled());
  EXPECT_EQ(Control(L"OVERRIDEBTN")->GetBkColor(), 0xFF4B74B4u);
  for (const wchar_t* name : {L"SYNCBTN", L"PAUSEBTN", L"REFRESHBTN", L"PREFERENCESBTN"})
    EXPECT_FALSE(Control(name)->IsEnabled()) << std::string(name, name + wcslen(name));
  SendWhileBusy();
  // A second click while it runs starts nothing.
  dui::TNotifyUI again{dui::kEventClick, Control(L"OVERRIDEBTN")};
  frame->Notify(again);
  EXPECT_TRUE(frame->IsBusy());

  Fake().OpenGate();
  ASSERT_TRUE(PumpUntil([&] { return !frame->IsBusy(); }, "the override to end"));
  EXPECT_EQ(Fake().Count("Override"), 1u);
  EXPECT_EQ(Control(L"OVERRIDEBTN")->GetBkColor(), before);
  for (const wchar_t* name : {L"OVERRIDEBTN", L"SYNCBTN", L"PAUSEBTN", L"REFRESHBTN", L"PREFERENCESBTN"})
    EXPECT_TRUE(Control(name)->IsEnabled());
}

TEST_F(BusyTest, RevertHidesItsButtonAndLeavesTheLocalChangesAfterwards) {
  Start();
  Control(L"REVERTBTN")->SetVisible(true);  // as a local changes count shows it
  Fake().CloseGate();
  Click(L"REVERTBTN");
  ASSERT_TRUE(PumpUntil([&] { return Fake().Count("Revert") == 1; }, "the revert to start"));
  EXPECT_FALSE(frame->IsBusy()) << "a revert leaves the tray menu whole";
  EXPECT_FALSE(Control(L"REVERTBTN")->IsEnabled());
  EXPECT_FALSE(Control(L"SYNCBTN")->IsEnabled());
  SendWhileBusy();
  EXPECT_EQ(lists.Count("LeaveLocalChangesMode"), 0u);

  Fake().OpenGate();
  ASSERT_TRUE(PumpUntil([&] { return lists.Count("LeaveLocalChangesMode") == 1; }, "the revert to end"));
  EXPECT_FALSE(Control(L"REVERTBTN")->IsVisible());
  EXPECT_TRUE(Control(L"REVERTBTN")->IsEnabled());
  EXPECT_TRUE(Control(L"SYNCBTN")->IsEnabled());
}

TEST_F(BusyTest, RefreshStaysBusyUntilThePollerReportsItDone) {
  Start();
  ASSERT_TRUE(PumpUntil([&] { return Fake().Count("StartSync") == 1; }, "the first resume"));
  Fake().CloseGate();
  Click(L"REFRESHBTN");
  ASSERT_TRUE(PumpUntil([&] { return Fake().Count("Refresh") == 1; }, "the refresh to start"));
  EXPECT_TRUE(frame->IsBusy());
  EXPECT_EQ(lists.Count("HideAll"), 2u) << "start-up and refresh hide the lists";
  EXPECT_EQ(Control(L"REFRESHBTN")->GetBkColor(), 0xFF4B74B4u);
  SendWhileBusy();
  Fake().OpenGate();
  ASSERT_TRUE(PumpUntil([&] { return frame->RunningWorkers() == 0; }, "the refresh worker to end"));
  EXPECT_TRUE(frame->IsBusy());
  EXPECT_FALSE(Control(L"REFRESHBTN")->IsEnabled());

  // The poller's refresh-done, sent from its thread.
  std::thread poller([&] { frame->SendMessageW(kMsgRefreshDone); });
  ASSERT_TRUE(PumpUntil([&] { return !frame->IsBusy(); }, "refresh done"));
  poller.join();
  EXPECT_TRUE(Control(L"REFRESHBTN")->IsEnabled());
  EXPECT_EQ(Control(L"REFRESHBTN")->GetBkColor(), 0xFFB0BBC7u);
  EXPECT_FALSE(Control(L"SYNCBTN")->IsMouseEnabled());
  EXPECT_TRUE(Control(L"PAUSEBTN")->IsMouseEnabled());
  EXPECT_TRUE(Control(L"PREFERENCESBTN")->IsEnabled());
  EXPECT_EQ(lists.Count("ShowCurrentTab"), 2u);
}

// ------------------------------------------------------------ log-off and exit

TEST_F(FrameTest, LogOffStopsTheDataThreadThenRestartsTheStartUpWithANewController) {
  Start();
  Controller* first = frame->GetController();
  Fake().CloseGate();
  frame->LogOff();
  ASSERT_EQ(presenter.keys.size(), 1u);
  EXPECT_EQ(presenter.keys[0], L"Cloud_LogOff_Msg");
  ASSERT_TRUE(PumpUntil([&] { return Fake().Count("LogOff") == 1; }, "the log-off to reach the controller"));
  EXPECT_FALSE(frame->IsDataThreadRunning());
  const auto engineChecks = Fake().Count("EnsureEngineRunning");

  // The controller sends the logged-off message while its log-off runs; the
  // window answers at once and restarts only after the log-off returned.
  auto sent = std::async(std::launch::async, [&] { frame->SendMessageW(kMsgLoggedOff); });
  ASSERT_TRUE(PumpUntil([&] { return sent.wait_for(0ms) == std::future_status::ready; },
                        "the logged-off message to be answered"));
  backend->Pump();
  EXPECT_EQ(tray.Count("DeleteIcon"), 0u);
  EXPECT_EQ(made.load(), 1);
  EXPECT_EQ(frame->GetController(), first);
  EXPECT_EQ(Fake().Count("EnsureEngineRunning"), engineChecks) << "no engine check during the log-off";

  loginNeeded = true;
  Fake().OpenGate();
  ASSERT_TRUE(PumpUntil([&] { return made.load() == 2 && frame->IsStarted() && frame->IsDataThreadRunning(); },
                        "the new start-up"));
  EXPECT_NE(frame->GetController(), nullptr);
  EXPECT_EQ(logins.load(), 1) << "the new start-up asks for a login";
  EXPECT_EQ(tray.Count("DeleteIcon"), 1u);
  EXPECT_EQ(tray.Count("CreateIcon"), 2u);
  EXPECT_EQ(lists.Count("SetController:null"), 1u);
  ASSERT_TRUE(PumpUntil([&] { return Fake().Count("StartSync") == 1; }, "the new controller's first resume"));
}

TEST_F(FrameTest, LogOffThatIsNotConfirmedChangesNothing) {
  Start();
  presenter.answer = kModalCancel;
  frame->LogOff();
  backend->Pump();
  EXPECT_EQ(Fake().Count("LogOff"), 0u);
  EXPECT_TRUE(frame->IsDataThreadRunning());
}

TEST_F(FrameTest, FailedLogOffWithoutRestartKeepsTheDataThreadGoing) {
  Start();
  Fake().logOffResult = false;
  frame->LogOff();
  ASSERT_TRUE(PumpUntil([&] { return Fake().Count("LogOff") == 1 && frame->RunningWorkers() == 0; },
                        "the log-off to end"));
  EXPECT_TRUE(frame->IsDataThreadRunning());
  EXPECT_EQ(made.load(), 1);
}

TEST_F(FrameTest, ExitStopsTheDataThreadFirstThenSyncEnginesAndWatchdogsAndEndsTheLoop) {
  processes.entries = {{11, L"Monitoring"}, {12, L"sync.exe"}, {13, L"MONITORING.EXE"}, {14, L"monitor"}};
  Start();
  Fake().CloseGate();  // holds StopSync
  frame->SendMessageW(kMsgQuit);
  ASSERT_TRUE(PumpUntil([&] { return Fake().Count("StopSync") == 1; }, "the exit to reach the controller"));
  EXPECT_FALSE(frame->IsDataThreadRunning());
  const auto checks = Fake().Count("EnsureEngineRunning");
  auto answered = std::async(std::launch::async, [&] { return frame->SendMessageW(kMsgPathInUse, 0); });
  ASSERT_TRUE(PumpUntil([&] { return answered.wait_for(0ms) == std::future_status::ready; },
                        "a message sent during the exit"));
  EXPECT_EQ(quits.load(), 0);
  // A second exit request while the first runs does nothing more.
  frame->SendMessageW(kMsgQuit);

  Fake().OpenGate();
  ASSERT_TRUE(PumpUntil([&] { return quits.load() >= 1 && !frame->IsWindow(); }, "the exit to end the loop"));
  auto calls = Fake().Calls();
  auto at = [&](const std::string& c) { return std::find(calls.begin(), calls.end(), c) - calls.begin(); };
  EXPECT_LT(at("StopSync"), at("StopEngines"));
  EXPECT_EQ(Fake().Count("StopSync"), 1u);
  EXPECT_EQ(Fake().Count("EnsureEngineRunning"), checks) << "no engine check after the data thread stopped";
  std::lock_guard lock(processes.mutex);
  EXPECT_EQ(processes.terminated, (std::vector<platform::ProcessId>{11, 13}));
  EXPECT_GE(tray.Count("DeleteIcon"), 1u);
}

TEST_F(FrameTest, ExitIsNotHeldUpByAWatchdogThatMayNotBeEnded) {
  processes.entries = {{21, L"Monitoring"}};
  processes.mayEnd = false;
  Start();
  frame->Exit();
  ASSERT_TRUE(PumpUntil([&] { return quits.load() >= 1; }, "the exit"));
  std::lock_guard lock(processes.mutex);
  EXPECT_GT(processes.terminated.size(), 1u);
  EXPECT_LE(processes.terminated.size(), 10u);
}

TEST_F(FrameTest, CloseButtonHidesToTheTrayOrMinimisesWithoutOne) {
  Start();
  Click(L"CLOSEBTN");
  EXPECT_FALSE(frame->GetHWND()->IsShown());
  EXPECT_FALSE(Fake().Count("StopSync"));
  frame->ShowMain();
  EXPECT_TRUE(frame->GetHWND()->IsShown());
}

TEST_F(FrameTest, WithoutANotificationAreaTheWindowIsNeverHidden) {
  trayAvailable = false;
  Start();
  Click(L"CLOSEBTN");
  EXPECT_TRUE(frame->GetHWND()->IsShown());
  EXPECT_TRUE(frame->IsIconic());
  // The window manager's close then ends the program.
  frame->SendMessageW(dui::kWmClose);
  ASSERT_TRUE(PumpUntil([&] { return quits.load() >= 1; }, "the exit after a close without tray"));
}

// ------------------------------------------------------------ language, DPI

TEST_F(FrameTest, LanguageSwitchChangesEveryTextAtRunTime) {
  Start();
  EXPECT_EQ(TextOf(L"REFRESHBTN"), L"Refresh");
  EXPECT_EQ(TextOf(L"SYNCEVENTSBTN"), L"Sync Events");
  frame->SendMessageW(kMsgLanguageChanged, 1);
  EXPECT_EQ(frame->Language(), L"zh_cn");
  EXPECT_EQ(TextOf(L"REFRESHBTN"), L"刷新");
  EXPECT_EQ(TextOf(L"SYNCEVENTSBTN"), L"同步事件");
  EXPECT_EQ(TextOf(L"UNSYNCBTN"), L"未同步文件 (3)");
  EXPECT_EQ(TextOf(L"EVENTLABEL"), L"Orlin 准备启动");
  EXPECT_EQ(Control(L"OPENFOLDERBTN")->GetToolTip(), L"发送和接收");
  EXPECT_EQ(lists.Count("OnLanguageChanged"), 1u);
  frame->SendMessageW(kMsgLanguageChanged, 0);
  EXPECT_EQ(frame->Language(), L"en");
  EXPECT_EQ(TextOf(L"REFRESHBTN"), L"Refresh");
  EXPECT_EQ(TextOf(L"EVENTLABEL"), L"Orlin Prestart");
  EXPECT_EQ(lists.Count("OnLanguageChanged"), 2u);

  // A dialog that took over the texts hands them back with 2027.
  dui::CResourceManager::GetInstance().SetTextQueryInterface(nullptr);
  frame->SendMessageW(kMsgDialogClosed);
  EXPECT_EQ(dui::CResourceManager::GetInstance().GetTextQueryInterface(), frame.get());
}

TEST_F(FrameTest, DpiChangeTo240AppliesAndStores192) {
  Start();
  const dui::Rect caption = frame->GetPaintManager().GetCaptionRect();
  frame->SendMessageW(dui::kWmDpiChanged, 240 | (240 << 16));
  EXPECT_EQ(frame->GetPaintManager().GetDPIObj()->GetDPI(), 192);
  EXPECT_EQ(frame->GetDpi(), 192);
  EXPECT_EQ(frame->SettingsCopy().dpi, 192);
  EXPECT_EQ(Fake().Count("SetDpi:192"), 1u);
  EXPECT_EQ(frame->GetPaintManager().GetCaptionRect().bottom, caption.bottom * 2);
  const dui::Rect size = frame->GetHWND()->GetRect();
  backend->Pump();  // the relayout nudge posted by the change
  EXPECT_EQ(frame->GetHWND()->GetRect(), size);

  frame->SendMessageW(kMsgDpi, 144, 0);
  EXPECT_EQ(frame->GetPaintManager().GetDPIObj()->GetDPI(), 144);
  EXPECT_EQ(frame->GetPaintManager().GetCaptionRect().bottom, caption.bottom * 150 / 100)
      << "scaled from the skin's band, not from the last one";
}

TEST_F(FrameTest, FolderTypeLookAfterTheSettingsWindow) {
  FrameServices s = Services();
  s.runSettings = [](Controller&, SyncSettings& settings, int origin) {
    EXPECT_EQ(origin, 1);
    settings.folderType = kFolderSendOnly;
    return kModalOk;
  };
  Make(std::move(s));
  ASSERT_TRUE(PumpUntil([&] { return frame->IsStarted(); }, "the main view"));
  Control(L"REVERTBTN")->SetVisible(true);
  Control(L"OVERRIDEBTN")->SetVisible(true);
  Click(L"PREFERENCESBTN");
  backend->Pump();  // the click asks for the window; it opens right after
  EXPECT_EQ(Fake().Count("ReloadSettings"), 1u);
  EXPECT_EQ(Control(L"OPENFOLDERBTN")->GetToolTip(), L"Send Only");
  EXPECT_FALSE(Control(L"REVERTBTN")->IsVisible());
  EXPECT_TRUE(Control(L"OVERRIDEBTN")->IsVisible());
}

}  // namespace
}  // namespace orlin
