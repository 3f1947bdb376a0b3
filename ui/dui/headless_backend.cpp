#include "ui/dui/headless_backend.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "common/text.h"
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

// --------------------------------------------------------- recording surface

bool RecordingSurface::Op::Shows() const {
  Rect area = rect;
  if (kind == OpKind::kRoundRect) {
    area = Rect{static_cast<int>(shape.left), static_cast<int>(shape.top), static_cast<int>(shape.right + 0.999f),
                static_cast<int>(shape.bottom + 0.999f)};
  } else if (kind == OpKind::kPolyline) {
    if (points.empty()) return false;
    area = Rect{static_cast<int>(points[0].x), static_cast<int>(points[0].y), static_cast<int>(points[0].x) + 1,
                static_cast<int>(points[0].y) + 1};
  }
  if (area.IsEmpty()) return false;
  if (!clip) return true;
  Rect both{std::max(area.left, clip->left), std::max(area.top, clip->top), std::min(area.right, clip->right),
            std::min(area.bottom, clip->bottom)};
  return !both.IsEmpty();
}

Rect RecordingSurface::Moved(const Rect& r) const {
  return Rect{r.left + state_.dx, r.top + state_.dy, r.right + state_.dx, r.bottom + state_.dy};
}

void RecordingSurface::Record(Op op) {
  op.clip = state_.clip;
  ops_.push_back(std::move(op));
}

void RecordingSurface::FillRect(const Rect& r, Color color) {
  Op op;
  op.kind = OpKind::kFill;
  op.rect = Moved(r);
  op.color = color;
  Record(std::move(op));
}

void RecordingSurface::DrawRoundRect(const RectF& r, float radius, Color fill, Color line, float lineWidth) {
  Op op;
  op.kind = OpKind::kRoundRect;
  const float dx = static_cast<float>(state_.dx), dy = static_cast<float>(state_.dy);
  op.shape = RectF{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
  op.radius = radius;
  op.color = fill;
  op.line = line;
  op.lineWidth = lineWidth;
  Record(std::move(op));
}

void RecordingSurface::DrawPolyline(const std::vector<PointF>& points, Color line, float lineWidth) {
  Op op;
  op.kind = OpKind::kPolyline;
  for (const PointF& p : points) op.points.push_back(PointF{p.x + state_.dx, p.y + state_.dy});
  op.line = line;
  op.lineWidth = lineWidth;
  Record(std::move(op));
}

void RecordingSurface::SetImageSize(const std::filesystem::path& file, Size size) { sizes_[file] = size; }

std::optional<Size> RecordingSurface::ImageSize(const std::filesystem::path& file) {
  if (auto it = sizes_.find(file); it != sizes_.end()) return it->second;
  // The width and height lie big-endian at bytes 16 and 20 of a PNG file.
  std::ifstream in(file, std::ios::binary);
  unsigned char head[24] = {};
  if (!in.read(reinterpret_cast<char*>(head), sizeof head)) return std::nullopt;
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (!std::equal(std::begin(kSignature), std::end(kSignature), head)) return std::nullopt;
  auto word = [&](int at) { return (head[at] << 24) | (head[at + 1] << 16) | (head[at + 2] << 8) | head[at + 3]; };
  return Size{word(16), word(20)};
}

void RecordingSurface::DrawImage(const std::filesystem::path& file, const Rect& dest, const Rect& source) {
  Op op;
  op.kind = OpKind::kImage;
  op.rect = Moved(dest);
  op.file = file;
  op.source = source;
  Record(std::move(op));
}

void RecordingSurface::DrawText(const Rect& r, const std::wstring& text, const FontSpec& font, Color color,
                                unsigned style) {
  Op op;
  op.kind = OpKind::kText;
  op.rect = Moved(r);
  op.text = text;
  op.font = font;
  op.color = color;
  op.style = style;
  Record(std::move(op));
}

void RecordingSurface::Save() { saved_.push_back(state_); }

void RecordingSurface::Restore() {
  if (saved_.empty()) return;
  state_ = saved_.back();
  saved_.pop_back();
}

void RecordingSurface::ClipRect(const Rect& r) {
  Rect c = Moved(r);
  if (state_.clip) {
    c = Rect{std::max(c.left, state_.clip->left), std::max(c.top, state_.clip->top),
             std::min(c.right, state_.clip->right), std::min(c.bottom, state_.clip->bottom)};
  }
  state_.clip = c;
}

void RecordingSurface::Translate(int dx, int dy) {
  state_.dx += dx;
  state_.dy += dy;
}

std::vector<RecordingSurface::Op> RecordingSurface::OpsOf(OpKind kind) const {
  std::vector<Op> out;
  for (const Op& op : ops_) {
    if (op.kind == kind) out.push_back(op);
  }
  return out;
}

const RecordingSurface::Op* RecordingSurface::FindText(const std::wstring& text) const {
  for (const Op& op : ops_) {
    if (op.kind == OpKind::kText && op.text == text) return &op;
  }
  return nullptr;
}

std::string RecordingSurface::Describe() const {
  std::ostringstream out;
  auto rect = [&](const Rect& r) { out << r.left << ',' << r.top << ',' << r.right << ',' << r.bottom; };
  for (const Op& op : ops_) {
    switch (op.kind) {
      case OpKind::kFill: out << "fill "; rect(op.rect); out << " #" << std::hex << op.color << std::dec; break;
      case OpKind::kRoundRect:
        out << "roundrect " << op.shape.left << ',' << op.shape.top << ',' << op.shape.right << ',' << op.shape.bottom
            << " r" << op.radius << " fill #" << std::hex << op.color << " line #" << op.line << std::dec;
        break;
      case OpKind::kPolyline: out << "polyline " << op.points.size() << " points"; break;
      case OpKind::kImage: out << "image "; rect(op.rect); out << ' ' << op.file.filename().string(); break;
      case OpKind::kText: out << "text "; rect(op.rect); out << " '" << WideToUtf8(op.text) << "'"; break;
    }
    if (op.clip) {
      out << " clip ";
      rect(*op.clip);
    }
    out << '\n';
  }
  return out.str();
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
