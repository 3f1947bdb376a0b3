// Prints how long the Win32 backend takes to show a 1000-row item-template
// list and to bring it on screen again after a refill with every row reused
// (the model refill, the window's pass over the model and the repaint of the
// rows in view), and how many native windows it takes.
// Runs on the desktop (under Wine: a virtual display).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench/dui/list_bench_rows.h"
#include "ui/dui/win32/win32_backend.h"

using namespace orlin::dui;
using namespace orlin::bench;
using Clock = std::chrono::steady_clock;

int main() {
  const auto dir = std::filesystem::temp_directory_path() / "orlin-bench-dui-win32";
  LayOutListSkins(dir);
  auto backend = std::make_shared<Win32Backend>();
  UiBackend::Install(backend);
  constexpr int kRounds = 21;
  {
    ListBenchWindow w;
    if (!w.Create(nullptr, L"bench", kWsPopup, 0)) return 1;
    CListUI* list = BenchList(w);
    CDialogBuilder builder;
    FillList(list, w, builder, kListRows, 0);
    const auto t0 = Clock::now();
    w.ShowWindow();
    backend->RunPosted();
    backend->PaintNow(w.GetHWND());
    const auto t1 = Clock::now();
    std::vector<double> refill, model, pass, repaint;
    for (int round = 1; round <= kRounds; ++round) {
      const auto a = Clock::now();
      FillList(list, w, builder, kListRows, round);
      const auto b = Clock::now();
      backend->RunPosted();
      const auto c = Clock::now();
      backend->PaintNow(w.GetHWND());
      const auto d = Clock::now();
      refill.push_back(Ms(d - a));
      model.push_back(Ms(b - a));
      pass.push_back(Ms(c - b));
      repaint.push_back(Ms(d - c));
    }
    for (auto* v : {&refill, &model, &pass, &repaint}) std::sort(v->begin(), v->end());
    const int children = NativeChildCount(w.GetHWND());
    std::printf("Win32 backend, 1000-row list, median (best) of %d refills\n", kRounds);
    std::printf("  show and first paint:           %8.2f ms\n", Ms(t1 - t0));
    std::printf("  refill with reuse and repaint:  %8.2f ms (%.2f)\n", refill[kRounds / 2], refill[0]);
    std::printf("    the model's refill:           %8.2f ms (%.2f)\n", model[kRounds / 2], model[0]);
    std::printf("    the window's pass (layout):   %8.2f ms (%.2f)\n", pass[kRounds / 2], pass[0]);
    std::printf("    the repaint of the rows:      %8.2f ms (%.2f)\n", repaint[kRounds / 2], repaint[0]);
    std::printf("  native windows in the window:   %8d (rows in the list: %d)\n", children, list->GetCount());
  }
  UiBackend::Install(nullptr);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
