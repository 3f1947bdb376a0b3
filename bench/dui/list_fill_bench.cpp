// Prints how long a status list takes to fill with 1000 rows built from an
// item template, to refill with every row reused, and how much memory the
// rows add. Runs on the headless backend (the model the windows fill; the Qt
// backend shows it through one list view without widgets per row).

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench/dui/list_bench_rows.h"
#include "ui/dui/headless_backend.h"

namespace {

using namespace orlin::dui;
using namespace orlin::bench;
using Clock = std::chrono::steady_clock;

std::size_t HeapInUse() { return mallinfo2().uordblks; }

// The fill with the layout the window does after it.
void Fill(CListUI* list, ListBenchWindow& w, CDialogBuilder& builder, int n, int generation) {
  FillList(list, w, builder, n, generation);
  w.GetPaintManager().LayoutIfNeeded();
}

}  // namespace

int main() {
  const auto dir = std::filesystem::temp_directory_path() / "orlin-bench-dui";
  LayOutListSkins(dir);
  UiBackend::Install(std::make_shared<HeadlessBackend>());

  constexpr int kRows = kListRows, kRounds = 7;
  std::vector<double> fill, refill, shrinkGrow;
  std::vector<std::size_t> added;
  for (int round = 0; round < kRounds; ++round) {
    ListBenchWindow w;
    if (!w.Create(nullptr, L"bench", 0, 0)) {
      std::fputs("cannot build the bench skin\n", stderr);
      return 1;
    }
    CListUI* list = BenchList(w);
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
