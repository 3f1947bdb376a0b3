// Prints how long the Qt backend takes to show a 1000-row item-template list
// (offscreen) and to repaint it after a refill with reuse, and the memory the
// shown list adds on top of the rows themselves.

#include <malloc.h>

#include <QApplication>
#include <QListView>

#include <chrono>
#include <cstdio>

#include "bench/dui/list_bench_rows.h"
#include "ui/dui/qt/qt_backend.h"

using namespace orlin::dui;
using namespace orlin::bench;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const auto dir = std::filesystem::temp_directory_path() / "orlin-bench-dui-qt";
  LayOutListSkins(dir);
  UiBackend::Install(std::make_shared<QtBackend>());
  {
    ListBenchWindow w;
    if (!w.Create(nullptr, L"bench", kWsPopup, 0)) return 1;
    CListUI* list = BenchList(w);
    CDialogBuilder builder;
    FillList(list, w, builder, kListRows, 0);
    std::size_t before = mallinfo2().uordblks;
    auto t0 = Clock::now();
    w.ShowWindow();
    QApplication::processEvents();
    QWidget* canvas = CanvasOf(w.GetHWND());
    canvas->grab();  // one full paint, list rows included
    auto t1 = Clock::now();
    std::size_t shown = mallinfo2().uordblks - before;
    FillList(list, w, builder, kListRows, 1);
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
