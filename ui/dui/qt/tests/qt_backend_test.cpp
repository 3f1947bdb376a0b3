// The Qt backend, offscreen: input reaches the model and Notify, the look
// follows the model, modal windows return their results on any thread.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <thread>

#include "tests/support/temp_dir.h"
#include "ui/dialogs/msg_wnd.h"
#include "ui/dui/qt/qt_backend.h"
#include "ui/dui/tray_icon.h"
#include "ui/dui/window_impl_base.h"

// Fontconfig keeps its caches for the life of the process; that is not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

namespace orlin::dui {
namespace {

const char kSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="320,240">
  <VerticalLayout bkcolor="#FFFFFFFF">
    <HorizontalLayout height="40">
      <Button name="BTN" width="100" text="" bkcolor="#FF102030" hotbkcolor="#FF405060" pushedbkcolor="#FF708090"/>
      <Edit name="EDIT" width="120" textpadding="4,0,4,0"/>
      <Combo name="COMBO"><ListLabelElement text="one"/><ListLabelElement text="two"/></Combo>
    </HorizontalLayout>
    <List name="LIST" itemheight="20">
      <ListHeader height="20"><ListHeaderItem text="File"/></ListHeader>
    </List>
  </VerticalLayout>
</Window>)";

const char kRow[] = R"(<ListContainerElement><Label name="FILELABEL"/></ListContainerElement>)";

class TestWindow : public WindowImplBase {
 public:
  std::wstring GetWindowClassName() const override { return L"QtTestWnd"; }
  std::wstring GetSkinFile() override { return L"qt.xml"; }
  void Notify(TNotifyUI& msg) override {
    notes.push_back(msg.sType + L":" + (msg.pSender ? msg.pSender->GetName() : L""));
    if (closeOnClick && msg.sType == kEventClick) Close(kModalOk);
    threadsOk = threadsOk && QThread::currentThread() == qApp->thread();
  }
  std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t, bool& handled) override {
    if (msg < kWmUserBase) return 0;
    handled = true;
    threadsOk = threadsOk && QThread::currentThread() == qApp->thread();
    received.push_back(wParam);
    return static_cast<std::intptr_t>(wParam) + 1;
  }
  std::vector<std::wstring> notes;
  std::vector<std::uintptr_t> received;
  bool threadsOk = true;
  bool closeOnClick = false;
};

std::filesystem::path SourceRoot() {
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().parent_path().parent_path();
}

class QtBackendTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Offscreen unless the run asks for a real display (xcb under Xvfb).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "dui_qt_test";
    static char* argv[] = {name, nullptr};
    if (!qApp) new QApplication(argc, argv);
  }
  void SetUp() override {
    UiBackend::Install(std::make_shared<QtBackend>());
    std::ofstream(dir.path() / "qt.xml") << kSkin;
    std::ofstream(dir.path() / "row.xml") << kRow;
    CPaintManagerUI::SetResourcePath(dir.path());
    CPaintManagerUI::SetInstance(dir.path());
  }
  void TearDown() override { UiBackend::Install(nullptr); }

  static QPoint Centre(CControlUI* c) {
    const Rect& r = c->GetPos();
    return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  }
  static void Mouse(QWidget* w, QEvent::Type type, QPoint p) {
    Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    Qt::MouseButtons buttons = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent e(type, QPointF(p), w->mapToGlobal(QPointF(p)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
  }
  static QRgb PixelAt(QWidget* w, QPoint p) { return w->grab().toImage().pixel(p); }

  testsupport::TempDir dir;
};

TEST_F(QtBackendTest, ClickReachesNotifyAndHoverAndPushedColoursArePainted) {
  TestWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"qt", kWsPopup, 0));
  w.ShowWindow();
  QWidget* canvas = CanvasOf(w.GetHWND());
  ASSERT_NE(canvas, nullptr);
  QApplication::processEvents();
  CControlUI* btn = w.GetPaintManager().FindControl(L"BTN");
  QPoint c = Centre(btn);
  EXPECT_EQ(PixelAt(canvas, c), 0xFF102030u);
  Mouse(canvas, QEvent::MouseMove, c);
  EXPECT_EQ(PixelAt(canvas, c), 0xFF405060u);
  Mouse(canvas, QEvent::MouseButtonPress, c);
  EXPECT_EQ(PixelAt(canvas, c), 0xFF708090u);
  Mouse(canvas, QEvent::MouseButtonRelease, c);
  EXPECT_THAT(w.notes, ::testing::Contains(L"click:BTN"));
  // The look follows attribute lists applied later, from any thread.
  std::thread([btn] { btn->ApplyAttributeList(L"bkcolor=\"#FF00AA00\" hotbkcolor=\"#FF00AA00\""); }).join();
  QApplication::processEvents();
  EXPECT_EQ(PixelAt(canvas, c), 0xFF00AA00u);
  // A mouse-deaf button takes no click.
  w.notes.clear();
  btn->SetMouseEnabled(false);
  Mouse(canvas, QEvent::MouseButtonPress, c);
  Mouse(canvas, QEvent::MouseButtonRelease, c);
  EXPECT_THAT(w.notes, ::testing::Not(::testing::Contains(L"click:BTN")));
}

TEST_F(QtBackendTest, ALabelSizedToItsTextShowsAllOfIt) {
  // Each text twice, sized to itself: with an ellipsis for a text too long
  // and without. A label wide enough paints both alike.
  std::ofstream(dir.path() / "labels.xml") << R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="900,120">
  <VerticalLayout bkcolor="#FFFFFFFF">
    <HorizontalLayout height="24"><Label name="E0" autocalcwidth="true" endellipsis="true"/><Control/></HorizontalLayout>
    <HorizontalLayout height="24"><Label name="P0" autocalcwidth="true"/><Control/></HorizontalLayout>
  </VerticalLayout>
</Window>)";
  class LabelWindow : public TestWindow {
   public:
    std::wstring GetSkinFile() override { return L"labels.xml"; }
  } w;
  ASSERT_TRUE(w.Create(nullptr, L"labels", kWsPopup, 0));
  w.ShowWindow();
  QWidget* canvas = CanvasOf(w.GetHWND());
  ASSERT_NE(canvas, nullptr);
  CControlUI* elided = w.GetPaintManager().FindControl(L"E0");
  CControlUI* plain = w.GetPaintManager().FindControl(L"P0");
  for (const wchar_t* text : {L"demo@127.0.0.1:8443", L"ann@nas.example.org:443", L"abcdefghijklmnopqrstuvwxyz",
                              L"WWWWWWWWWW", L"同步消息: 张伟@192.168.1.20"}) {
    elided->SetText(text);
    plain->SetText(text);
    QApplication::processEvents();
    const Rect& e = elided->GetPos();
    const Rect& p = plain->GetPos();
    ASSERT_EQ(e.Width(), p.Width());
    const QImage shownElided = canvas->grab(QRect(e.left, e.top, e.Width(), e.Height())).toImage();
    const QImage shownPlain = canvas->grab(QRect(p.left, p.top, p.Width(), p.Height())).toImage();
    EXPECT_TRUE(shownElided == shownPlain) << "cut short: " << QString::fromWCharArray(text).toStdString();
  }
}

TEST_F(QtBackendTest, PaintsNothingForWhatIsAlreadyShownAndOnlyWhatChangedOtherwise) {
  std::ofstream(dir.path() / "idle.xml") << R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="400,200">
  <VerticalLayout bkcolor="#FFFFFFFF">
    <Progress name="PROGRESS" height="16" min="0" max="100" value="100"/>
    <Label name="LABEL" height="20" text="Up to date"/>
    <List name="LIST" itemheight="20"><ListHeader height="20"><ListHeaderItem text="File"/></ListHeader></List>
  </VerticalLayout>
</Window>)";
  class IdleWindow : public TestWindow {
   public:
    std::wstring GetSkinFile() override { return L"idle.xml"; }
  } w;
  ASSERT_TRUE(w.Create(nullptr, L"idle", kWsPopup, 0));
  w.ShowWindow();
  QWidget* canvas = CanvasOf(w.GetHWND());
  ASSERT_NE(canvas, nullptr);
  struct PaintCounter : QObject {
    int paints = 0;
    QRegion painted;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) {
        ++paints;
        painted += static_cast<QPaintEvent*>(e)->region();
      }
      return false;
    }
  } counter;
  canvas->installEventFilter(&counter);
  QApplication::processEvents();
  auto* progress = static_cast<CProgressUI*>(w.GetPaintManager().FindControl(L"PROGRESS"));
  auto* label = w.GetPaintManager().FindControl(L"LABEL");
  auto* list = static_cast<CListUI*>(w.GetPaintManager().FindControl(L"LIST"));
  ASSERT_TRUE(progress && label && list);

  // What a status poll sets while the status stays: the same value, the same
  // text, an empty list emptied again.
  // The first paint of the window is over before the polls begin.
  ASSERT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 2000)) << "the window is painted at all";
  QTest::qWait(100);
  counter.paints = 0;
  for (int poll = 0; poll < 5; ++poll) {
    progress->SetValue(100);
    label->SetText(L"Up to date");
    list->RemoveAll();
    QTest::qWait(20);
  }
  EXPECT_EQ(counter.paints, 0);

  // A change is painted, so the count above could have seen one; and only
  // where it shows: a status label that changes each second repaints itself,
  // not the window.
  counter.painted = QRegion();
  progress->SetValue(40);
  EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 2000)) << "a new value is painted";
  EXPECT_EQ(progress->GetValue(), 40);
  const Rect p = progress->GetPos();
  EXPECT_EQ(counter.painted.boundingRect(), QRect(p.left, p.top, p.Width(), p.Height()));
  counter.paints = 0;
  counter.painted = QRegion();
  label->SetText(L"Syncing");
  EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 2000)) << "a new text is painted";
  const Rect l = label->GetPos();
  EXPECT_EQ(counter.painted.boundingRect(), QRect(l.left, l.top, l.Width(), l.Height()));
  // What the screen shows after these partial paints is what a whole paint
  // makes now (the offscreen screen reads the window's backing store).
  QApplication::processEvents();
  const QImage onScreen = canvas->screen()->grabWindow(canvas->winId()).toImage().convertToFormat(QImage::Format_RGB32);
  const QImage whole = canvas->grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(onScreen.size(), whole.size());
  EXPECT_TRUE(onScreen == whole) << "the screen kept something old";
  // A change of layout repaints the whole window.
  counter.paints = 0;
  counter.painted = QRegion();
  label->SetVisible(false);
  EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 2000)) << "the new layout is painted";
  EXPECT_EQ(counter.painted.boundingRect(), canvas->rect());
}

TEST_F(QtBackendTest, AWindowClosingItselfFromAClickGoesAwayCleanly) {
  TestWindow w;
  w.closeOnClick = true;
  ASSERT_TRUE(w.Create(nullptr, L"qt", kWsPopup, 0));
  w.ShowWindow();
  QPointer<QWidget> canvas = CanvasOf(w.GetHWND());
  QApplication::processEvents();
  QPoint c = Centre(w.GetPaintManager().FindControl(L"BTN"));
  Mouse(canvas, QEvent::MouseButtonPress, c);
  Mouse(canvas, QEvent::MouseButtonRelease, c);
  QApplication::processEvents();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(w.IsWindow());
  EXPECT_TRUE(canvas.isNull());
  // Messages to the closed window are dropped.
  w.PostMessageW(kWmUserBase + 1, 1, 0);
  QApplication::processEvents();
  EXPECT_TRUE(w.received.empty());
}

TEST_F(QtBackendTest, WithoutANotificationAreaTheWindowIsNeverHiddenIntoIt) {
  TestWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"qt", kWsPopup, 0));
  w.ShowWindow();
  QApplication::processEvents();
  CTrayIcon tray;
  bool made = tray.CreateTrayIcon(&w, 128, L"Orlin");
  EXPECT_EQ(made, QSystemTrayIcon::isSystemTrayAvailable());
  EXPECT_EQ(tray.IsVisible(), made);
  EXPECT_EQ(HideToTray(w, tray), made);
  QApplication::processEvents();
  EXPECT_EQ(CanvasOf(w.GetHWND())->isVisible(), !made);
}

TEST_F(QtBackendTest, StockWidgetsAndModelStayInStepBothWays) {
  TestWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"qt", kWsPopup, 0));
  w.ShowWindow();
  QApplication::processEvents();
  auto* edit = static_cast<CEditUI*>(w.GetPaintManager().FindControl(L"EDIT"));
  QWidget* canvas = CanvasOf(w.GetHWND());
  auto* line = canvas->findChild<QLineEdit*>();
  ASSERT_NE(line, nullptr);
  QTest::keyClicks(line, "secret");
  EXPECT_EQ(edit->GetText(), L"secret");
  EXPECT_THAT(w.notes, ::testing::Contains(L"textchanged:EDIT"));
  QTest::keyClick(line, Qt::Key_Return);
  EXPECT_THAT(w.notes, ::testing::Contains(L"return:EDIT"));
  edit->SetPasswordMode(true);
  edit->SetText(L"from model");
  QApplication::processEvents();
  EXPECT_EQ(line->echoMode(), QLineEdit::Password);
  EXPECT_EQ(line->text(), QStringLiteral("from model"));

  auto* combo = static_cast<CComboUI*>(w.GetPaintManager().FindControl(L"COMBO"));
  auto* box = canvas->findChild<QComboBox*>();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->count(), 2);
  combo->SelectItem(1, false);
  QApplication::processEvents();
  EXPECT_EQ(box->currentIndex(), 1);
}

TEST_F(QtBackendTest, LongListsAreOneViewWithoutAWidgetPerRow) {
  TestWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"qt", kWsPopup, 0));
  auto* list = static_cast<CListUI*>(w.GetPaintManager().FindControl(L"LIST"));
  CDialogBuilder builder;
  for (int i = 0; i < 1000; ++i) {
    CControlUI* row = builder.CreateCached(L"row.xml", &w, &w.GetPaintManager());
    ASSERT_NE(row, nullptr);
    list->Add(row);
    row->FindSubControl(L"FILELABEL")->SetText(L"file " + std::to_wstring(i));
  }
  w.ShowWindow();
  QApplication::processEvents();
  QWidget* canvas = CanvasOf(w.GetHWND());
  auto* view = canvas->findChild<QListView*>();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->model()->rowCount(), 1000);
  EXPECT_EQ(view->model()->index(7, 0).data().toString(), QStringLiteral("file 7"));
  EXPECT_LT(canvas->findChildren<QWidget*>().size(), 30);
  // Removing rows shrinks the view's model.
  while (list->GetCount() > 10) list->RemoveAt(10);
  QApplication::processEvents();
  EXPECT_EQ(view->model()->rowCount(), 10);
  // A click on a row selects it in the model.
  QRect r1 = view->visualRect(view->model()->index(1, 0));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r1.center());
  EXPECT_EQ(list->GetCurSel(), 1);
  EXPECT_THAT(w.notes, ::testing::Contains(L"itemselect:LIST"));
}

TEST_F(QtBackendTest, MessagesFromOtherThreadsAreHandledOnTheGuiThread) {
  TestWindow w;
  ASSERT_TRUE(w.Create(nullptr, L"qt", kWsPopup, 0));
  std::intptr_t sent = 0;
  std::thread worker([&] {
    for (std::uintptr_t i = 0; i < 50; ++i) w.Post(kWmUserBase + 10, i, 0);
    sent = w.Send(kWmUserBase + 10, 99, 0);
  });
  while (w.received.size() < 51) QApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  EXPECT_EQ(sent, 100);
  for (std::uintptr_t i = 0; i < 50; ++i) EXPECT_EQ(w.received[i], i);
  EXPECT_TRUE(w.threadsOk);
}

// Clicks a button of the first shown message window once it appears.
void ClickMessageButton(const std::wstring& name) {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    WindowImplBase* win = WindowOfCanvas(top);
    if (!win || !top->isVisible() || win->GetWindowClassName() != L"MsgWnd") continue;
    CControlUI* c = win->GetPaintManager().FindControl(name);
    if (!c) continue;
    QPoint p((c->GetPos().left + c->GetPos().right) / 2, (c->GetPos().top + c->GetPos().bottom) / 2);
    QTest::mouseClick(top, Qt::LeftButton, {}, p);
    return;
  }
}

TEST_F(QtBackendTest, ModalMessageWindowReturnsOneForOkAndTwoForCancelAndClose) {
  CPaintManagerUI::SetResourcePath(SourceRoot() / "skins");
  for (auto [button, expected] : {std::pair{L"OKBTN", 1}, std::pair{L"CANCELBTN", 2}, std::pair{L"CLOSEBTN", 2}}) {
    std::wstring name = button;
    QTimer::singleShot(0, [name] { ClickMessageButton(name); });
    EXPECT_EQ(ShowMessageWindow(nullptr, nullptr, L"Orlin", L"Cloud_LogOff_Msg", 1), expected);
  }
  // From a worker thread: the window lives on the GUI thread, the worker waits.
  int result = 0;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    result = ShowMessageWindow(nullptr, nullptr, L"Orlin", L"Path_Used_Msg", 1);
    done = true;
  });
  QTest::qWait(50);
  ClickMessageButton(L"OKBTN");
  EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 5000));
  worker.join();
  EXPECT_EQ(result, 1);
}

}  // namespace
}  // namespace orlin::dui
