#pragma once
// The Qt 6 Widgets backend. Controls that only show and take clicks
// (layouts, labels, buttons, options, progress bars, trees, list headers and
// menus) are painted by one canvas widget per window; input controls are
// stock widgets kept in step with the model both ways: QLineEdit for edits
// (input methods, password echo, focus), QComboBox for combos, and a
// QListView over a QAbstractItemModel with a painting delegate for lists, so
// long lists never build a widget tree per row.
//
// Model pixels are Qt's device-independent pixels; Qt applies the screen's
// scale factor on top of the window's own DPI setting.
//
// Threads: every widget lives on the GUI thread (the thread of the
// QApplication). Window messages and notifications of every window are
// handled there. Windows made on another thread have their widgets made on
// the GUI thread (blocking hop in CreateNativeWindow), and ShowModal on such
// a thread blocks it until the window is closed, while the window itself runs
// in the GUI thread's event loop.

#include <QObject>
#include <QPixmap>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ui/dui/backend.h"

class QApplication;
class QWidget;

namespace orlin::dui {

class QtBackend : public UiBackend {
 public:
  // Needs a QApplication; its thread is the GUI thread.
  QtBackend();
  ~QtBackend() override;

  std::unique_ptr<NativeWindow> CreateNativeWindow(WindowImplBase& window, NativeWindow* owner,
                                                   const NativeWindowParams& params) override;
  Size MeasureText(const std::wstring& text, const FontSpec& font, unsigned style, int maxWidth) override;
  std::unique_ptr<TrayIconBackend> CreateTrayIcon(const std::filesystem::path& icon, const std::wstring& tooltip,
                                                  std::function<void(unsigned)> onMouse) override;
  bool HasSystemTray() const override;
  std::optional<std::filesystem::path> BrowseForFolder(NativeWindow* owner, const std::wstring& title,
                                                       const std::filesystem::path& start) override;
  Point GetCursorPos() const override;
  void MessageLoop() override;
  void QuitMessageLoop() override;

  // GUI thread only: images by file, loaded once.
  const QPixmap& Image(const std::filesystem::path& file);

  // Runs `task` on the GUI thread and waits for it (directly when already
  // there).
  static void RunOnGuiThread(const std::function<void()>& task);
  static bool IsGuiThread();

 private:
  std::map<std::string, QPixmap> images_;
};

// The widget that shows a window (GUI thread), and back.
QWidget* CanvasOf(NativeWindow* window);
WindowImplBase* WindowOfCanvas(QWidget* canvas);

// Renders a window's current look into a PNG (GUI thread); false on failure.
bool GrabWindow(NativeWindow* window, const std::filesystem::path& png);

}  // namespace orlin::dui
