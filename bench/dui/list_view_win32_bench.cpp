// Prints how long the Win32 backend takes to show a 1000-row item-template
// list and to bring it on screen again after a refill with every row reused
// (the model refill, the window's pass over the model and the repaint of the
// rows in view), and how many native windows it takes.
// Runs on the desktop (under Wine: a virtual display).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <vector>

#include "ui/dui/win32/win32_backend.h"
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

// The same texts as the headless list bench.
void Fill(CListUI* list, BenchWindow& w, CDialogBuilder& builder, int generation) {
  for (int i = 0; i < 1000; ++i) {
    CControlUI* row = list->GetItemAt(i);
    if (!row) {
      row = builder.CreateCached(L"row.xml", &w, &w.GetPaintManager());
      list->Add(row);
    }
    row->FindSubControl(L"NOLABEL")->SetText(std::to_wstring(1000 - i));
    row->FindSubControl(L"FILELABEL")->SetText(L"Documents\\project " + std::to_wstring(generation) + L"\\report-" +
                                               std::to_wstring(i) + L".docx");
    row->FindSubControl(L"WHENLABEL")->SetText(L"2026-12-08 19:" + std::to_wstring(10 + i % 50) + L":00");
    row->FindSubControl(L"SIZELABEL")->SetText(std::to_wstring(i * 37 % 1000) + L".5 KB");
  }
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main() {
  const auto dir = std::filesystem::temp_directory_path() / "orlin-bench-dui-win32";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "bench.xml") << kSkin;
  std::ofstream(dir / "row.xml") << kRow;
  CPaintManagerUI::SetResourcePath(dir);
  auto backend = std::make_shared<Win32Backend>();
  UiBackend::Install(backend);
  constexpr int kRounds = 21;
  {
    BenchWindow w;
    if (!w.Create(nullptr, L"bench", kWsPopup, 0)) return 1;
    auto* list = static_cast<CListUI*>(w.GetPaintManager().FindControl(L"LIST"));
    CDialogBuilder builder;
    Fill(list, w, builder, 0);
    const auto t0 = Clock::now();
    w.ShowWindow();
    backend->RunPosted();
    backend->PaintNow(w.GetHWND());
    const auto t1 = Clock::now();
    std::vector<double> refill, model, pass, repaint;
    for (int round = 1; round <= kRounds; ++round) {
      const auto a = Clock::now();
      Fill(list, w, builder, round);
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
