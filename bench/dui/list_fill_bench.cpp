// Prints how long a status list takes to fill with 1000 rows built from an
// item template, to refill with every row reused, and how much memory the
// rows add. Runs on the headless backend (the model the windows fill; the Qt
// backend shows it through one list view without widgets per row).

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <vector>

#include "ui/dui/headless_backend.h"
#include "ui/dui/window_impl_base.h"

namespace {

using namespace orlin::dui;
using Clock = std::chrono::steady_clock;

const char kSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="800,600"><VerticalLayout>
  <List name="LIST" itemheight="24">
    <ListHeader height="24">
      <ListHeaderItem text="No" width="50"/><ListHeaderItem text="File"/>
      <ListHeaderItem text="Time" width="140"/><ListHeaderItem text="Size" width="80"/>
    </ListHeader>
  </List>
</VerticalLayout></Window>)";

const char kRow[] = R"(<?xml version="1.0" encoding="utf-8"?>
<ListContainerElement height="24">
  <Label name="NOLABEL" width="50" align="right" textpadding="0,0,8,0"/>
  <Label name="FILELABEL" textcolor="#FF1F2933" endellipsis="true"/>
  <Label name="WHENLABEL" width="140"/>
  <Label name="SIZELABEL" width="80" align="right"/>
</ListContainerElement>)";

class BenchWindow : public WindowImplBase {
 public:
  std::wstring GetWindowClassName() const override { return L"BenchWnd"; }
  std::wstring GetSkinFile() override { return L"bench.xml"; }
};

std::size_t HeapInUse() { return mallinfo2().uordblks; }

// Row i is reused when it exists and built from the template when not;
// rows from n on are removed, as the status lists do.
void Fill(CListUI* list, BenchWindow& w, CDialogBuilder& builder, int n, int generation) {
  for (int i = 0; i < n; ++i) {
    CControlUI* row = list->GetItemAt(i);
    if (!row) {
      row = builder.CreateCached(L"row.xml", &w, &w.GetPaintManager());
      list->Add(row);
    }
    row->FindSubControl(L"NOLABEL")->SetText(std::to_wstring(n - i));
    row->FindSubControl(L"FILELABEL")->SetText(L"Documents\\project " + std::to_wstring(generation) + L"\\report-" +
                                               std::to_wstring(i) + L".docx");
    row->FindSubControl(L"FILELABEL")->SetToolTip(L"C:\\Users\\someone\\Orlin\\Documents\\report-" + std::to_wstring(i));
    row->FindSubControl(L"WHENLABEL")->SetText(L"2026-12-08 19:" + std::to_wstring(10 + i % 50) + L":00");
    row->FindSubControl(L"SIZELABEL")->SetText(std::to_wstring(i * 37 % 1000) + L".5 KB");
  }
  while (list->GetCount() > n) list->RemoveAt(n);
  w.GetPaintManager().LayoutIfNeeded();
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  auto dir = std::filesystem::temp_directory_path() / "orlin-bench-dui";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "bench.xml") << kSkin;
  std::ofstream(dir / "row.xml") << kRow;
  CPaintManagerUI::SetResourcePath(dir);
  UiBackend::Install(std::make_shared<HeadlessBackend>());

  constexpr int kRows = 1000, kRounds = 7;
  std::vector<double> fill, refill, shrinkGrow;
  std::vector<std::size_t> added;
  for (int round = 0; round < kRounds; ++round) {
    BenchWindow w;
    if (!w.Create(nullptr, L"bench", 0, 0)) {
      std::fputs("cannot build the bench skin\n", stderr);
      return 1;
    }
    auto* list = static_cast<CListUI*>(w.GetPaintManager().FindControl(L"LIST"));
    CDialogBuilder builder;
    std::size_t before = HeapInUse();
    auto t0 = Clock::now();
    Fill(list, w, builder, kRows, 0);
    auto t1 = Clock::now();
    added.push_back(HeapInUse() - before);
    Fill(list, w, builder, kRows, 1);
    auto t2 = Clock::now();
    Fill(list, w, builder, kRows / 2, 2);
    Fill(list, w, builder, kRows, 3);
    auto t3 = Clock::now();
    fill.push_back(Ms(t1 - t0));
    refill.push_back(Ms(t2 - t1));
    shrinkGrow.push_back(Ms(t3 - t2));
  }
  std::sort(added.begin(), added.end());
  std::printf("list of %d item-template rows, median of %d rounds\n", kRows, kRounds);
  std::printf("  first fill (rows built):       %8.2f ms\n", Median(fill));
  std::printf("  refill (every row reused):     %8.2f ms\n", Median(refill));
  std::printf("  to 500 rows and back to 1000:  %8.2f ms\n", Median(shrinkGrow));
  std::printf("  memory added by the rows:      %8.1f KiB (%.0f bytes a row)\n", added[added.size() / 2] / 1024.0,
              static_cast<double>(added[added.size() / 2]) / kRows);
  UiBackend::Install(nullptr);
  std::filesystem::remove_all(dir);
  return 0;
}
