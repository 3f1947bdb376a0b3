#pragma once
// For suites that run windows through the Qt backend: one application for
// the whole test process (offscreen unless QT_QPA_PLATFORM names another
// platform), and this thread's events handled for a while, as the window
// thread's own loop would.

#include <QApplication>

#include <chrono>
#include <thread>

namespace orlin::dui {

// `name` is the program name Qt is given; it must outlive the process (a
// string literal).
inline void EnsureQtApplication(const char* name) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char* argv[] = {const_cast<char*>(name), nullptr};
  if (!qApp) new QApplication(argc, argv);
}

inline void HandleQtEventsFor(std::chrono::milliseconds time) {
  const auto end = std::chrono::steady_clock::now() + time;
  do {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  } while (std::chrono::steady_clock::now() < end);
}

}  // namespace orlin::dui
