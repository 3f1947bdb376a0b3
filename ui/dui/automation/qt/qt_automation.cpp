#include "ui/dui/automation/qt/qt_automation.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "ui/dui/qt/qt_backend.h"
#include "ui/dui/window_impl_base.h"

namespace orlin::automation {

UiThreadPost QtGuiThreadPost() {
  return [](std::function<void()> task) {
    // Hop: the application object lives on the GUI thread; a queued call to
    // it runs there from the event loop.
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
  };
}

WindowPicture QtWindowPicture() {
  return [](dui::WindowImplBase& window, const std::filesystem::path& file) {
    return dui::GrabWindow(window.GetHWND(), file);
  };
}

}  // namespace orlin::automation
