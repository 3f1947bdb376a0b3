// The status lists in the real main window: COrlinFrameWnd on the Qt
// backend (offscreen) with its real lists and tray parts over a fake
// controller whose model holds full lists.
//
//   orlin-bench-main [benchmark flags]      prints the figures
//   orlin-bench-main --shots DIR            writes a screenshot of every
//                                           list and of both menus, in
//                                           English and in Chinese
//
// Figures: a refill of the 1000-row sync events list after one new event
// (what the data thread does while a sync runs), the same with the repaint
// of the window, and a language switch with every list full.

#include <QApplication>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "common/text.h"
#include "tests/support/fake_controller.h"
#include "ui/dui/menu_wnd.h"
#include "ui/dui/qt/qt_backend.h"
#include "ui/main/main_window_parts.h"
#include "ui/main/orlin_frame_wnd.h"

namespace {

using namespace orlin;
namespace fs = std::filesystem;

fs::path g_resources;
COrlinFrameWnd* g_frame = nullptr;
std::uint64_t g_nextEvent = 0;

testing::FakeController& Fake() { return *static_cast<testing::FakeController*>(g_frame->GetController()); }

bool PumpUntil(const std::function<bool()>& done, std::chrono::seconds deadline = std::chrono::seconds(120)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    QApplication::processEvents();
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  QApplication::processEvents();
  return true;
}

SyncEventRecord NextEvent() {
  static const char* kActions[] = {"Local modified", "Remote added", "Local deleted", "Remote modified file"};
  SyncEventRecord r;
  const std::uint64_t n = g_nextEvent++;
  SetField(r.action, kActions[n % 4]);
  r.path = "Documents/project " + std::to_string(n / 50) + "/report-" + std::to_string(n) + ".docx";
  if (n % 7 == 0) r.path = "\xE6\x96\x87\xE6\xA1\xA3/\xE9\xA1\xB9\xE7\x9B\xAE " + std::to_string(n) + ".xlsx";
  SetField(r.time, "2026-12-08  19:" + std::to_string(10 + n % 50) + ":0" + std::to_string(n % 10));
  return r;
}

// Every list full, as after a long sync with trouble.
void FillModel() {
  StatusModel& m = Fake().model;
  for (int i = 0; i < 1000; ++i) m.syncEvents.AppendCapped(NextEvent());
  std::vector<FileItemRecord> unsynced, last;
  std::vector<ErrorRecord> failed;
  std::vector<PathTimeRecord> conflicts, changed;
  for (int i = 0; i < 1000; ++i) {
    FileItemRecord f;
    f.name = "Photos/2026/IMG_" + std::to_string(4000 + i) + ".jpg";
    SetField(f.status, i < 3 ? "progress" : (i < 40 ? "queued" : "rest"));
    f.percent = i < 3 ? 20 + 30 * i : 0;
    f.size = 1048576ull * (i % 9 + 1) + 12345;
    unsynced.push_back(f);
    FileItemRecord l = f;
    SetField(l.status, "");
    SetField(l.time, "2026-12-08  18:" + std::to_string(10 + i % 50) + ":00");
    last.push_back(l);
    ErrorRecord e;
    e.path = "Shared/locked/file " + std::to_string(i) + ".pst";
    e.error = "opening file: permission denied";
    failed.push_back(e);
    PathTimeRecord c;
    c.path = "Team/\xE8\xAE\xA1\xE5\x88\x92/plan " + std::to_string(i) + ".docx";
    SetField(c.time, "2026-12-08  17:30:00");
    conflicts.push_back(c);
    c.size = 4096 + i;
    changed.push_back(c);
  }
  m.unsynced.Replace(unsynced);
  m.lastSynced.Replace(last);
  m.failed.Replace(failed);
  m.conflicts.Replace(conflicts);
  m.locallyChanged.Replace(changed);
  std::vector<DeviceRecord> devices;
  for (int i = 0; i < 4; ++i) {
    DeviceRecord d = DeviceRecord::NewDevice("DEV" + std::to_string(i));
    SetField(d.name, i == 0 ? "tarn-nas" : "laptop-" + std::to_string(i));
    d.connected = i < 2;
    d.completion = i == 0 ? 63 : 100;
    d.needBytes = i == 0 ? 734003200 : 0;
    d.needItems = i == 0 ? 812 : 0;
    SetField(d.address, i < 2 ? "192.168.1." + std::to_string(20 + i) + ":22000" : "-");
    SetField(d.downloadText, i < 2 ? "2.40 MiB/s (1.20 GiB)" : "-");
    SetField(d.uploadText, i < 2 ? "310.50 KiB/s (88.02 MiB)" : "-");
    SetField(d.clientVersion, i < 2 ? "v1.19.0" : "-");
    devices.push_back(d);
  }
  m.devices.Replace(devices);
  m.UpdateSummary([](SystemSummary& s) {
    SetField(s.versionText, "v1.19.0 ( linux 32 ");
    s.cpuPercent = 3;
    s.memory = 92 * 1048576ull;
    s.uptime = BreakDownDuration(93784);
  });
  m.folder.unsyncedFileCount = 1000;
  m.syncEvents.MarkChanged();
  m.unsynced.MarkChanged();
  m.lastSynced.MarkChanged();
  m.failed.MarkChanged();
  m.conflicts.MarkChanged();
  m.locallyChanged.MarkChanged();
  m.devices.MarkChanged();
}

void FillEveryList() {
  for (StatusList list : {StatusList::kSyncEvents, StatusList::kUnsynced, StatusList::kConflicts, StatusList::kFailed,
                          StatusList::kLastSynced, StatusList::kThisDevice, StatusList::kRemoteDevices}) {
    g_frame->Lists()->Refresh(list);
  }
  g_frame->SendMessageW(kMsgFailedCount, 1000);
  g_frame->SendMessageW(kMsgUnsyncedChanged);
  g_frame->SendMessageW(kMsgRemoteDevicesRefresh);
}

void Click(const wchar_t* name) {
  dui::TNotifyUI msg{dui::kEventClick, g_frame->GetPaintManager().FindControl(name)};
  g_frame->Lists()->HandleNotify(msg);
}

std::wstring TopRowFile() {
  auto lock = g_frame->GetPaintManager().ModelLock();
  auto* list = static_cast<dui::CListUI*>(g_frame->GetPaintManager().FindControl(L"SYNCEVENTSLIST"));
  dui::CControlUI* row = list ? list->GetItemAt(0) : nullptr;
  dui::CControlUI* file = row ? row->FindSubControl(L"FILELABEL") : nullptr;
  return file ? file->GetToolTip() : L"";
}

// One new event on top of 1000 rows: the refresher copies the model, builds
// the rows (each file examined on disk) and updates the row controls.
void BM_SyncEventsRefill1000(benchmark::State& state) {
  Click(L"SYNCEVENTSBTN");
  std::int64_t missed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    SyncEventRecord e = NextEvent();
    Fake().model.syncEvents.AppendCapped(e);
    Fake().model.syncEvents.MarkChanged();
    state.ResumeTiming();
    g_frame->Lists()->Refresh(StatusList::kSyncEvents);
    state.PauseTiming();
    // The window's own data thread may have taken the flag first.
    if (TopRowFile() != Utf8ToWide(e.path)) ++missed;
    state.ResumeTiming();
  }
  state.counters["rows"] = 1000;
  state.counters["refills_done_by_the_data_thread"] = static_cast<double>(missed);
}
BENCHMARK(BM_SyncEventsRefill1000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The same with the repaint of the window that follows on the GUI thread.
void BM_SyncEventsRefill1000AndRepaint(benchmark::State& state) {
  Click(L"SYNCEVENTSBTN");
  for (auto _ : state) {
    state.PauseTiming();
    Fake().model.syncEvents.AppendCapped(NextEvent());
    Fake().model.syncEvents.MarkChanged();
    state.ResumeTiming();
    g_frame->Lists()->Refresh(StatusList::kSyncEvents);
    dui::QtBackend::RunOnGuiThread([] { dui::CanvasOf(g_frame->GetHWND())->repaint(); });
    QApplication::processEvents();
  }
}
BENCHMARK(BM_SyncEventsRefill1000AndRepaint)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The language message with every list full: all texts reloaded, every list
// refilled in the new language.
void BM_LanguageSwitchFullLists(benchmark::State& state) {
  bool chinese = true;
  for (auto _ : state) {
    g_frame->SendMessageW(kMsgLanguageChanged, chinese ? 1 : 0);
    chinese = !chinese;
  }
  g_frame->SendMessageW(kMsgLanguageChanged, 0);
}
BENCHMARK(BM_LanguageSwitchFullLists)->Unit(benchmark::kMillisecond)->MinTime(2.0);

bool Grab(dui::WindowImplBase& w, const fs::path& file) {
  QApplication::processEvents();
  if (!dui::GrabWindow(w.GetHWND(), file)) {
    std::fprintf(stderr, "cannot write %s\n", file.string().c_str());
    return false;
  }
  return true;
}

int Shots(const fs::path& dir) {
  fs::create_directories(dir);
  bool ok = true;
  for (bool chinese : {false, true}) {
    g_frame->SendMessageW(kMsgLanguageChanged, chinese ? 1 : 0);
    const std::string lang = chinese ? "zh_cn" : "en";
    for (const wchar_t* tab : {L"SYNCEVENTSBTN", L"UNSYNCBTN", L"CONFLICTBTN", L"ERRORBTN", L"LASTSYNCFILESBTN",
                               L"THISDEVICEBTN", L"REMOTEDEVICESBTN"}) {
      Click(tab);
      FillEveryList();
      ok = Grab(*g_frame, dir / (WideToUtf8(AsciiLower(tab)) + "-" + lang + ".png")) && ok;
    }
    // The tray menu and the language menu, grabbed on their own.
    g_frame->SendMessageW(dui::kWmTrayCallback, 0, 517);
    for (auto* w : dui::WindowImplBase::OpenWindows()) {
      if (w->GetWindowClassName() == L"MenuWnd") ok = Grab(*w, dir / ("tray-menu-" + lang + ".png")) && ok;
    }
    dui::TNotifyUI lang_click{dui::kEventClick, g_frame->GetPaintManager().FindControl(L"LANGUAGEBTN")};
    g_frame->Notify(lang_click);
    for (auto* w : dui::WindowImplBase::OpenWindows()) {
      if (w->GetWindowClassName() == L"MenuWnd") ok = Grab(*w, dir / ("language-menu-" + lang + ".png")) && ok;
    }
  }
  // The locally changed items in the unsynced tab.
  g_frame->SendMessageW(kMsgLocalChangesCount, 1000);
  ok = Grab(*g_frame, dir / "locally-changed-zh_cn.png") && ok;
  g_frame->SendMessageW(kMsgLanguageChanged, 0);
  ok = Grab(*g_frame, dir / "locally-changed-en.png") && ok;
  return ok ? 0 : 1;
}

// The skins and images as an install lays them out.
fs::path MakeResources() {
  fs::path dir = fs::temp_directory_path() / ("orlin-bench-main-" + std::to_string(QCoreApplication::applicationPid()));
  fs::create_directories(dir);
  const fs::path source = ORLIN_SOURCE_DIR;
  for (const auto& entry : fs::directory_iterator(source / "skins")) fs::copy_file(entry.path(), dir / entry.path().filename());
  fs::copy(source / "res", dir / "res", fs::copy_options::recursive);
  return dir;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  dui::UiBackend::Install(std::make_shared<dui::QtBackend>());
  g_resources = MakeResources();
  dui::CPaintManagerUI::SetResourcePath(g_resources);
  dui::CPaintManagerUI::SetInstance(g_resources);
  dui::CResourceManager::GetInstance().SetLanguage(L"en");

  FrameServices services;
  services.makeController = [](COrlinFrameWnd&) {
    auto c = std::make_unique<testing::FakeController>();
    c->settings.language = L"en";
    c->settings.syncFolderPath = WideFromPath(g_resources);
    c->settings.dpi = 96;
    return c;
  };
  services.makeLists = [](COrlinFrameWnd& w) {
    return MakeStatusListsPart(w, w, [](const fs::path&) { return true; });
  };
  services.makeTray = [](COrlinFrameWnd& w) { return MakeTrayMenuPart(w, w); };
  services.installDir = g_resources;
  services.quit = [] {};
  auto frame = std::make_unique<COrlinFrameWnd>(std::move(services));
  g_frame = frame.get();
  int rc = 0;
  if (!frame->Create(nullptr, kMainWindowTitle, dui::kWsPopup, 0) ||
      !PumpUntil([&] { return frame->IsStarted() && frame->IsDataThreadRunning(); })) {
    std::fputs("the main window did not start\n", stderr);
    rc = 1;
  } else {
    FillModel();
    FillEveryList();
    if (argc == 3 && std::strcmp(argv[1], "--shots") == 0) {
      rc = Shots(argv[2]);
    } else {
      benchmark::Initialize(&argc, argv);
      benchmark::RunSpecifiedBenchmarks();
      benchmark::Shutdown();
    }
  }
  frame->SendMessageW(kMsgQuit);
  PumpUntil([&] { return frame->RunningWorkers() == 0; }, std::chrono::seconds(30));
  frame.reset();
  dui::UiBackend::Install(nullptr);
  std::error_code ec;
  fs::remove_all(g_resources, ec);
  return rc;
}
