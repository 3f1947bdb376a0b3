// Prints how long the Qt backend takes to show a 1000-row item-template list
// (offscreen) and to repaint it after a refill with reuse, and the memory the
// shown list adds on top of the rows themselves.

#include <malloc.h>

#include <QApplication>
#include <QListView>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "ui/dui/qt/qt_backend.h"
#include "ui/dui/window_impl_base.h"

namespace {

using namespace orlin::dui;
using Clock = std::chrono::steady_clock;

const char kSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="800,600"><VerticalLayout>
  <List name="LIST" itemheight="24">
    <ListHeader height="24"><ListHeaderItem text="No" width="50"/><ListHeaderItem text="File"/></ListHeader>
  </List>
</VerticalLayout></Window>)";

const char kRow[] = R"(<ListContainerElement height="24">
  <Label name="NOLABEL" width="50" align="right"/><Label name="FILELABEL"/><Label name="SIZELABEL" width="80"/>
</ListContainerElement>)";

class BenchWindow : public WindowImplBase {
 public:
  std::wstring GetWindowClassName() const override { return L"BenchWnd"; }
  std::wstring GetSkinFile() override { return L"bench.xml"; }
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Fill(CListUI* list, BenchWindow& w, CDialogBuilder& builder, int generation) {
  for (int i = 0; i < 1000; ++i) {
    CControlUI* row = list->GetItemAt(i);
    if (!row) {
      row = builder.CreateCached(L"row.xml", &w, &w.GetPaintManager());
      list->Add(row);
    }
    row->FindSubControl(L"NOLABEL")->SetText(std::to_wstring(1000 - i));
    row->FindSubControl(L"FILELABEL")->SetText(L"report-" + std::to_wstring(generation) + L"-" + std::to_wstring(i));
    row->FindSubControl(L"SIZELABEL")->SetText(std::to_wstring(i) + L" KB");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  auto dir = std::filesystem::temp_directory_path() / "orlin-bench-dui-qt";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "bench.xml") << kSkin;
  std::ofstream(dir / "row.xml") << kRow;
  CPaintManagerUI::SetResourcePath(dir);
  UiBackend::Install(std::make_shared<QtBackend>());
  {
    BenchWindow w;
    if (!w.Create(nullptr, L"bench", kWsPopup, 0)) return 1;
    auto* list = static_cast<CListUI*>(w.GetPaintManager().FindControl(L"LIST"));
    CDialogBuilder builder;
    Fill(list, w, builder, 0);
    std::size_t before = mallinfo2().uordblks;
    auto t0 = Clock::now();
    w.ShowWindow();
    QApplication::processEvents();
    QWidget* canvas = CanvasOf(w.GetHWND());
    canvas->grab();  // one full paint, list rows included
    auto t1 = Clock::now();
    std::size_t shown = mallinfo2().uordblks - before;
    Fill(list, w, builder, 1);
    QApplication::processEvents();
    canvas->grab();
    auto t2 = Clock::now();
    auto* view = canvas->findChild<QListView*>();
    std::printf("Qt backend, 1000-row list (offscreen)\n");
    std::printf("  show and first paint:           %8.2f ms\n", Ms(t1 - t0));
    std::printf("  refill with reuse and repaint:  %8.2f ms\n", Ms(t2 - t1));
    std::printf("  memory added by showing it:     %8.1f KiB\n", shown / 1024.0);
    std::printf("  widgets in the window:          %8d (view rows: %d)\n",
                static_cast<int>(canvas->findChildren<QWidget*>().size()), view ? view->model()->rowCount() : 0);
  }
  UiBackend::Install(nullptr);
  std::filesystem::remove_all(dir);
  return 0;
}
