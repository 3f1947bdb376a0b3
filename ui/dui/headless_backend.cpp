#include "ui/dui/headless_backend.h"

#include <algorithm>

#include "ui/dui/window_impl_base.h"

namespace orlin::dui {

// ---------------------------------------------------------------- the queue

void HeadlessBackend::Queue::Push(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  cv_.notify_all();
}

int HeadlessBackend::Queue::RunPending() {
  int ran = 0;
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) return ran;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
    ++ran;
  }
}

void HeadlessBackend::Queue::WaitAndRun() {
  {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return !tasks_.empty() || woken_; });
    woken_ = false;
  }
  RunPending();
}

void HeadlessBackend::Queue::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  cv_.notify_all();
}

// ----------------------------------------------------------- native window

namespace {

class HeadlessWindow : public NativeWindow {
 public:
  HeadlessWindow(std::shared_ptr<HeadlessBackend> backend, WindowImplBase& window,
                 std::shared_ptr<HeadlessBackend::Queue> queue)
      : backend_(std::move(backend)), window_(window), queue_(std::move(queue)), thread_(std::this_thread::get_id()) {}
  ~HeadlessWindow() override { backend_->Forget(this); }

  void Dispatch(std::function<void()> task) override { queue_->Push(std::move(task)); }
  bool IsOwnThread() const override { return std::this_thread::get_id() == thread_; }
  void Show(bool show, bool) override { shown_ = show && !destroyed_; }
  bool IsShown() const override { return shown_; }
  void SetWindowState(WindowState state) override { state_ = state; }
  WindowState GetWindowState() const override { return state_; }
  void SetInputEnabled(bool enabled) override { enabled_ = enabled; }
  bool IsInputEnabled() const override { return enabled_; }
  void SetExStyle(std::uint32_t exStyle) override { exStyle_ = exStyle; }
  void BringToTop() override {}
  void SetRect(const Rect& r) override {
    std::lock_guard lock(mutex_);
    rect_ = r;
  }
  Rect GetRect() const override {
    std::lock_guard lock(mutex_);
    return rect_;
  }
  Rect GetWorkArea() const override { return backend_->WorkArea(); }
  void ControlChanged(CControlUI*, bool) override {}
  void ControlRemoved(CControlUI*) override {}
  void RunModal() override {
    backend_->RunModalHook(window_);
    while (!ended_) queue_->WaitAndRun();
  }
  void EndModal() override {
    ended_ = true;
    queue_->Wake();
  }
  void Destroy() override {
    destroyed_ = true;
    shown_ = false;
    backend_->Forget(this);
  }

 private:
  std::shared_ptr<HeadlessBackend> backend_;
  WindowImplBase& window_;
  std::shared_ptr<HeadlessBackend::Queue> queue_;
  std::thread::id thread_;
  mutable std::mutex mutex_;
  Rect rect_;
  std::atomic<bool> shown_{false}, ended_{false}, destroyed_{false}, enabled_{true};
  std::atomic<WindowState> state_{WindowState::kNormal};
  std::atomic<std::uint32_t> exStyle_{0};
};

}  // namespace

class HeadlessTray : public TrayIconBackend {
 public:
  HeadlessTray(std::shared_ptr<HeadlessBackend> backend, std::function<void(unsigned)> onMouse)
      : backend_(std::move(backend)), onMouse_(std::move(onMouse)) {
    std::lock_guard lock(backend_->mutex_);
    backend_->trays_.push_back(&onMouse_);
  }
  ~HeadlessTray() override {
    std::lock_guard lock(backend_->mutex_);
    auto& t = backend_->trays_;
    t.erase(std::remove(t.begin(), t.end(), &onMouse_), t.end());
  }

 private:
  std::shared_ptr<HeadlessBackend> backend_;
  std::function<void(unsigned)> onMouse_;
};

HeadlessBackend::HeadlessBackend() = default;

std::shared_ptr<HeadlessBackend::Queue> HeadlessBackend::QueueOfThisThread() {
  std::lock_guard lock(mutex_);
  auto& q = queues_[std::this_thread::get_id()];
  if (!q) q = std::make_shared<Queue>();
  return q;
}

std::unique_ptr<NativeWindow> HeadlessBackend::CreateNativeWindow(WindowImplBase& window, NativeWindow*,
                                                                  const NativeWindowParams&) {
  auto native = std::make_unique<HeadlessWindow>(shared_from_this(), window, QueueOfThisThread());
  std::lock_guard lock(mutex_);
  windows_.emplace_back(native.get(), &window);
  return native;
}

void HeadlessBackend::Forget(NativeWindow* native) {
  std::lock_guard lock(mutex_);
  windows_.erase(std::remove_if(windows_.begin(), windows_.end(), [native](auto& p) { return p.first == native; }),
                 windows_.end());
}

std::vector<WindowImplBase*> HeadlessBackend::Windows() {
  std::lock_guard lock(mutex_);
  std::vector<WindowImplBase*> out;
  for (auto& p : windows_) out.push_back(p.second);
  return out;
}

Size HeadlessBackend::MeasureText(const std::wstring& text, const FontSpec& font, unsigned style, int maxWidth) {
  const int half = std::max(font.size / 2, 1);
  const int lineHeight = font.size + 4;
  const bool wrap = (style & kDtWordBreak) && maxWidth > 0;
  int widest = 0, lineWidth = 0, lines = 1;
  for (wchar_t ch : text) {
    if (ch == L'\n' && !(style & kDtSingleLine)) {
      widest = std::max(widest, lineWidth);
      lineWidth = 0;
      ++lines;
      continue;
    }
    int w = (ch >= 0x2E80) ? 2 * half : (ch == L'\t' ? 4 * half : half);
    if (wrap && lineWidth + w > maxWidth && lineWidth > 0) {
      widest = std::max(widest, lineWidth);
      lineWidth = 0;
      ++lines;
    }
    lineWidth += w;
  }
  widest = std::max(widest, lineWidth);
  return Size{widest, lines * lineHeight};
}

std::unique_ptr<TrayIconBackend> HeadlessBackend::CreateTrayIcon(const std::filesystem::path&, const std::wstring&,
                                                                 std::function<void(unsigned)> onMouse) {
  if (!hasTray_) return nullptr;
  return std::make_unique<HeadlessTray>(shared_from_this(), std::move(onMouse));
}

std::optional<std::filesystem::path> HeadlessBackend::BrowseForFolder(NativeWindow*, const std::wstring&,
                                                                     const std::filesystem::path&) {
  std::lock_guard lock(mutex_);
  auto out = std::move(nextFolder_);
  nextFolder_.reset();
  return out;
}

void HeadlessBackend::ClickTray(unsigned mouseMessage) {
  std::vector<std::function<void(unsigned)>> copies;
  {
    std::lock_guard lock(mutex_);
    for (auto* t : trays_) copies.push_back(*t);
  }
  for (auto& f : copies) f(mouseMessage);
}

void HeadlessBackend::MessageLoop() {
  auto q = QueueOfThisThread();
  quit_ = false;
  while (!quit_) q->WaitAndRun();
}

void HeadlessBackend::QuitMessageLoop() {
  quit_ = true;
  std::lock_guard lock(mutex_);
  for (auto& [id, q] : queues_) q->Wake();
}

int HeadlessBackend::Pump() { return QueueOfThisThread()->RunPending(); }

void HeadlessBackend::SetModalHook(std::function<void(WindowImplBase&)> hook) {
  std::lock_guard lock(mutex_);
  modalHook_ = std::move(hook);
}

void HeadlessBackend::RunModalHook(WindowImplBase& window) {
  std::function<void(WindowImplBase&)> hook;
  {
    std::lock_guard lock(mutex_);
    hook = modalHook_;
  }
  if (hook) hook(window);
}

void ClickControl(WindowImplBase& window, const std::wstring& name) {
  auto& pm = window.GetPaintManager();
  pm.LayoutIfNeeded();
  CControlUI* c = pm.FindControl(name);
  if (!c) return;
  Rect r = c->GetPos();
  Point p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  window.HandleMessage(kWmLButtonDown, 0, MakePointLParam(p));
  window.HandleMessage(kWmLButtonUp, 0, MakePointLParam(p));
}

}  // namespace orlin::dui
