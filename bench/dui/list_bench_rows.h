#pragma once
// The 1000-row item-template list every list benchmark measures, whatever the
// backend: the window's skin, the row template, and the fill the status
// lists do (rows reused where they exist, built from the template where
// not, the surplus removed), so the backends' figures compare like with
// like.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ui/dui/window_impl_base.h"

namespace orlin::bench {

inline constexpr int kListRows = 1000;

class ListBenchWindow : public dui::WindowImplBase {
 public:
  std::wstring GetWindowClassName() const override { return L"BenchWnd"; }
  std::wstring GetSkinFile() override { return L"bench.xml"; }
};

// Writes the window's skin and the row template into `dir`, which becomes
// the resource path.
inline void LayOutListSkins(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "bench.xml") << R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="800,600"><VerticalLayout>
  <List name="LIST" itemheight="24">
    <ListHeader height="24">
      <ListHeaderItem text="No" width="50"/><ListHeaderItem text="File"/>
      <ListHeaderItem text="Time" width="140"/><ListHeaderItem text="Size" width="80"/>
    </ListHeader>
  </List>
</VerticalLayout></Window>)";
  std::ofstream(dir / "row.xml") << R"(<?xml version="1.0" encoding="utf-8"?>
<ListContainerElement height="24">
  <Label name="NOLABEL" width="50" align="right" textpadding="0,0,8,0"/>
  <Label name="FILELABEL" textcolor="#FF1F2933" endellipsis="true"/>
  <Label name="WHENLABEL" width="140"/>
  <Label name="SIZELABEL" width="80" align="right"/>
</ListContainerElement>)";
  dui::CPaintManagerUI::SetResourcePath(dir);
}

inline dui::CListUI* BenchList(ListBenchWindow& w) {
  return static_cast<dui::CListUI*>(w.GetPaintManager().FindControl(L"LIST"));
}

// `n` rows whose texts differ with `generation`: row i is reused when it
// exists and built from the template when not; rows from n on are removed.
inline void FillList(dui::CListUI* list, ListBenchWindow& w, dui::CDialogBuilder& builder, int n, int generation) {
  for (int i = 0; i < n; ++i) {
    dui::CControlUI* row = list->GetItemAt(i);
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
}

inline double Ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace orlin::bench
