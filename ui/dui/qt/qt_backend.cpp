#include "ui/dui/qt/qt_backend.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QEventLoop>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QSystemTrayIcon>
#include <QThread>
#include <QToolTip>
#include <QWindow>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <set>
#include <unordered_map>

#include "common/text.h"
#include "ui/dui/dirty_area.h"
#include "ui/dui/menu_wnd.h"
#include "ui/dui/render_engine.h"
#include "ui/dui/window_impl_base.h"

namespace orlin::dui {

namespace {

QString Q(const std::wstring& s) { return QString::fromStdWString(s); }
QRect ToQRect(const Rect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }
QColor ToQColor(Color c) { return QColor::fromRgba(c); }

QFont ToQFont(const FontSpec& f) {
  QFont q;
  QStringList families;
  for (const QString& name : QString::fromStdString(f.family).split(',', Qt::SkipEmptyParts)) {
    families << name.trimmed();
  }
  if (!families.isEmpty()) q.setFamilies(families);
  q.setPixelSize(std::max(f.size, 1));
  q.setBold(f.bold);
  q.setItalic(f.italic);
  q.setUnderline(f.underline);
  return q;
}

int QtTextFlags(unsigned style) {
  int flags = Qt::TextExpandTabs;
  if (style & kDtCenter) flags |= Qt::AlignHCenter;
  else if (style & kDtRight) flags |= Qt::AlignRight;
  else flags |= Qt::AlignLeft;
  if (style & kDtVCenter) flags |= Qt::AlignVCenter;
  else if (style & kDtBottom) flags |= Qt::AlignBottom;
  else flags |= Qt::AlignTop;
  if (style & kDtWordBreak) flags |= Qt::TextWordWrap;
  if (style & kDtSingleLine) flags |= Qt::TextSingleLine;
  return flags;
}

// ---------------------------------------------------------------- painting

// The paint pass's surface on a QPainter.
class QtSurface : public RenderSurface {
 public:
  QtSurface(QPainter& p, QtBackend& backend) : p_(p), backend_(backend) {}

  void FillRect(const Rect& r, Color color) override { p_.fillRect(ToQRect(r), ToQColor(color)); }

  void DrawRoundRect(const RectF& r, float radius, Color fill, Color line, float lineWidth) override {
    p_.save();
    p_.setRenderHint(QPainter::Antialiasing, radius > 0);
    if (line) {
      QPen pen(ToQColor(line));
      pen.setWidthF(lineWidth);
      p_.setPen(pen);
    } else {
      p_.setPen(Qt::NoPen);
    }
    p_.setBrush(fill ? QBrush(ToQColor(fill)) : QBrush(Qt::NoBrush));
    const QRectF q(r.left, r.top, r.right - r.left, r.bottom - r.top);
    if (radius > 0) p_.drawRoundedRect(q, radius, radius);
    else p_.drawRect(q);
    p_.restore();
  }

  void DrawPolyline(const std::vector<PointF>& points, Color line, float lineWidth) override {
    QPolygonF polygon;
    for (const PointF& pt : points) polygon << QPointF(pt.x, pt.y);
    p_.save();
    p_.setRenderHint(QPainter::Antialiasing);
    p_.setPen(QPen(ToQColor(line), lineWidth));
    p_.drawPolyline(polygon);
    p_.restore();
  }

  std::optional<Size> ImageSize(const std::filesystem::path& file) override {
    const QPixmap& pix = backend_.Image(file);
    if (pix.isNull()) return std::nullopt;
    return Size{pix.width(), pix.height()};
  }

  void DrawImage(const std::filesystem::path& file, const Rect& dest, const Rect& source) override {
    const QPixmap& pix = backend_.Image(file);
    if (pix.isNull()) return;
    p_.save();
    p_.setRenderHint(QPainter::SmoothPixmapTransform);
    p_.drawPixmap(ToQRect(dest), pix, ToQRect(source));
    p_.restore();
  }

  void DrawText(const Rect& r, const std::wstring& text, const FontSpec& font, Color color, unsigned style) override {
    p_.save();
    p_.setFont(ToQFont(font));
    p_.setPen(ToQColor(color));
    QString q = Q(text);
    if (style & kDtEndEllipsis) q = p_.fontMetrics().elidedText(q, Qt::ElideRight, r.Width());
    p_.drawText(ToQRect(r), QtTextFlags(style), q);
    p_.restore();
  }

  void Save() override { p_.save(); }
  void Restore() override { p_.restore(); }
  void ClipRect(const Rect& r) override { p_.setClipRect(ToQRect(r), Qt::IntersectClip); }
  void Translate(int dx, int dy) override { p_.translate(dx, dy); }

 private:
  QPainter& p_;
  QtBackend& backend_;
};

class QtWindow;

// ------------------------------------------------------------ list widgets

class RowModel : public QAbstractListModel {
 public:
  RowModel(CListUI* list, CPaintManagerUI& pm) : list_(list), pm_(pm) {}
  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : count_; }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
    auto lock = pm_.ModelLock();
    CControlUI* row = list_->GetItemAt(index.row());
    if (!row) return {};
    QStringList texts;
    row->Visit([&](CControlUI& c) {
      if (&c != row && !c.GetText().empty()) texts << Q(c.GetText());
      return true;
    });
    return texts.join(QStringLiteral("  "));
  }
  // GUI thread, model lock held.
  void Sync() {
    int n = list_->GetCount();
    if (n != count_) {
      beginResetModel();
      count_ = n;
      endResetModel();
    }
  }

 private:
  CListUI* list_;
  CPaintManagerUI& pm_;
  int count_ = 0;
};

class RowDelegate : public QStyledItemDelegate {
 public:
  RowDelegate(CListUI* list, CPaintManagerUI& pm, QtBackend& backend) : list_(list), pm_(pm), backend_(backend) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    auto lock = pm_.ModelLock();
    const QRect& r = option.rect;
    QtSurface surface(*painter, backend_);
    CRenderPass(pm_, surface)
        .PaintListRow(*list_, index.row(), Rect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()},
                      (option.state & QStyle::State_MouseOver) != 0);
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    auto lock = pm_.ModelLock();
    CControlUI* row = list_->GetItemAt(index.row());
    int h = row && row->GetFixedHeight() > 0 ? row->GetFixedHeight() : list_->GetItemHeight();
    return QSize(option.rect.width(), pm_.Scale(h));
  }

 private:
  CListUI* list_;
  CPaintManagerUI& pm_;
  QtBackend& backend_;
};

class ListWidget : public QListView {
 public:
  ListWidget(CListUI* list, CPaintManagerUI& pm, QtBackend& backend, QWidget* parent)
      : QListView(parent), list_(list), pm_(pm), model_(list, pm), delegate_(list, pm, backend) {
    setModel(&model_);
    setItemDelegate(&delegate_);
    setUniformItemSizes(true);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
    connect(this, &QListView::doubleClicked, this, [this](const QModelIndex& index) {
      auto lock = pm_.ModelLock();
      list_->ActivateRow(index.row());
    });
  }
  // A new row count resets the view (which repaints itself); changed rows
  // are painted again.
  void Sync(bool rowsChanged) {
    model_.Sync();
    if (rowsChanged) viewport()->update();
  }

  // The control of a row under a viewport point, or null (model lock held).
  CControlUI* ControlAt(QPoint p) {
    QModelIndex index = indexAt(p);
    if (!index.isValid()) return nullptr;
    CControlUI* row = list_->GetItemAt(index.row());
    if (!row) return nullptr;
    QPoint inRow = p - visualRect(index).topLeft();
    return row->FindControlAt(Point{row->GetPos().left + inRow.x(), row->GetPos().top + inRow.y()});
  }

 protected:
  bool viewportEvent(QEvent* e) override {
    if (e->type() == QEvent::ToolTip) {
      auto* help = static_cast<QHelpEvent*>(e);
      auto lock = pm_.ModelLock();
      CControlUI* c = ControlAt(help->pos());
      if (!c || c->GetToolTip().empty()) {
        QToolTip::hideText();
        return true;
      }
      QString tip = Q(c->GetToolTip());
      if (pm_.GetTooltipMaxWidth() > 0) tip = QStringLiteral("<p style='white-space:pre'>%1</p>").arg(tip.toHtmlEscaped());
      QToolTip::showText(help->globalPos(), tip, viewport());
      return true;
    }
    return QListView::viewportEvent(e);
  }

  void mouseReleaseEvent(QMouseEvent* e) override {
    QListView::mouseReleaseEvent(e);
    if (e->button() != Qt::LeftButton) return;
    QModelIndex index = indexAt(e->position().toPoint());
    if (!index.isValid()) return;
    auto lock = pm_.ModelLock();
    list_->SelectItem(index.row());
    // A click on a button inside a row reaches that button.
    CControlUI* row = list_->GetItemAt(index.row());
    CControlUI* hit = ControlAt(e->position().toPoint());
    if (hit && hit != row && hit->IsClickable() && hit->IsEnabled()) hit->Activate();
    viewport()->update();
  }

 private:
  CListUI* list_;
  CPaintManagerUI& pm_;
  RowModel model_;
  RowDelegate delegate_;
};

// -------------------------------------------------------------- the canvas

class Canvas : public QWidget {
 public:
  Canvas(QtWindow* window, Qt::WindowFlags flags) : QWidget(nullptr, flags), window_(window) {
    setMouseTracking(true);
    setAttribute(Qt::WA_DeleteOnClose, false);
  }
  QtWindow* window_;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void leaveEvent(QEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void closeEvent(QCloseEvent* e) override;
  void hideEvent(QHideEvent*) override;
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
};

class QtWindow : public NativeWindow {
 public:
  QtWindow(QtBackend& backend, WindowImplBase& window, const NativeWindowParams& params)
      : backend_(backend), window_(window), pm_(window.GetPaintManager()) {
    Qt::WindowFlags flags = Qt::Window;
    popupMenu_ = dynamic_cast<CMenuWnd*>(&window) != nullptr;
    if (popupMenu_) flags = Qt::Popup | Qt::FramelessWindowHint;
    else if (params.style & kWsPopup) flags |= Qt::FramelessWindowHint;
    if (params.exStyle & kWsExTopmost) flags |= Qt::WindowStaysOnTopHint;
    canvas_ = new Canvas(this, flags);
    canvas_->setWindowTitle(Q(params.windowName));
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect a = screen->availableGeometry();
      workArea_ = Rect{a.left(), a.top(), a.right() + 1, a.bottom() + 1};
    }
  }
  ~QtWindow() override { Destroy(); }

  void Dispatch(std::function<void()> task) override {
    std::lock_guard lock(mutex_);
    if (!canvas_) return;
    // The canvas outlives this window by a moment (deleteLater): tasks still
    // queued then are dropped unrun.
    std::function<void()> guarded = [alive = alive_, task = std::move(task)] {
      if (*alive) task();
    };
    QMetaObject::invokeMethod(canvas_, std::move(guarded), Qt::QueuedConnection);
  }
  bool IsOwnThread() const override { return QtBackend::IsGuiThread(); }
  void SetTitle(const std::wstring& title) override {
    OnGui([this, title] {
      if (canvas_) canvas_->setWindowTitle(Q(title));
    });
  }
  void Show(bool show, bool activate) override {
    shown_ = show;
    OnGui([this, show, activate] {
      if (!canvas_) return;
      if (show) {
        Sync();
        canvas_->show();
        if (activate) {
          canvas_->raise();
          canvas_->activateWindow();
        }
      } else {
        canvas_->hide();
      }
    });
  }
  bool IsShown() const override { return shown_; }
  void SetWindowState(WindowState state) override {
    state_ = state;
    OnGui([this, state] {
      if (!canvas_) return;
      Qt::WindowStates s = canvas_->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
      if (state == WindowState::kMinimized) s |= Qt::WindowMinimized;
      if (state == WindowState::kMaximized) s |= Qt::WindowMaximized;
      canvas_->setWindowState(s);
    });
  }
  WindowState GetWindowState() const override { return state_; }
  void SetInputEnabled(bool enabled) override {
    enabled_ = enabled;
    OnGui([this, enabled] {
      if (canvas_) canvas_->setEnabled(enabled);
    });
  }
  bool IsInputEnabled() const override { return enabled_; }
  void SetExStyle(std::uint32_t exStyle) override {
    OnGui([this, exStyle] {
      if (!canvas_ || popupMenu_) return;
      // A tool window stays off the taskbar; flags take effect on showing.
      bool visible = canvas_->isVisible();
      Qt::WindowFlags flags = canvas_->windowFlags() & ~(Qt::Tool | Qt::WindowStaysOnTopHint);
      flags |= (exStyle & kWsExToolWindow) ? Qt::Tool : Qt::Window;
      if (exStyle & kWsExTopmost) flags |= Qt::WindowStaysOnTopHint;
      canvas_->setWindowFlags(flags);
      if (visible) canvas_->show();
    });
  }
  void BringToTop() override {
    OnGui([this] {
      if (!canvas_) return;
      canvas_->raise();
      canvas_->activateWindow();
    });
  }
  void SetRect(const Rect& r) override {
    {
      std::lock_guard lock(mutex_);
      rect_ = r;
    }
    OnGui([this, r] {
      if (canvas_) canvas_->setGeometry(ToQRect(r));
    });
  }
  Rect GetRect() const override {
    std::lock_guard lock(mutex_);
    return rect_;
  }
  Rect GetWorkArea() const override { return workArea_; }
  void ControlChanged(CControlUI* control, bool layout) override {
    // What changes inside a list's row shows in that list's view alone; the
    // views let the window show through, so a change under one repaints it
    // with the window.
    if (CListUI* list = ListHoldingRow(control)) {
      std::lock_guard lock(mutex_);
      dirtyLists_.insert(list);
    } else {
      dirty_.Add(control, layout);
    }
    if (syncPending_.exchange(true)) return;
    Dispatch([this] { Sync(); });
  }
  void ControlRemoved(CControlUI* control) override {
    QPointer<QWidget> widget;
    {
      std::lock_guard lock(mutex_);
      auto it = widgets_.find(control);
      if (it == widgets_.end()) return;
      widget = it->second;
      widgets_.erase(it);
    }
    if (QtBackend::IsGuiThread()) delete widget.data();
    else if (widget) widget->deleteLater();
  }
  void RunModal() override {
    if (QtBackend::IsGuiThread()) {
      QEventLoop loop;
      loop_ = &loop;
      MakeModal();
      if (!ended_) loop.exec();
      loop_ = nullptr;
      return;
    }
    // Not the GUI thread: the window runs in the GUI thread's loop while this
    // thread waits for Close.
    Dispatch([this] { MakeModal(); });
    std::unique_lock lock(modalMutex_);
    modalCv_.wait(lock, [this] { return ended_.load(); });
  }
  void EndModal() override {
    {
      std::lock_guard lock(modalMutex_);
      ended_ = true;
    }
    modalCv_.notify_all();
    Dispatch([this] {
      if (loop_) loop_->quit();
    });
  }
  void Destroy() override {
    // Blocking hop: the widgets go before the model they show.
    QtBackend::RunOnGuiThread([this] {
      Canvas* canvas = nullptr;
      {
        std::lock_guard lock(mutex_);
        canvas = canvas_;
        canvas_ = nullptr;
        widgets_.clear();
      }
      *alive_ = false;
      if (loop_) loop_->quit();
      if (!canvas) return;
      // Hidden and cut off from the model at once; deleted later, since this
      // may run inside a task the canvas itself is delivering.
      canvas->window_ = nullptr;
      canvas->hide();
      for (auto* child : canvas->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) child->hide();
      canvas->deleteLater();
    });
    shown_ = false;
  }

  // GUI thread: lays the model out and brings the stock widgets in step.
  void Sync() {
    syncPending_ = false;
    if (!canvas_) return;
    auto lock = pm_.ModelLock();
    const bool relaid = pm_.LayoutIfNeeded();
    SyncWidgets();
    // Only what changed is painted again, unless anything may have moved.
    const DirtyArea::Taken dirty = dirty_.Take();
    if (relaid || dirty.all) {
      canvas_->update();
    } else {
      for (const Rect& r : dirty.rects) canvas_->update(ToQRect(r));
    }
  }

  Canvas* GetCanvas() const { return canvas_; }
  WindowImplBase& Window() { return window_; }
  CPaintManagerUI& Manager() { return pm_; }
  QtBackend& Backend() { return backend_; }
  bool IsPopupMenu() const { return popupMenu_; }

 private:
  // GUI thread. Modality takes effect on showing: a shown window is shown
  // again as modal.
  void MakeModal() {
    if (!canvas_ || popupMenu_ || ended_ || canvas_->windowModality() == Qt::ApplicationModal) return;
    bool visible = canvas_->isVisible();
    if (visible) canvas_->hide();
    canvas_->setWindowModality(Qt::ApplicationModal);
    if (visible) canvas_->show();
  }

  void OnGui(std::function<void()> task) {
    if (QtBackend::IsGuiThread()) task();
    else Dispatch(std::move(task));
  }

  QWidget* WidgetFor(CControlUI& c) {
    std::lock_guard lock(mutex_);
    auto it = widgets_.find(&c);
    return it == widgets_.end() ? nullptr : it->second.data();
  }
  void Remember(CControlUI& c, QWidget* w) {
    std::lock_guard lock(mutex_);
    widgets_[&c] = w;
  }

  void SyncWidgets() {
    std::set<CListUI*> dirtyLists;
    {
      std::lock_guard lock(mutex_);
      dirtyLists.swap(dirtyLists_);
    }
    for (const NativeControlPlace& place : NativeControls(pm_)) {
      switch (place.kind) {
        case NativeControlKind::kEdit: SyncEdit(static_cast<CEditUI&>(*place.control), place.rect, place.shown); break;
        case NativeControlKind::kCombo: SyncCombo(static_cast<CComboUI&>(*place.control), place.rect, place.shown); break;
        case NativeControlKind::kList: {
          auto& list = static_cast<CListUI&>(*place.control);
          SyncList(list, place.rect, place.shown, dirtyLists.contains(&list));
          break;
        }
      }
    }
  }

  void Place(QWidget* w, CControlUI& c, const Rect& r, bool shown) {
    QRect g = ToQRect(r);
    if (w->geometry() != g) w->setGeometry(g);
    if (w->isVisibleTo(canvas_) != shown) w->setVisible(shown);
    w->setEnabled(c.IsEnabled());
    w->setToolTip(Q(c.GetToolTip()));
  }

  void SyncEdit(CEditUI& edit, const Rect& inner, bool shown) {
    auto* w = static_cast<QLineEdit*>(WidgetFor(edit));
    if (!w) {
      w = new QLineEdit(canvas_);
      w->setFrame(false);
      CEditUI* model = &edit;
      QObject::connect(w, &QLineEdit::textEdited, w, [this, model](const QString& text) {
        auto lock = pm_.ModelLock();
        model->UserSetText(text.toStdWString());
      });
      QObject::connect(w, &QLineEdit::returnPressed, w, [this, model] {
        auto lock = pm_.ModelLock();
        pm_.SendNotify(model, kEventReturn);
      });
      w->installEventFilter(canvas_);
      w->setProperty("duiControl", QVariant::fromValue(static_cast<void*>(model)));
      Remember(edit, w);
    }
    Place(w, edit, inner, shown);
    QString text = Q(edit.GetText());
    if (w->text() != text) w->setText(text);
    QString prompt = Q(edit.GetPromptText());
    if (w->placeholderText() != prompt) w->setPlaceholderText(prompt);
    w->setEchoMode(edit.IsPasswordMode() ? QLineEdit::Password : QLineEdit::Normal);
    w->setReadOnly(edit.IsReadOnly());
    if (edit.GetMaxChar() > 0) w->setMaxLength(edit.GetMaxChar());
    // Each Sync comes here; a style sheet set again polishes the widget
    // again even when it is the same.
    const QFont font = ToQFont(pm_.GetScaledFont(edit.GetFont()));
    if (w->font() != font) w->setFont(font);
    Color bk = edit.CurrentBkColor();
    const QString sheet = QStringLiteral("QLineEdit { border: none; background: %1; color: %2; }")
                              .arg(bk ? ToQColor(bk).name(QColor::HexArgb) : QStringLiteral("transparent"),
                                   ToQColor(TextColorOf(edit)).name(QColor::HexArgb));
    if (w->styleSheet() != sheet) w->setStyleSheet(sheet);
  }

  void SyncCombo(CComboUI& combo, const Rect& rect, bool shown) {
    auto* w = static_cast<QComboBox*>(WidgetFor(combo));
    if (!w) {
      w = new QComboBox(canvas_);
      CComboUI* model = &combo;
      QObject::connect(w, &QComboBox::activated, w, [this, model](int index) {
        auto lock = pm_.ModelLock();
        model->SelectItem(index);
      });
      Remember(combo, w);
    }
    Place(w, combo, rect, shown);
    QStringList items;
    for (int i = 0; i < combo.GetCount(); ++i) items << Q(combo.GetItemAt(i)->GetText());
    QStringList current;
    for (int i = 0; i < w->count(); ++i) current << w->itemText(i);
    QSignalBlocker block(w);
    if (items != current) {
      w->clear();
      w->addItems(items);
    }
    if (w->currentIndex() != combo.GetCurSel()) w->setCurrentIndex(combo.GetCurSel());
    const QFont font = ToQFont(pm_.GetScaledFont(combo.GetFont()));
    if (w->font() != font) w->setFont(font);
  }

  void SyncList(CListUI& list, const Rect& body, bool shown, bool rowsChanged) {
    auto* w = static_cast<ListWidget*>(WidgetFor(list));
    if (!w) {
      w = new ListWidget(&list, pm_, backend_, canvas_);
      Remember(list, w);
    }
    Place(w, list, body, shown);
    w->Sync(rowsChanged);
  }

  QtBackend& backend_;
  WindowImplBase& window_;
  CPaintManagerUI& pm_;
  mutable std::mutex mutex_;
  Canvas* canvas_ = nullptr;
  std::unordered_map<CControlUI*, QPointer<QWidget>> widgets_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // GUI thread
  Rect rect_, workArea_{0, 0, 1920, 1080};
  std::atomic<bool> shown_{false}, syncPending_{false}, ended_{false}, enabled_{true};
  std::atomic<WindowState> state_{WindowState::kNormal};
  bool popupMenu_ = false;
  QEventLoop* loop_ = nullptr;
  DirtyArea dirty_;
  std::set<CListUI*> dirtyLists_;  // under mutex_: lists whose rows changed
  std::mutex modalMutex_;
  std::condition_variable modalCv_;
};

Point ToPoint(const QPointF& p) { return Point{static_cast<int>(p.x()), static_cast<int>(p.y())}; }

void Canvas::paintEvent(QPaintEvent* e) {
  QPainter p(this);
  if (!window_) return;
  auto& pm = window_->Manager();
  auto lock = pm.ModelLock();
  // A layout now may move what lies outside this event's area: that is
  // painted by a full pass next.
  if (pm.LayoutIfNeeded()) update();
  QtSurface surface(p, window_->Backend());
  const QRect r = e->rect();
  CRenderPass(pm, surface).PaintWindow(Rect{r.left(), r.top(), r.right() + 1, r.bottom() + 1});
}

void Canvas::mouseMoveEvent(QMouseEvent* e) {
  if (!window_) return;
  window_->Window().HandleMessage(kWmMouseMove, 0, MakePointLParam(ToPoint(e->position())));
}

void Canvas::mousePressEvent(QMouseEvent* e) {
  if (!window_ || e->button() != Qt::LeftButton) return;
  Point pt = ToPoint(e->position());
  auto& pm = window_->Manager();
  {
    // Dragging the caption area (outside clickable controls) moves the window.
    auto lock = pm.ModelLock();
    if (IsCaptionPoint(pm, pt, width()) && windowHandle()) {
      windowHandle()->startSystemMove();
      return;
    }
  }
  window_->Window().HandleMessage(kWmLButtonDown, 0, MakePointLParam(pt));
}

void Canvas::mouseReleaseEvent(QMouseEvent* e) {
  if (!window_ || e->button() != Qt::LeftButton) return;
  window_->Window().HandleMessage(kWmLButtonUp, 0, MakePointLParam(ToPoint(e->position())));
}

void Canvas::mouseDoubleClickEvent(QMouseEvent* e) {
  if (!window_ || e->button() != Qt::LeftButton) return;
  window_->Window().HandleMessage(kWmLButtonDblClk, 0, MakePointLParam(ToPoint(e->position())));
}

void Canvas::wheelEvent(QWheelEvent* e) {
  if (!window_) return;
  const int delta = e->angleDelta().y();
  if (delta == 0) return;
  const auto word = static_cast<std::uint16_t>(static_cast<std::int16_t>(delta));
  window_->Window().HandleMessage(kWmMouseWheel, static_cast<std::uintptr_t>(word) << 16,
                                  MakePointLParam(ToPoint(e->position())));
}

void Canvas::keyPressEvent(QKeyEvent* e) {
  // Letters and digits reach the window as WM_KEYDOWN with their virtual key
  // code (the same numbers as Qt's) and the modifiers held; other keys keep
  // Qt's own handling.
  const int key = e->key();
  const bool letterOrDigit = (key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9);
  if (!window_ || !letterOrDigit) {
    QWidget::keyPressEvent(e);
    return;
  }
  std::intptr_t mods = 0;
  if (e->modifiers() & Qt::ControlModifier) mods |= kKeyModControl;
  if (e->modifiers() & Qt::ShiftModifier) mods |= kKeyModShift;
  if (e->modifiers() & Qt::AltModifier) mods |= kKeyModAlt;
  window_->Window().HandleMessage(kWmKeyDown, static_cast<std::uintptr_t>(key), mods);
}

void Canvas::leaveEvent(QEvent*) {
  if (window_) window_->Manager().MouseLeave();
}

void Canvas::resizeEvent(QResizeEvent*) {
  if (window_) window_->Manager().SetClientSize(Size{width(), height()});
}

void Canvas::closeEvent(QCloseEvent* e) {
  // The window manager's close is the window's WM_CLOSE.
  e->ignore();
  if (window_) window_->Window().PostMessageW(kWmClose, 0, 0);
}

void Canvas::hideEvent(QHideEvent*) {
  // A popup menu hidden by a click elsewhere ends without a command.
  if (window_ && window_->IsPopupMenu() && window_->Window().IsWindow()) window_->Window().Close(0);
}

bool Canvas::event(QEvent* e) {
  if (e->type() == QEvent::ToolTip && window_) {
    auto* help = static_cast<QHelpEvent*>(e);
    auto& pm = window_->Manager();
    auto lock = pm.ModelLock();
    CControlUI* c = pm.FindControl(Point{help->pos().x(), help->pos().y()});
    if (!c || c->GetToolTip().empty()) {
      QToolTip::hideText();
      return true;
    }
    QString tip = Q(c->GetToolTip());
    // With a widest width set, a tip stays on one line up to that width.
    if (pm.GetTooltipMaxWidth() > 0) tip = QStringLiteral("<p style='white-space:pre'>%1</p>").arg(tip.toHtmlEscaped());
    QToolTip::showText(help->globalPos(), tip, this);
    return true;
  }
  return QWidget::event(e);
}

bool Canvas::eventFilter(QObject* watched, QEvent* e) {
  // Stock edits tell the model when they gain or lose the keyboard focus.
  if (window_ && (e->type() == QEvent::FocusIn || e->type() == QEvent::FocusOut)) {
    auto* control = static_cast<CControlUI*>(watched->property("duiControl").value<void*>());
    auto& pm = window_->Manager();
    auto lock = pm.ModelLock();
    if (control && e->type() == QEvent::FocusIn) pm.SetFocus(control);
    else if (control && pm.GetFocus() == control) pm.SetFocus(nullptr);
  }
  return QWidget::eventFilter(watched, e);
}

// --------------------------------------------------------------- tray icon

class QtTray : public TrayIconBackend {
 public:
  QtTray(const std::filesystem::path& icon, const std::wstring& tooltip, std::function<void(unsigned)> onMouse) {
    tray_ = new QSystemTrayIcon(QIcon(QString::fromStdString(icon.string())));
    tray_->setToolTip(Q(tooltip));
    QObject::connect(tray_, &QSystemTrayIcon::activated, tray_, [onMouse](QSystemTrayIcon::ActivationReason reason) {
      switch (reason) {
        case QSystemTrayIcon::Trigger: onMouse(kWmLButtonDown); break;
        case QSystemTrayIcon::Context: onMouse(kWmRButtonUp); break;
        case QSystemTrayIcon::DoubleClick: onMouse(kWmLButtonDblClk); break;
        default: break;
      }
    });
    tray_->show();
  }
  ~QtTray() override {
    QSystemTrayIcon* tray = tray_;
    QtBackend::RunOnGuiThread([tray] { delete tray; });
  }

 private:
  QSystemTrayIcon* tray_;
};

}  // namespace

// ------------------------------------------------------------------ backend

QtBackend::QtBackend() = default;
QtBackend::~QtBackend() = default;

bool QtBackend::IsGuiThread() { return qApp && QThread::currentThread() == qApp->thread(); }

void QtBackend::RunOnGuiThread(const std::function<void()>& task) {
  if (IsGuiThread() || !qApp) {
    task();
    return;
  }
  // Hop: the calling thread waits while the GUI thread runs `task`.
  QMetaObject::invokeMethod(qApp, [&task] { task(); }, Qt::BlockingQueuedConnection);
}

std::unique_ptr<NativeWindow> QtBackend::CreateNativeWindow(WindowImplBase& window, NativeWindow*,
                                                            const NativeWindowParams& params) {
  std::unique_ptr<NativeWindow> out;
  // Hop: widgets are made on the GUI thread, whichever thread makes the window.
  RunOnGuiThread([&] { out = std::make_unique<QtWindow>(*this, window, params); });
  return out;
}

Size QtBackend::MeasureText(const std::wstring& text, const FontSpec& font, unsigned style, int maxWidth) {
  QFontMetrics fm(ToQFont(font));
  QString q = Q(text);
  if ((style & kDtSingleLine) || !q.contains('\n')) {
    if (!(style & kDtWordBreak) || maxWidth <= 0) {
      // Whole pixels rounded up: the painter elides a text whose exact width
      // exceeds its rectangle, so a width rounded down cut the last
      // characters of every label sized to its own text.
      const qreal exact = QFontMetricsF(ToQFont(font)).horizontalAdvance(q);
      return Size{static_cast<int>(std::ceil(exact)), fm.height()};
    }
  }
  int width = maxWidth > 0 ? maxWidth : 1 << 20;
  QRect r = fm.boundingRect(QRect(0, 0, width, 1 << 20), QtTextFlags(style) & ~Qt::TextSingleLine, q);
  return Size{r.width(), r.height()};
}

std::unique_ptr<TrayIconBackend> QtBackend::CreateTrayIcon(const std::filesystem::path& icon, const std::wstring& tooltip,
                                                           std::function<void(unsigned)> onMouse) {
  std::unique_ptr<TrayIconBackend> out;
  RunOnGuiThread([&] {
    if (QSystemTrayIcon::isSystemTrayAvailable()) out = std::make_unique<QtTray>(icon, tooltip, std::move(onMouse));
  });
  return out;
}

bool QtBackend::HasSystemTray() const {
  bool has = false;
  RunOnGuiThread([&] { has = QSystemTrayIcon::isSystemTrayAvailable(); });
  return has;
}

std::optional<std::filesystem::path> QtBackend::BrowseForFolder(NativeWindow* owner, const std::wstring& title,
                                                                 const std::filesystem::path& start) {
  std::optional<std::filesystem::path> out;
  RunOnGuiThread([&] {
    QWidget* parent = owner ? static_cast<QtWindow*>(owner)->GetCanvas() : nullptr;
    QString dir = QFileDialog::getExistingDirectory(parent, Q(title), QString::fromStdString(start.string()));
    if (!dir.isEmpty()) out = std::filesystem::path(dir.toStdString());
  });
  return out;
}

Point QtBackend::GetCursorPos() const {
  QPoint p = QCursor::pos();
  return Point{p.x(), p.y()};
}

void QtBackend::MessageLoop() { QApplication::exec(); }

void QtBackend::QuitMessageLoop() { QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection); }

const QPixmap& QtBackend::Image(const std::filesystem::path& file) {
  auto key = file.string();
  auto it = images_.find(key);
  if (it == images_.end()) it = images_.emplace(key, QPixmap(QString::fromStdString(key))).first;
  return it->second;
}

QWidget* CanvasOf(NativeWindow* window) {
  auto* w = dynamic_cast<QtWindow*>(window);
  return w ? w->GetCanvas() : nullptr;
}

WindowImplBase* WindowOfCanvas(QWidget* canvas) {
  auto* c = dynamic_cast<Canvas*>(canvas);
  return c && c->window_ ? &c->window_->Window() : nullptr;
}

bool GrabWindow(NativeWindow* window, const std::filesystem::path& png) {
  auto* w = dynamic_cast<QtWindow*>(window);
  if (!w || !w->GetCanvas()) return false;
  w->Sync();
  QPixmap pix = w->GetCanvas()->grab();
  return pix.save(QString::fromStdString(png.string()), "PNG");
}

}  // namespace orlin::dui
