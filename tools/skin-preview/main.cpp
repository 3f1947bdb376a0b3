// orlin-skin-preview --skin FILE [--lang en|zh_cn] [--size WxH] --out PNG [--message KEY]
//                    [--resources DIR] [--dpi N]
//
// Renders a skin offscreen through the Qt backend into a PNG. Skins and
// images are read from DIR (default: the program's own folder, where the
// install puts them). A skin with a menu container is shown as the tray menu;
// --message shows the message window with the text of KEY.

#include <QApplication>

#include <cstdio>

#include "tools/skin-preview/skin_preview.h"
#include "ui/dui/qt/qt_backend.h"

int main(int argc, char** argv) {
  using namespace orlin;
  const auto request = preview::ParseRequest(argc, argv);
  if (!request) return 2;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  dui::UiBackend::Install(std::make_shared<dui::QtBackend>());
  int status = 1;
  {
    preview::ScratchInstance instance(request->lang);
    auto window = preview::ShowPreview(*request, QCoreApplication::applicationDirPath().toStdString(), instance);
    if (window) {
      QApplication::processEvents();
      if (dui::GrabWindow(window->GetHWND(), request->out)) status = 0;
      else std::fprintf(stderr, "orlin-skin-preview: cannot write %s\n", request->out.string().c_str());
    }
  }
  dui::UiBackend::Install(nullptr);
  return status;
}
