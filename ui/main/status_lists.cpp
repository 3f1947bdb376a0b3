#include "ui/main/status_lists.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "common/text.h"
#include "monitor/disk_entry.h"
#include "monitor/format.h"
#include "platform/shell.h"
#include "platform/system_info.h"
#include "ui/dui/dialog_builder.h"
#include "ui/dui/find_control.h"
#include "ui/dui/window_impl_base.h"

namespace orlin {

namespace {

namespace fs = std::filesystem;
using dui::CControlUI;
using dui::CListUI;
using dui::COptionUI;

constexpr std::size_t kMaxColumns = 6;
// A measured-width cache is dropped when it grows past this many texts: the
// sync events shift by one row per event, so nearly every text of a refill
// was measured by the one before.
constexpr std::size_t kMeasureCacheLimit = 8192;

constexpr wchar_t kSyncEventsButton[] = L"SYNCEVENTSBTN";
constexpr wchar_t kUnsyncedButton[] = L"UNSYNCBTN";
constexpr wchar_t kErrorButton[] = L"ERRORBTN";
constexpr wchar_t kLogButton[] = L"LOGBTN";
constexpr wchar_t kUnsyncedList[] = L"UNSYNCLIST";
constexpr wchar_t kLocallyChangedList[] = L"LOCALLYCHANGEDLIST";
constexpr wchar_t kErrorList[] = L"ERRORLIST";
constexpr wchar_t kConflictList[] = L"CONFLICTLIST";
constexpr wchar_t kLogList[] = L"LOGLIST";
constexpr wchar_t kExplorerMark[] = L"explorer";

constexpr std::array<const wchar_t*, 3> kThisDeviceButtons{L"THISDEVICEBTN", L"THISDEVICEGREENBTN",
                                                           L"THISDEVICEREDBTN"};
constexpr std::array<const wchar_t*, 2> kRemoteButtons{L"REMOTEDEVICESBTN", L"REMOTEDEVICESGREENBTN"};

constexpr dui::Color kDeviceButtonBk = 0xFFEEEEEE;
constexpr dui::Color kDeviceButtonHoverBk = 0xFFC3C3C3;

// ------------------------------------------------------------ the list table

// How a column takes its width: from its widest text, or from what the other
// columns leave (the file column: its text is cut with an ellipsis and the
// whole path is the tooltip).
enum class Fit : std::uint8_t { kContent, kRest };

struct Column {
  const wchar_t* cell = nullptr;   // the row's top-level control of the column
  const wchar_t* label = nullptr;  // the control in it that shows the text
  Fit fit = Fit::kContent;
  int extra = 10;    // skin pixels after the widest text
  int minimum = 50;  // skin pixels
};

struct Cell {
  std::wstring text;
  std::wstring tooltip;
};

struct Row {
  std::array<Cell, kMaxColumns> cells;
  int progress = -1;  // unsynced files: the percent of a file in transfer
  bool bold = false;  // remote devices: a device that is not connected
};

// What the row builders read; made under the window's lock, used without it.
class DiskLookups;

struct Source {
  const StatusModel& model;
  DiskLookups* disk = nullptr;
  bool chinese = false;   // texts chosen in code: Chinese exactly for "zh_cn"
  std::wstring language;  // texts of the table: English exactly for "en"
  fs::path syncFolder;
  std::wstring computerName;
};

enum class Decor : std::uint8_t { kNone, kConflict, kUnsynced, kDevices };

struct ListSpec {
  const wchar_t* list;
  const wchar_t* itemTemplate;
  std::optional<StatusList> kind;  // none: the log (the list kind stays)
  std::vector<Column> columns;
  // Reads and clears the list's changed flag; null: refilled every time.
  bool (*takeChanged)(const StatusModel&);
  // The rows in display order; null: nothing fills the list.
  std::vector<Row> (*rows)(const Source&);
  Decor decor;
};

const wchar_t* Pick(bool chinese, const wchar_t* english, const wchar_t* zh) { return chinese ? zh : english; }

std::wstring CountText(std::int64_t n) { return n > 0 ? L" (" + std::to_wstring(n) + L")" : std::wstring(); }

// The last part of a path as the engine reports it ('/' or '\' between
// parts, whichever system the engine runs on).
std::wstring LastPart(const std::wstring& path) {
  auto pos = path.find_last_of(L"\\/");
  return pos == std::wstring::npos ? path : path.substr(pos + 1);
}

// What a listed file is on disk, remembered for a moment: a refill during a
// sync shifts every row by one, and examining the same 1000 files again for
// each event would cost a thousand system calls per refill.
class DiskLookups {
 public:
  using Kind = DiskEntry::Kind;
  struct Entry {
    Kind kind = Kind::kMissing;
    std::uintmax_t size = 0;
    std::chrono::steady_clock::time_point when;
  };
  static constexpr auto kFresh = std::chrono::seconds(2);
  static constexpr std::size_t kLimit = 4096;

  // `relative` as the engine reports it, below `folder`. Any thread (refills
  // build their rows without the window's lock).
  Entry Look(const fs::path& folder, const std::wstring& relative) {
    const auto now = std::chrono::steady_clock::now();
    {
      std::lock_guard lock(mutex_);
      if (folder != folder_) {
        entries_.clear();
        folder_ = folder;
      }
      if (auto it = entries_.find(relative); it != entries_.end() && now - it->second.when < kFresh) return it->second;
    }
    const DiskEntry found = ExamineInSyncFolder(folder, relative);
    const Entry e{found.kind, found.size, now};
    std::lock_guard lock(mutex_);
    if (entries_.size() >= kLimit) entries_.clear();
    entries_[relative] = e;
    return e;
  }

 private:
  std::mutex mutex_;
  fs::path folder_;
  std::unordered_map<std::wstring, Entry> entries_;
};

// The size column of files examined on disk: a directory shows as a folder,
// a file by its size, anything that cannot be examined as "-".
std::wstring SizeOnDisk(const Source& s, const std::wstring& relative) {
  if (s.syncFolder.empty()) return L"-";
  const DiskLookups::Entry e = s.disk->Look(s.syncFolder, relative);
  switch (e.kind) {
    case DiskLookups::Kind::kFile:
      return FormatSize(e.size);
    case DiskLookups::Kind::kFolder:
      return Pick(s.chinese, L"folder", L"\u6587\u4ef6\u5939");
    default:
      return L"-";
  }
}

// The action of a sync event is a text id of the table ("Local added");
// one without a text in this language shows as it is.
std::wstring ActionText(std::string_view action, const std::wstring& language) {
  if (action.empty()) return {};
  std::wstring id = Utf8ToWide(action);
  if (auto text = MainTextTable::Lookup(id, language)) return *text;
  return id;
}

// The number column counts down from the number of rows shown, so the
// newest row carries the highest number.
void Number(std::vector<Row>& rows) {
  const std::size_t n = rows.size();
  for (std::size_t i = 0; i < n; ++i) rows[i].cells[0].text = std::to_wstring(n - i);
}

void FileCell(Cell& cell, std::wstring path) {
  cell.text = LastPart(path);
  cell.tooltip = std::move(path);
}

std::vector<Row> SyncEventRows(const Source& s) {
  auto records = s.model.syncEvents.Snapshot();
  std::vector<Row> rows;
  rows.reserve(records.size());
  // A handful of actions repeat over the whole list.
  std::unordered_map<std::string_view, std::wstring> actions;
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    if (!IsValidUtf8(it->path) || !IsValidUtf8(FieldText(it->time))) continue;
    Row& r = rows.emplace_back();
    const std::string_view action = FieldText(it->action);
    auto known = actions.find(action);
    if (known == actions.end()) known = actions.emplace(action, ActionText(action, s.language)).first;
    r.cells[1].text = known->second;
    FileCell(r.cells[2], Utf8ToWide(it->path));
    r.cells[3].text = Utf8ToWide(FieldText(it->time));
    r.cells[4].text = SizeOnDisk(s, r.cells[2].tooltip);
  }
  Number(rows);
  return rows;
}

std::vector<Row> PathTimeRows(const std::vector<PathTimeRecord>& records, const Source& s, bool sizeOnDisk) {
  std::vector<Row> rows;
  rows.reserve(records.size());
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    if (!IsValidUtf8(it->path) || !IsValidUtf8(FieldText(it->time))) continue;
    Row& r = rows.emplace_back();
    FileCell(r.cells[1], Utf8ToWide(it->path));
    r.cells[2].text = Utf8ToWide(FieldText(it->time));
    r.cells[3].text = sizeOnDisk ? SizeOnDisk(s, r.cells[1].tooltip) : FormatSize(it->size);
  }
  Number(rows);
  return rows;
}

std::vector<Row> LocallyChangedRows(const Source& s) { return PathTimeRows(s.model.locallyChanged.Snapshot(), s, false); }
std::vector<Row> ConflictRows(const Source& s) { return PathTimeRows(s.model.conflicts.Snapshot(), s, true); }

std::vector<Row> LastSyncedRows(const Source& s) {
  auto records = s.model.lastSynced.Snapshot();
  std::vector<Row> rows;
  rows.reserve(records.size());
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    if (!IsValidUtf8(it->name) || !IsValidUtf8(FieldText(it->time))) continue;
    Row& r = rows.emplace_back();
    FileCell(r.cells[1], Utf8ToWide(it->name));
    r.cells[2].text = Utf8ToWide(FieldText(it->time));
    // Rows from the folder statistics carry no size of their own.
    r.cells[3].text = FieldText(it->tag) == "lastfind" ? SizeOnDisk(s, r.cells[1].tooltip) : FormatSize(it->size);
  }
  Number(rows);
  return rows;
}

std::vector<Row> FailedRows(const Source& s) {
  auto records = s.model.failed.Snapshot();
  std::vector<Row> rows;
  rows.reserve(records.size());
  for (const ErrorRecord& e : records) {
    if (!IsValidUtf8(e.path)) continue;
    Row& r = rows.emplace_back();
    FileCell(r.cells[1], Utf8ToWide(e.path));
    r.cells[2].text = Utf8ToWide(e.error);
  }
  Number(rows);
  return rows;
}

std::wstring UnsyncedStatusWord(std::string_view status, bool chinese) {
  if (!chinese) return Utf8ToWide(status);
  if (status == "progress") return L"\u5904\u7406";  // 处理
  if (status == "queued") return L"\u5165\u961f";    // 入队
  if (status == "rest") return L"\u7b49\u5f85";      // 等待
  return Utf8ToWide(status);
}

std::vector<Row> UnsyncedRows(const Source& s) {
  auto records = s.model.unsynced.Snapshot();
  std::vector<Row> rows;
  rows.reserve(records.size());
  for (const FileItemRecord& f : records) {
    if (!IsValidUtf8(f.name)) continue;
    Row& r = rows.emplace_back();
    const std::string_view status = FieldText(f.status);
    r.cells[0].text = UnsyncedStatusWord(status, s.chinese);
    FileCell(r.cells[1], Utf8ToWide(f.name));
    if (status == "progress") {
      r.progress = std::clamp(f.percent, 0, 100);
      r.cells[2].text = std::to_wstring(r.progress) + L"%";
    }
    r.cells[3].text = FormatSize(f.size);
  }
  return rows;
}

std::vector<Row> ThisDeviceRows(const Source& s) {
  const SystemSummary summary = s.model.Summary();
  const bool zh = s.chinese;
  std::vector<Row> rows(4);
  rows[0].cells[0].text = Pick(zh, L"Ram Utilization", L"\u5185\u5b58\u4f7f\u7528\u91cf");
  rows[0].cells[1].text = FormatSize(summary.memory);
  rows[1].cells[0].text = Pick(zh, L"CPU Utilization", L"CPU \u4f7f\u7528\u7387");
  rows[1].cells[1].text = std::to_wstring(summary.cpuPercent) + L"%";
  rows[2].cells[0].text = Pick(zh, L"Uptime", L"\u5df2\u542f\u52a8");
  rows[2].cells[1].text = FormatUptime(summary.uptime, !zh);
  rows[3].cells[0].text = Pick(zh, L"Version", L"\u7248\u672c");
  std::wstring version = Utf8ToWide(FieldText(summary.versionText));
  if (!version.empty()) version += Pick(zh, L"bit)", L"\u4f4d )");
  rows[3].cells[1].text = std::move(version);
  return rows;
}

std::wstring DeviceStatus(const DeviceRecord& d, bool zh) {
  if (d.paused) return Pick(zh, L"Paused", L"\u5df2\u6682\u505c");
  const wchar_t* syncing = Pick(zh, L"syncing ", L"\u540c\u6b65\u4e2d ");
  const wchar_t* need = Pick(zh, L" Need: ", L" \u8fd8\u9700 : ");
  auto needSize = [&] { return d.needBytes != 0 ? FormatSize(d.needBytes) : std::wstring(); };
  if (d.completion < 100) {
    return syncing + std::to_wstring(static_cast<int>(d.completion)) + L"% " + needSize() + need +
           std::to_wstring(d.needItems != 0 ? d.needItems : d.needDeletes) + L" ";
  }
  // Complete by bytes with deletions still to do: shown short of done.
  if (d.needDeletes != 0) return syncing + std::wstring(L"95% ") + needSize() + need + std::to_wstring(d.needDeletes) + L" ";
  return Pick(zh, L"up to date", L"\u540c\u6b65\u5b8c\u6210");
}

std::vector<Row> RemoteDeviceRows(const Source& s) {
  auto devices = s.model.devices.Snapshot();
  std::vector<Row> rows;
  rows.reserve(devices.size());
  // Names compare without regard to case, as the computer name does.
  const std::wstring self = AsciiLower(s.computerName);
  auto text = [](std::string_view field) { return Utf8ToWide(field); };
  // Connected devices first, then the others that are worth naming: a
  // device never named by the configuration, or this computer itself, is
  // left out.
  for (int pass = 0; pass < 2; ++pass) {
    for (const DeviceRecord& d : devices) {
      const bool connected = d.connected != 0;
      if (connected != (pass == 0)) continue;
      std::wstring name = text(FieldText(d.name));
      if (!connected && (name.empty() || name == L"unknown" || (!self.empty() && AsciiLower(name) == self))) continue;
      Row& r = rows.emplace_back();
      r.cells[0].text = std::move(name);
      r.cells[1].text = connected ? DeviceStatus(d, s.chinese) : Pick(s.chinese, L"Disconnected", L"\u8fde\u63a5\u5df2\u65ad\u5f00");
      r.cells[2].text = connected ? text(FieldText(d.address)) : Pick(s.chinese, L"dynamic ", L"\u52a8\u6001 ");
      r.cells[3].text = text(FieldText(d.downloadText));
      r.cells[4].text = text(FieldText(d.uploadText));
      r.cells[5].text = text(FieldText(d.clientVersion));
      r.bold = !connected;
    }
  }
  return rows;
}

bool SyncEventsChanged(const StatusModel& m) { return m.syncEvents.TakeChanged(); }
bool UnsyncedChanged(const StatusModel& m) { return m.unsynced.TakeChanged(); }
bool LocallyChangedChanged(const StatusModel& m) { return m.locallyChanged.TakeChanged(); }
bool ConflictsChanged(const StatusModel& m) { return m.conflicts.TakeChanged(); }
bool FailedChanged(const StatusModel& m) { return m.failed.TakeChanged(); }
bool LastSyncedChanged(const StatusModel& m) { return m.lastSynced.TakeChanged(); }
bool DevicesChanged(const StatusModel& m) { return m.devices.TakeChanged(); }

Column Text(const wchar_t* name, int extra = 10, int minimum = 50) { return Column{name, name, Fit::kContent, extra, minimum}; }
Column Rest(const wchar_t* name, int minimum = 150) { return Column{name, name, Fit::kRest, 0, minimum}; }

// The lists, in the order of their tab buttons. A new list is a row here.
const std::vector<ListSpec>& Lists() {
  static const std::vector<ListSpec> lists = {
      {L"SYNCEVENTSLIST", L"listitem.xml", StatusList::kSyncEvents,
       {Text(L"NOLABEL"), Text(L"ACTIONLABEL"), Rest(L"FILELABEL"), Text(L"WHENLABEL", 20), Text(L"SIZELABEL")},
       SyncEventsChanged, SyncEventRows, Decor::kNone},
      {kUnsyncedList, L"unsync.xml", StatusList::kUnsynced,
       // The action cell holds the status icon (16 px and its gaps) before
       // the word.
       {Column{L"ACTIONHORIZONTAL", L"ACTIONLABEL", Fit::kContent, 40, 90}, Rest(L"FILELABEL"),
        Text(L"FILEPROGRESS", 10, 120), Text(L"SIZELABEL")},
       UnsyncedChanged, UnsyncedRows, Decor::kUnsynced},
      {kLocallyChangedList, L"lastsyncfile.xml", StatusList::kLocallyChanged,
       {Text(L"NOLABEL"), Rest(L"FILELABEL"), Text(L"WHENLABEL", 20), Text(L"SIZELABEL")}, LocallyChangedChanged,
       LocallyChangedRows, Decor::kNone},
      {kConflictList, L"conflict.xml", StatusList::kConflicts,
       {Text(L"NOLABEL"), Rest(L"FILELABEL"), Text(L"WHENLABEL", 20), Text(L"SIZELABEL")}, ConflictsChanged,
       ConflictRows, Decor::kConflict},
      {kErrorList, L"Error.xml", StatusList::kFailed,
       {Text(L"NOLABEL", 5), Column{L"FILELABEL", L"FILELABEL", Fit::kContent, 5, 150}, Rest(L"DESCRIBELABEL")},
       FailedChanged, FailedRows, Decor::kNone},
      {L"LASTSYNCFILESLIST", L"lastsyncfile.xml", StatusList::kLastSynced,
       {Text(L"NOLABEL"), Rest(L"FILELABEL"), Text(L"WHENLABEL", 20), Text(L"SIZELABEL")}, LastSyncedChanged,
       LastSyncedRows, Decor::kNone},
      {L"THISDEVICELIST", L"thisdevice.xml", StatusList::kThisDevice,
       {Text(L"ITEMLABEL", 20, 160), Rest(L"DESCRIBELABEL")}, nullptr, ThisDeviceRows, Decor::kNone},
      {L"REMOTEDEVICESLIST", L"remotedevices.xml", StatusList::kRemoteDevices,
       {Text(L"DEVICENAMELABEL", 10, 60), Text(L"DEVICESTATUSLABEL", 10, 60), Text(L"IPLABEL", 10, 50),
        Text(L"DOWNLOADLABEL", 20, 100), Text(L"UPLOADLABEL", 20, 100), Rest(L"VERSIONLABEL", 60)},
       DevicesChanged, RemoteDeviceRows, Decor::kDevices},
      {kLogList, L"logitem.xml", std::nullopt,
       {Text(L"NOLABEL"), Text(L"TIMELABEL", 20), Rest(L"DESCRIBELABEL")}, nullptr, nullptr, Decor::kNone},
  };
  return lists;
}

const ListSpec* SpecOfList(const std::wstring& name) {
  for (const ListSpec& spec : Lists()) {
    if (name == spec.list) return &spec;
  }
  return nullptr;
}

const ListSpec* SpecOfKind(StatusList kind) {
  for (const ListSpec& spec : Lists()) {
    if (spec.kind == kind) return &spec;
  }
  return nullptr;
}

bool IsOneOf(const std::wstring& name, const auto& names) {
  return std::any_of(names.begin(), names.end(), [&](const wchar_t* n) { return name == n; });
}

// The list a tab button shows; empty for a name that is no tab button.
std::wstring ListOfButton(const std::wstring& button, bool localChangesMode) {
  if (button == kSyncEventsButton) return L"SYNCEVENTSLIST";
  if (button == kUnsyncedButton) return localChangesMode ? kLocallyChangedList : kUnsyncedList;
  if (button == L"CONFLICTBTN") return kConflictList;
  if (button == kErrorButton) return kErrorList;
  if (button == L"LASTSYNCFILESBTN") return L"LASTSYNCFILESLIST";
  if (IsOneOf(button, kThisDeviceButtons)) return L"THISDEVICELIST";
  if (IsOneOf(button, kRemoteButtons)) return L"REMOTEDEVICESLIST";
  if (button == kLogButton) return kLogList;
  return {};
}

}  // namespace

// ------------------------------------------------------------------- state

struct StatusLists::State {
  // One list control's fill state: its row builder and the widths found so
  // far. Touched only under the window's model lock.
  struct ListState {
    const ListSpec* spec = nullptr;
    dui::CDialogBuilder builder;
    std::array<int, kMaxColumns> widths{};  // skin pixels; a column only grows
    std::array<std::unordered_map<std::wstring, int>, kMaxColumns> measured;
    std::unordered_map<std::wstring, int> measuredPaths;
    int scale = 0;
    // The controls of each row, found once per row: rows are reused, and
    // every row removal goes through Fill or EmptyList, which drop them.
    struct RowControls {
      CControlUI* row = nullptr;
      std::array<CControlUI*, kMaxColumns> labels{};
      std::array<CControlUI*, kMaxColumns> cells{};
      CControlUI* busyIcon = nullptr;
      CControlUI* idleIcon = nullptr;
      dui::CProgressUI* bar = nullptr;
      // The measured width of each label's text, -1 when not measured: a
      // text that stays needs no measuring again.
      std::array<int, kMaxColumns> widths{-1, -1, -1, -1, -1, -1};
    };
    std::vector<RowControls> rows;
  };

  State(dui::WindowImplBase& w, StatusListsHost& h, ShowItemFn show)
      : window(w), pm(w.GetPaintManager()), host(h), showItem(std::move(show)) {
    if (!showItem) showItem = [](const fs::path& p) { return platform::ShowItemInFolder(p); };
    computerName = platform::ComputerName();
    for (const ListSpec& spec : Lists()) lists.emplace_back().spec = &spec;
  }

  std::unique_lock<std::recursive_mutex> Lock() const { return pm.ModelLock(); }

  template <class T = CControlUI>
  T* Find(const std::wstring& name) const {
    return dui::FindControlAs<T>(pm, name);
  }

  ListState& StateOf(const ListSpec& spec) {
    for (ListState& ls : lists) {
      if (ls.spec == &spec) return ls;
    }
    return lists.front();  // every spec has its state
  }

  bool Chinese() const { return host.Language() == L"zh_cn"; }

  void SetButtonText(const wchar_t* name, const std::wstring& text) {
    if (auto* b = Find(name)) b->SetText(text);
  }
  std::wstring UnsyncedBase(bool chinese) const {
    return localChangesMode ? Pick(chinese, L"Changed Items", L"\u672c\u5730\u66f4\u6539\u9879")
                            : Pick(chinese, L"UnSynced Files", L"\u672a\u540c\u6b65\u6587\u4ef6");
  }
  void ShowCountTexts() {
    const bool zh = Chinese();
    SetButtonText(kUnsyncedButton, UnsyncedBase(zh) + unsyncedCount);
    SetButtonText(kErrorButton, Pick(zh, L"Failure Files", L"\u5931\u8d25\u6587\u4ef6") + failedCount);
    for (const wchar_t* b : kRemoteButtons) {
      SetButtonText(b, Pick(zh, L"Remote Devices", L"\u8fdc\u7a0b\u8bbe\u5907") + remoteCount);
    }
  }

  void EmptyList(const wchar_t* name) {
    if (auto* list = Find<CListUI>(name)) list->RemoveAll();
    if (const ListSpec* spec = SpecOfList(name)) StateOf(*spec).rows.clear();
  }

  ListState::RowControls& ControlsOf(const ListSpec& spec, ListState& ls, int i, CControlUI* row) {
    if (ls.rows.size() <= static_cast<std::size_t>(i)) ls.rows.resize(i + 1);
    ListState::RowControls& rc = ls.rows[i];
    if (rc.row == row) return rc;
    rc = ListState::RowControls{row};
    for (std::size_t c = 0; c < spec.columns.size(); ++c) {
      rc.labels[c] = row->FindSubControl(spec.columns[c].label);
      rc.cells[c] = row->FindSubControl(spec.columns[c].cell);
    }
    if (spec.decor == Decor::kUnsynced) {
      rc.busyIcon = row->FindSubControl(L"ACTIONICONLABEL");
      rc.idleIcon = row->FindSubControl(L"BEFORENULLICONLABEL");
      rc.bar = dynamic_cast<dui::CProgressUI*>(row->FindSubControl(L"FILEPROGRESS"));
    }
    return rc;
  }

  // --- tabs

  void SelectButton(const std::wstring& name) {
    if (auto* b = Find<COptionUI>(name)) b->Selected(true, false);
  }

  void SwitchTo(const std::wstring& button) {
    const std::wstring target = ListOfButton(button, localChangesMode);
    if (target.empty()) return;
    SelectButton(button);
    if (target == currentList) return;  // the tab stays as it is
    if (auto* list = Find(target)) list->SetVisible(true);
    if (!currentList.empty() && currentList != target) {
      if (auto* list = Find(currentList)) list->SetVisible(false);
    }
    const ListSpec* spec = SpecOfList(target);
    if (spec && spec->kind) kind = spec->kind;
    if (controller) {
      if (button == kUnsyncedButton) {
        controller->RequestList(localChangesMode ? StatusList::kLocallyChanged : StatusList::kUnsynced);
      } else if (button == kErrorButton) {
        controller->RequestList(StatusList::kFailed);
      }
    }
    currentTab = button;
    currentList = target;
  }

  // After the blinking buttons of a group swapped places: the visible one is
  // selected exactly while its group is the current tab.
  template <std::size_t N>
  void SyncGroupSelection(const std::array<const wchar_t*, N>& group) {
    const bool current = IsOneOf(currentTab, group);
    for (const wchar_t* name : group) {
      auto* b = Find<COptionUI>(name);
      if (!b) continue;
      const bool selected = current && b->IsVisible();
      b->Selected(selected, false);
      if (selected) currentTab = name;
    }
  }
  template <std::size_t N>
  void ShowOnly(const std::array<const wchar_t*, N>& group, const wchar_t* shown) {
    for (const wchar_t* name : group) {
      if (auto* b = Find(name)) b->SetVisible(std::wstring_view(name) == shown);
    }
  }

  // --- filling

  Source MakeSource() const {
    return Source{controller->Status(), &disk, Chinese(), host.Language(), host.SyncFolder(), computerName};
  }

  // Builds the rows without the window's lock (the model lists are copied
  // under their own locks, files are examined on disk), then fills the list
  // under it. `force` refills without looking at the changed flag (the
  // language switch).
  void Refresh(const ListSpec& spec, bool force, std::unique_lock<std::recursive_mutex>& lock) {
    if (!spec.rows || !controller) return;
    if (&spec == SpecOfList(kUnsyncedList) && localChangesMode) return;
    Controller* const asked = controller;
    const Source source = MakeSource();
    lock.unlock();
    const bool changed = force || !spec.takeChanged || spec.takeChanged(source.model);
    std::vector<Row> rows;
    if (changed) rows = spec.rows(source);
    lock.lock();
    if (!changed || controller != asked) return;
    Fill(spec, rows);
  }

  int Measure(std::unordered_map<std::wstring, int>& cache, const std::wstring& text, int font, unsigned style) {
    if (text.empty()) return 0;
    if (auto it = cache.find(text); it != cache.end()) return it->second;
    if (cache.size() >= kMeasureCacheLimit) cache.clear();
    int cx = pm.MeasureText(text, font, style & ~static_cast<unsigned>(dui::kDtWordBreak)).cx;
    cache.emplace(text, cx);
    return cx;
  }

  // Window pixels to skin pixels, rounded up.
  int Unscaled(int px) const {
    const int scale = pm.GetDPIObj()->GetScale();
    return scale > 0 ? (px * 100 + scale - 1) / scale : px;
  }

  void Fill(const ListSpec& spec, const std::vector<Row>& rows) {
    auto* list = Find<CListUI>(spec.list);
    if (!list) return;
    ListState& ls = StateOf(spec);
    const int scale = pm.GetDPIObj()->GetScale();
    if (ls.scale != scale) {
      ls.scale = scale;
      ls.widths = {};
      for (auto& m : ls.measured) m.clear();
      ls.measuredPaths.clear();
      for (auto& r : ls.rows) r.widths.fill(-1);
    }
    const std::size_t columns = spec.columns.size();
    std::array<int, kMaxColumns> widest{};
    std::array<CControlUI*, kMaxColumns> firstLabels{};
    int widestPath = 0;

    // Only the paths that may be the widest are measured: those at least
    // half as long as the longest (a CJK character counting twice).
    auto estimate = [](const std::wstring& text) {
      std::size_t units = 0;
      for (wchar_t ch : text) units += ch >= 0x2E80 ? 2 : 1;
      return units;
    };
    std::size_t longestPath = 0;
    for (const Row& r : rows) {
      for (std::size_t c = 0; c < columns; ++c) {
        if (!r.cells[c].tooltip.empty()) longestPath = std::max(longestPath, estimate(r.cells[c].tooltip));
      }
    }

    const int n = static_cast<int>(rows.size());
    for (int i = 0; i < n; ++i) {
      CControlUI* row = list->GetItemAt(i);
      if (!row) {
        row = ls.builder.CreateCached(spec.itemTemplate, &window, &pm);
        if (!row) break;  // no template: the list shows what it can
        list->Add(row);
        if (spec.decor == Decor::kConflict) {
          if (auto* file = row->FindSubControl(L"FILELABEL")) file->SetUserData(kExplorerMark);
        }
      }
      const Row& data = rows[i];
      ListState::RowControls& controls = ControlsOf(spec, ls, i, row);
      Decorate(spec, controls, data);
      for (std::size_t c = 0; c < columns; ++c) {
        const Column& col = spec.columns[c];
        CControlUI* label = controls.labels[c];
        if (!label) continue;
        const Cell& cell = data.cells[c];
        if (label->GetText() != cell.text) {
          label->SetText(cell.text);
          controls.widths[c] = -1;
        }
        if (label->GetToolTip() != cell.tooltip) label->SetToolTip(cell.tooltip);
        if (!firstLabels[c]) firstLabels[c] = label;
        if (col.fit == Fit::kContent) {
          if (controls.widths[c] < 0) {
            controls.widths[c] = Measure(ls.measured[c], cell.text, label->GetFont(), label->GetTextStyle());
          }
          widest[c] = std::max(widest[c], controls.widths[c]);
        }
        if (!cell.tooltip.empty() && estimate(cell.tooltip) * 2 >= longestPath) {
          widestPath = std::max(widestPath, Measure(ls.measuredPaths, cell.tooltip, label->GetFont(), dui::kDtSingleLine));
        }
      }
    }
    for (int i = list->GetCount() - 1; i >= n; --i) list->RemoveAt(i);
    if (ls.rows.size() > static_cast<std::size_t>(list->GetCount())) ls.rows.resize(list->GetCount());
    SizeColumns(spec, ls, *list, widest, firstLabels);
    // A path's tooltip is never wrapped.
    if (widestPath > pm.GetTooltipMaxWidth()) pm.SetTooltipMaxWidth(widestPath);
  }

  void Decorate(const ListSpec& spec, ListState::RowControls& row, const Row& data) {
    switch (spec.decor) {
      case Decor::kUnsynced: {
        const bool busy = data.progress >= 0;
        if (row.busyIcon) row.busyIcon->SetVisible(busy);
        if (row.idleIcon) row.idleIcon->SetVisible(!busy);
        if (row.bar) row.bar->SetValue(busy ? data.progress : 0);
        break;
      }
      case Decor::kDevices:
        if (auto* name = row.labels[0]) {
          const int font = data.bold ? 1 : -1;
          if (name->GetFont() != font) {
            name->SetFont(font);
            row.widths[0] = -1;
          }
        }
        break;
      default:
        break;
    }
  }

  // Each column is as wide as its widest text (its header's included) and
  // never narrower than before; the rest column takes what is left. Header
  // and row cells get the same widths, so the rows line up with the header.
  void SizeColumns(const ListSpec& spec, ListState& ls, CListUI& list, const std::array<int, kMaxColumns>& widest,
                   const std::array<CControlUI*, kMaxColumns>& labels) {
    dui::CListHeaderUI* header = list.GetHeader();
    const std::size_t columns = spec.columns.size();
    std::array<int, kMaxColumns> width{};
    for (std::size_t c = 0; c < columns; ++c) {
      const Column& col = spec.columns[c];
      if (col.fit == Fit::kRest) continue;
      int w = std::max(ls.widths[c], col.minimum);
      if (header && static_cast<int>(c) < header->GetCount()) {
        CControlUI* item = header->GetItemAt(static_cast<int>(c));
        dui::Rect pad = item->GetTextPadding();
        int text = item->GetText().empty() ? 0 : pm.MeasureText(item->GetText(), item->GetFont(), dui::kDtSingleLine).cx;
        w = std::max(w, Unscaled(text) + pad.left + pad.right + 4);
      }
      if (widest[c] > 0) {
        dui::Rect pad = labels[c] ? labels[c]->GetTextPadding() : dui::Rect{};
        w = std::max(w, Unscaled(widest[c]) + pad.left + pad.right + col.extra);
      }
      width[c] = w;
      ls.widths[c] = w;
    }
    auto apply = [&](CControlUI* cell, std::size_t c) {
      if (!cell) return;
      const Column& col = spec.columns[c];
      if (col.fit == Fit::kRest) {
        if (cell->GetFixedWidth() != 0) cell->SetFixedWidth(0);
        if (cell->GetMinWidth() != col.minimum) cell->SetMinWidth(col.minimum);
      } else {
        // A cell's outer padding is part of its column.
        const dui::Rect pad = cell->GetPadding();
        const int w = std::max(width[c] - pad.left - pad.right, 0);
        if (cell->GetFixedWidth() != w) cell->SetFixedWidth(w);
      }
    };
    if (header) {
      for (std::size_t c = 0; c < columns && static_cast<int>(c) < header->GetCount(); ++c) {
        apply(header->GetItemAt(static_cast<int>(c)), c);
      }
    }
    for (int i = 0; i < list.GetCount(); ++i) {
      ListState::RowControls& row = ControlsOf(spec, ls, i, list.GetItemAt(i));
      for (std::size_t c = 0; c < columns; ++c) apply(row.cells[c], c);
    }
  }

  dui::WindowImplBase& window;
  dui::CPaintManagerUI& pm;
  StatusListsHost& host;
  ShowItemFn showItem;
  std::wstring computerName;
  std::vector<ListState> lists;
  mutable DiskLookups disk;

  Controller* controller = nullptr;
  std::wstring currentTab = kSyncEventsButton;
  // Empty while every list is hidden.
  std::wstring currentList = L"SYNCEVENTSLIST";
  std::optional<StatusList> kind = StatusList::kSyncEvents;
  bool localChangesMode = false;
  std::wstring unsyncedCount, failedCount, remoteCount;
  // The device buttons blink between their plain and coloured looks.
  bool thisDeviceBlink = true;
  bool remoteBlink = true;
};

// ------------------------------------------------------------------ public

StatusLists::StatusLists(dui::WindowImplBase& window, StatusListsHost& host, ShowItemFn showItem)
    : state_(std::make_unique<State>(window, host, std::move(showItem))) {}

StatusLists::~StatusLists() = default;

void StatusLists::SetController(Controller* controller) {
  auto lock = state_->Lock();
  State& s = *state_;
  if (s.controller == controller) return;
  s.controller = controller;
  if (s.pm.GetRoot()) {
    for (const ListSpec& spec : Lists()) s.EmptyList(spec.list);
  }
  s.localChangesMode = false;
  s.unsyncedCount.clear();
  s.failedCount.clear();
  s.remoteCount.clear();
}

bool StatusLists::HandleNotify(const dui::TNotifyUI& msg) {
  if (!msg.pSender) return false;
  if (msg.sType == dui::kEventClick) {
    const std::wstring name = msg.pSender->GetName();
    if (ListOfButton(name, false).empty()) return false;
    ClickTab(name);
    return true;
  }
  if (msg.sType != dui::kEventItemDbClick) return false;
  // The row (or a label of it) of the conflicts list: its file is shown
  // selected in the file manager.
  auto lock = state_->Lock();
  CControlUI* row = msg.pSender;
  while (row && !dynamic_cast<dui::CListContainerElementUI*>(row)) row = row->GetParent();
  if (!row || !row->GetParent() || row->GetParent()->GetName() != kConflictList) return false;
  CControlUI* file = row->FindSubControl(L"FILELABEL");
  if (!file || file->GetUserData() != kExplorerMark || file->GetToolTip().empty()) return true;
  const fs::path folder = state_->host.SyncFolder();
  if (folder.empty()) return true;
  if (auto path = InSyncFolder(folder, file->GetToolTip())) state_->showItem(*path);
  return true;
}

void StatusLists::SelectStartTab() { ClickTab(kSyncEventsButton); }

void StatusLists::ClickTab(const std::wstring& buttonName) {
  auto lock = state_->Lock();
  state_->SwitchTo(buttonName);
}

void StatusLists::HideAll() {
  auto lock = state_->Lock();
  State& s = *state_;
  // Every list, the locally changed one included: none may stay visible
  // under the next one shown.
  for (const ListSpec& spec : Lists()) {
    if (auto* list = s.Find(spec.list)) list->SetVisible(false);
  }
  s.currentList.clear();
  s.unsyncedCount.clear();
  s.failedCount.clear();
  s.remoteCount.clear();
  s.ShowCountTexts();
}

void StatusLists::ShowCurrentTab() {
  auto lock = state_->Lock();
  state_->SwitchTo(state_->currentTab);
}

void StatusLists::ToggleLogTab() {
  auto lock = state_->Lock();
  State& s = *state_;
  auto* log = s.Find(kLogButton);
  if (!log) return;
  if (log->IsVisible()) {
    log->SetVisible(false);
    s.SwitchTo(kSyncEventsButton);
  } else {
    log->SetVisible(true);
    s.SwitchTo(kLogButton);
  }
}

void StatusLists::LeaveLocalChangesMode() {
  auto lock = state_->Lock();
  State& s = *state_;
  if (!s.localChangesMode) return;
  s.localChangesMode = false;
  s.unsyncedCount.clear();
  s.ShowCountTexts();
  s.SwitchTo(kUnsyncedButton);
}

void StatusLists::OnLanguageChanged() {
  auto lock = state_->Lock();
  State& s = *state_;
  s.ShowCountTexts();
  // Every list: the action texts of the sync events are the table's, the
  // device, unsynced and size texts are chosen here. The header texts
  // changed too, so the column widths are found afresh (the fonts stay, so
  // what was measured stays true).
  for (State::ListState& ls : s.lists) ls.widths = {};
  for (const ListSpec& spec : Lists()) s.Refresh(spec, true, lock);
}

void StatusLists::OnUnsyncedChanged() {
  auto lock = state_->Lock();
  State& s = *state_;
  if (!s.controller) return;
  const auto n = static_cast<std::int64_t>(s.controller->Status().folder.unsyncedFileCount.load());
  if (n <= 0) s.EmptyList(kUnsyncedList);
  // While the tab lists the locally changed items its text counts those.
  if (s.localChangesMode) return;
  s.unsyncedCount = CountText(n);
  s.ShowCountTexts();
}

void StatusLists::OnFailedCount(std::int64_t count) {
  auto lock = state_->Lock();
  State& s = *state_;
  if (count <= 0) s.EmptyList(kErrorList);
  s.failedCount = CountText(count);
  s.ShowCountTexts();
}

void StatusLists::OnLocalChangesCount(std::int64_t count) {
  {
    auto lock = state_->Lock();
    State& s = *state_;
    if (auto* revert = s.Find(L"REVERTBTN")) revert->SetVisible(true);
    const bool switching = !s.localChangesMode;
    s.localChangesMode = true;
    s.unsyncedCount = CountText(count);
    s.ShowCountTexts();
    if (switching) {
      // The tab now lists the locally changed items (asked for as it opens).
      s.SwitchTo(kUnsyncedButton);
    } else if (s.controller) {
      s.controller->RequestList(StatusList::kLocallyChanged);
    }
  }
  RefreshLocallyChanged();
}

void StatusLists::OnThisDeviceRefresh() {
  auto lock = state_->Lock();
  State& s = *state_;
  const std::wstring key = s.host.LastStateKey();
  if (key == L"Error_Event" || key == L"Up to date") s.thisDeviceBlink = false;
  if (s.thisDeviceBlink) {
    const bool failures = s.controller && s.controller->Status().failed.Size() > 0;
    s.ShowOnly(kThisDeviceButtons, failures ? L"THISDEVICEREDBTN" : L"THISDEVICEGREENBTN");
    s.thisDeviceBlink = false;
  } else {
    s.ShowOnly(kThisDeviceButtons, L"THISDEVICEBTN");
    s.thisDeviceBlink = true;
  }
  s.SyncGroupSelection(kThisDeviceButtons);
}

void StatusLists::OnRemoteDevicesRefresh() {
  auto lock = state_->Lock();
  State& s = *state_;
  int connected = 0;
  bool allComplete = true;
  if (s.controller) {
    for (const DeviceRecord& d : s.controller->Status().devices.Snapshot()) {
      if (!d.connected) continue;
      ++connected;
      if (d.completion < 100) allComplete = false;
    }
  }
  if (s.host.LastStateKey() == L"Error_Event" || connected == 0 || allComplete) s.remoteBlink = false;
  s.remoteCount = CountText(connected);
  s.ShowCountTexts();
  if (s.remoteBlink) {
    s.ShowOnly(kRemoteButtons, L"REMOTEDEVICESGREENBTN");
    s.remoteBlink = false;
  } else {
    s.ShowOnly(kRemoteButtons, L"REMOTEDEVICESBTN");
    s.remoteBlink = true;
  }
  s.SyncGroupSelection(kRemoteButtons);
}

void StatusLists::OnMouseMove(dui::Point point) {
  auto lock = state_->Lock();
  State& s = *state_;
  auto hover = [&](const auto& group) {
    bool over = false;
    for (const wchar_t* name : group) {
      if (auto* b = s.Find(name); b && b->IsVisible() && b->GetPos().Contains(point)) over = true;
    }
    if (over && !IsOneOf(s.currentTab, group)) return;
    const dui::Color color = over ? kDeviceButtonHoverBk : kDeviceButtonBk;
    for (const wchar_t* name : group) {
      if (auto* b = s.Find(name); b && b->GetBkColor() != color) b->SetBkColor(color);
    }
  };
  hover(kThisDeviceButtons);
  hover(kRemoteButtons);
}

void StatusLists::Refresh(StatusList list) {
  const ListSpec* spec = SpecOfKind(list);
  if (!spec) return;
  auto lock = state_->Lock();
  state_->Refresh(*spec, false, lock);
}

void StatusLists::RefreshLocallyChanged() { Refresh(StatusList::kLocallyChanged); }

void StatusLists::DataPass() {
  std::optional<StatusList> kind;
  {
    auto lock = state_->Lock();
    kind = state_->kind;
  }
  if (kind) Refresh(*kind);
}

std::chrono::milliseconds StatusLists::PassInterval() const {
  auto lock = state_->Lock();
  return state_->kind ? std::chrono::milliseconds(100) : std::chrono::milliseconds(400);
}

bool StatusLists::FilledOnlyWhenChanged() const {
  auto lock = state_->Lock();
  if (!state_->kind) return false;
  const ListSpec* spec = SpecOfKind(*state_->kind);
  return spec != nullptr && spec->takeChanged != nullptr;
}

const void* StatusLists::ListOfInterest() const {
  auto lock = state_->Lock();
  if (!state_->kind || !state_->controller) return nullptr;
  const StatusModel& m = state_->controller->Status();
  switch (*state_->kind) {
    case StatusList::kSyncEvents:
      return &m.syncEvents;
    case StatusList::kUnsynced:
      return &m.unsynced;
    case StatusList::kConflicts:
      return &m.conflicts;
    case StatusList::kLocallyChanged:
      return &m.locallyChanged;
    case StatusList::kFailed:
      return &m.failed;
    case StatusList::kLastSynced:
      return &m.lastSynced;
    case StatusList::kRemoteDevices:
      return &m.devices;
    case StatusList::kThisDevice:
      break;
  }
  return nullptr;
}

MainTextCounts StatusLists::Counts() const {
  auto lock = state_->Lock();
  return MainTextCounts{state_->unsyncedCount, state_->failedCount, state_->remoteCount};
}

std::optional<std::wstring> StatusLists::ButtonText(const std::wstring& id, const std::wstring& language) const {
  auto lock = state_->Lock();
  const State& s = *state_;
  if (EqualsIgnoreCase(id, L"UnSync_Btn") && s.localChangesMode) {
    return s.UnsyncedBase(language != L"en") + s.unsyncedCount;
  }
  if (EqualsIgnoreCase(id, L"UnSync_Btn") || EqualsIgnoreCase(id, L"Error_Btn") ||
      EqualsIgnoreCase(id, L"Remote_Devices_Btn")) {
    return MainTextTable::Lookup(id, language, MainTextCounts{s.unsyncedCount, s.failedCount, s.remoteCount});
  }
  return std::nullopt;
}

std::wstring StatusLists::CurrentTabButton() const {
  auto lock = state_->Lock();
  return state_->currentTab;
}

std::wstring StatusLists::CurrentList() const {
  auto lock = state_->Lock();
  return state_->currentList;
}

std::optional<StatusList> StatusLists::Kind() const {
  auto lock = state_->Lock();
  return state_->kind;
}

bool StatusLists::LocalChangesMode() const {
  auto lock = state_->Lock();
  return state_->localChangesMode;
}

}  // namespace orlin
