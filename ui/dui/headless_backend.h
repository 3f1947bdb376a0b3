#pragma once
// A backend without a screen: windows are the model alone, text measurement
// is deterministic, and each thread that creates windows has its own message
// queue (as Win32 threads do), which tests pump. Window logic is tested on it.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ui/dui/backend.h"
#include "ui/dui/render_engine.h"

namespace orlin::dui {

class HeadlessBackend : public UiBackend, public std::enable_shared_from_this<HeadlessBackend> {
 public:
  // A thread's message queue.
  class Queue {
   public:
    void Push(std::function<void()> task);
    // Runs queued tasks until none is left; returns how many ran.
    int RunPending();
    // Waits for at least one task (or a wake-up), then runs what is queued.
    void WaitAndRun();
    void Wake();

   private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> tasks_;
    bool woken_ = false;
  };

  HeadlessBackend();

  std::unique_ptr<NativeWindow> CreateNativeWindow(WindowImplBase& window, NativeWindow* owner,
                                                   const NativeWindowParams& params) override;
  // Every character is half the font size wide (CJK characters the full size);
  // a line is the font size + 4 high; "\n" starts a line; word breaking wraps
  // at `maxWidth` when the style asks for it.
  Size MeasureText(const std::wstring& text, const FontSpec& font, unsigned style, int maxWidth) override;
  std::unique_ptr<TrayIconBackend> CreateTrayIcon(const std::filesystem::path& icon, const std::wstring& tooltip,
                                                  std::function<void(unsigned)> onMouse) override;
  bool HasSystemTray() const override { return hasTray_; }
  // Answers with what SetNextFolder gave (once), else nullopt as a cancel.
  std::optional<std::filesystem::path> BrowseForFolder(NativeWindow* owner, const std::wstring& title,
                                                       const std::filesystem::path& start) override;
  void SetNextFolder(std::optional<std::filesystem::path> folder) { nextFolder_ = std::move(folder); }
  Point GetCursorPos() const override { return cursor_; }
  void MessageLoop() override;
  void QuitMessageLoop() override;

  // Test controls.
  void SetHasSystemTray(bool has) { hasTray_ = has; }
  void SetCursorPos(Point p) { cursor_ = p; }
  Rect WorkArea() const { return workArea_; }
  // Runs what is queued for the calling thread.
  int Pump();
  // Called on the thread that enters a modal loop, with the window, before
  // the loop waits (tests click buttons from here).
  void SetModalHook(std::function<void(WindowImplBase&)> hook);
  // Clicks the tray icon (Win32 mouse message numbers).
  void ClickTray(unsigned mouseMessage);
  // Every window made and not yet destroyed, in creation order.
  std::vector<WindowImplBase*> Windows();

  std::shared_ptr<Queue> QueueOfThisThread();
  void RunModalHook(WindowImplBase& window);
  void Forget(NativeWindow* native);

 private:
  friend class HeadlessTray;
  std::mutex mutex_;
  std::map<std::thread::id, std::shared_ptr<Queue>> queues_;
  std::function<void(WindowImplBase&)> modalHook_;
  std::vector<std::pair<NativeWindow*, WindowImplBase*>> windows_;
  std::vector<std::function<void(unsigned)>*> trays_;
  bool hasTray_ = true;
  std::optional<std::filesystem::path> nextFolder_;
  std::atomic<bool> quit_{false};
  Point cursor_{100, 100};
  Rect workArea_{0, 0, 1920, 1080};
};

// A surface that keeps what is painted on it, so the paint pass is tested
// without a screen. Coordinates are recorded with the translation applied,
// with the clip in force at that moment.
class RecordingSurface : public RenderSurface {
 public:
  enum class OpKind { kFill, kRoundRect, kPolyline, kImage, kText };
  struct Op {
    OpKind kind = OpKind::kFill;
    Rect rect;        // fill, image destination, text rectangle
    RectF shape;      // rounded rectangle
    float radius = 0;
    float lineWidth = 0;
    Color color = 0;  // fill, text colour, the rounded rectangle's fill
    Color line = 0;   // outline and polyline colour
    std::vector<PointF> points;
    std::filesystem::path file;
    Rect source;
    std::wstring text;
    FontSpec font;
    unsigned style = 0;
    std::optional<Rect> clip;  // none: unclipped
    // Whether any of it can show inside its clip.
    bool Shows() const;
  };

  void FillRect(const Rect& r, Color color) override;
  void DrawRoundRect(const RectF& r, float radius, Color fill, Color line, float lineWidth) override;
  void DrawPolyline(const std::vector<PointF>& points, Color line, float lineWidth) override;
  // What SetImageSize gave, else the size in a PNG file's header.
  std::optional<Size> ImageSize(const std::filesystem::path& file) override;
  void DrawImage(const std::filesystem::path& file, const Rect& dest, const Rect& source) override;
  void DrawText(const Rect& r, const std::wstring& text, const FontSpec& font, Color color, unsigned style) override;
  void Save() override;
  void Restore() override;
  void ClipRect(const Rect& r) override;
  void Translate(int dx, int dy) override;

  void SetImageSize(const std::filesystem::path& file, Size size);
  const std::vector<Op>& Ops() const { return ops_; }
  std::vector<Op> OpsOf(OpKind kind) const;
  // The first text painted with exactly this text, or null.
  const Op* FindText(const std::wstring& text) const;
  void Clear() { ops_.clear(); }
  // One line per operation, for test failure messages.
  std::string Describe() const;

 private:
  struct State {
    int dx = 0, dy = 0;
    std::optional<Rect> clip;
  };
  Rect Moved(const Rect& r) const;
  void Record(Op op);
  std::vector<Op> ops_;
  State state_;
  std::vector<State> saved_;
  std::map<std::filesystem::path, Size> sizes_;
};

// Test helper: presses and releases the left button over a control's centre
// through the window's message handling. Runs on the calling thread, which
// must be the window's message thread.
void ClickControl(WindowImplBase& window, const std::wstring& name);

}  // namespace orlin::dui
