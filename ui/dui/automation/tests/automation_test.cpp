// The automation answering requests against windows of the headless backend,
// built from small test skins: what it reads, and that what it does goes the
// way a user's input goes (and is refused where a user's would miss).

#include "ui/dui/automation/automation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <json/json.h>

#include <future>
#include <memory>
#include <thread>

#include "ui/dui/menu_wnd.h"
#include "ui/dui/tests/dui_fixture.h"
#include "ui/dui/tray_icon.h"

// Requests are written with designated initializers, naming only what each
// one needs; GCC 12 warns about the members left to their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace orlin::automation {
namespace {

using namespace orlin::dui;
using dui::testing::RecordingWindow;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const char kFormSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="400,420">
  <VerticalLayout>
    <HorizontalLayout height="30">
      <Edit name="USERNAME" width="150"/>
      <Edit name="SERVER" width="100" readonly="true" text="nas.local"/>
      <Button name="LOGINBTN" text="Login" tooltip="Sign in"/>
    </HorizontalLayout>
    <HorizontalLayout height="30">
      <Button name="DISABLEDBTN" text="Off" enabled="false" width="50"/>
      <Button name="HIDDENBTN" text="Hidden" visible="false" width="50"/>
      <CheckBox name="REMEMBER" text="Remember" width="100"/>
      <Option name="TAB1" group="tabs" selected="true" text="One" width="60"/>
      <Option name="TAB2" group="tabs" text="Two" width="60"/>
      <Button name="DEAFBTN" text="Deaf" mouse="false" width="60"/>
    </HorizontalLayout>
    <HorizontalLayout height="30">
      <Combo name="LANGCOMBO" width="120"><ListLabelElement text="English"/><ListLabelElement text="&#31616;&#20307;&#20013;&#25991;"/></Combo>
      <Progress name="PROGRESS" value="40" width="100"/>
      <Label name="STATUS" text="Up to date" tooltip="All synced"/>
    </HorizontalLayout>
    <HorizontalLayout height="30">
      <Label width="400"/>
      <Button name="OFFSCREENBTN" text="Beyond" width="80"/>
    </HorizontalLayout>
    <List name="FILES" height="120" itemheight="20"/>
    <TreeView name="TREE" height="170" itemheight="20"/>
  </VerticalLayout>
</Window>)";

const char kRowTemplate[] = R"(<?xml version="1.0" encoding="utf-8"?>
<ListContainerElement height="20">
  <HorizontalLayout name="CELLS">
    <Label name="NAMELABEL" width="150"/>
    <Label name="SIZELABEL"/>
  </HorizontalLayout>
</ListContainerElement>)";

const char kMenuSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="120,10">
  <VerticalLayout inset="2,2,2,2">
    <Menu name="MENU"/>
  </VerticalLayout>
</Window>)";

// A test window of a class of its own that also keeps the key and mouse
// messages its handler saw.
class FormWindow : public RecordingWindow {
 public:
  explicit FormWindow(std::wstring windowClass = L"UITestWnd")
      : RecordingWindow(L"form.xml"), class_(std::move(windowClass)) {}
  std::wstring GetWindowClassName() const override { return class_; }
  std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam, bool& handled) override {
    if (msg == kWmKeyDown || msg == kWmLButtonUp) {
      std::lock_guard lock(mutex);
      seen.push_back({msg, wParam, lParam});
      return 0;
    }
    return RecordingWindow::HandleCustomMessage(msg, wParam, lParam, handled);
  }
  struct Seen {
    unsigned msg;
    std::uintptr_t wParam;
    std::intptr_t lParam;
  };
  std::vector<Seen> seen;

 private:
  std::wstring class_;
};

class AutomationTest : public dui::testing::DuiTest {
 protected:
  void SetUp() override {
    DuiTest::SetUp();
    WriteSkin("form.xml", kFormSkin);
    WriteSkin("row.xml", kRowTemplate);
    WriteSkin("menu.xml", kMenuSkin);
    window = std::make_unique<FormWindow>();
    ASSERT_TRUE(window->Create(nullptr, L"Test form", kWsPopup, 0));
    window->ShowWindow(true);
    backend->Pump();  // "windowinit"
    window->TakeNotes();
  }

  Answer Ask(Request r) {
    if (r.windowClass.empty() && r.op != "windows" && r.op != "tray" && r.op != "menu") r.windowClass = "UITestWnd";
    std::optional<Answer> out;
    automation.Handle(r, [&](Answer a) { out = std::move(a); });
    EXPECT_TRUE(out) << "no answer on the window's own thread";
    return out.value_or(Answer::Fail("no answer"));
  }
  std::string Text(const std::string& control, const std::string& attr = "") {
    Answer a = Ask({.op = "get", .control = control, .attr = attr});
    EXPECT_TRUE(a.ok) << a.error;
    return a.ok && !a.lines.empty() ? a.lines[0] : "<" + a.error + ">";
  }
  template <typename T>
  T* Control(const wchar_t* name) {
    return dynamic_cast<T*>(window->GetPaintManager().FindControl(name));
  }

  Automation automation;
  std::unique_ptr<FormWindow> window;
};

TEST_F(AutomationTest, WindowsListsEveryOpenWindowWithItsTitleAndWhetherItIsShown) {
  FormWindow hidden(L"UIOtherWnd");
  ASSERT_TRUE(hidden.Create(nullptr, L"Zweites Fenster \xe4", kWsPopup, 0));
  Answer a = Ask({.op = "windows"});
  ASSERT_TRUE(a.ok) << a.error;
  EXPECT_THAT(a.lines, ElementsAre("UITestWnd\tTest form\tvisible", "UIOtherWnd\tZweites Fenster \xc3\xa4\thidden"));
}

TEST_F(AutomationTest, GetReadsTextsAndAttributesAndNamesWhatIsMissing) {
  EXPECT_EQ(Text("SERVER"), "nas.local");
  EXPECT_EQ(Text("STATUS"), "Up to date");
  EXPECT_EQ(Text("STATUS", "tooltip"), "All synced");
  EXPECT_EQ(Text("HIDDENBTN", "visible"), "false");
  EXPECT_EQ(Text("LOGINBTN", "visible"), "true");
  EXPECT_EQ(Text("DISABLEDBTN", "enabled"), "false");
  EXPECT_EQ(Text("TAB1", "selected"), "true");
  EXPECT_EQ(Text("REMEMBER", "selected"), "false");
  EXPECT_EQ(Text("PROGRESS", "value"), "40");
  EXPECT_EQ(Text("LANGCOMBO", "value"), "-1");
  Control<CComboUI>(L"LANGCOMBO")->SelectItem(1, false);
  EXPECT_EQ(Text("LANGCOMBO"), "\xe7\xae\x80\xe4\xbd\x93\xe4\xb8\xad\xe6\x96\x87");
  // A control inside a hidden container is not visible either.
  Control<CControlUI>(L"LOGINBTN")->GetParent()->SetVisible(false);
  EXPECT_EQ(Text("LOGINBTN", "visible"), "false");

  EXPECT_THAT(Ask({.op = "get", .control = "NOSUCH"}).error, HasSubstr("UITestWnd has no control named NOSUCH"));
  EXPECT_THAT(Ask({.op = "get", .control = "STATUS", .attr = "colour"}).error, HasSubstr("unknown attribute colour"));
  EXPECT_THAT(Ask({.op = "get", .control = "STATUS", .attr = "selected"}).error, HasSubstr("cannot be selected"));
  EXPECT_THAT(Ask({.op = "get", .control = "STATUS", .attr = "value"}).error, HasSubstr("has no value"));
  EXPECT_THAT(Ask({.op = "get", .windowClass = "UINoWnd", .control = "X"}).error,
              HasSubstr("no window of class UINoWnd is open"));
  EXPECT_THAT(Ask({.op = "paint"}).error, HasSubstr("unknown operation paint"));
}

TEST_F(AutomationTest, SetTypesIntoAnEditAsTheUserDoesAndOnlyWhereTheUserCould) {
  Answer a = Ask({.op = "set", .control = "USERNAME", .text = "\xe7\x8e\x8b admin"});
  ASSERT_TRUE(a.ok) << a.error;
  EXPECT_EQ(Text("USERNAME"), "\xe7\x8e\x8b admin");
  EXPECT_THAT(window->TakeNotes(), ElementsAre(L"setfocus:USERNAME", L"textchanged:USERNAME"));

  EXPECT_THAT(Ask({.op = "set", .control = "SERVER", .text = "x"}).error, HasSubstr("SERVER is read-only"));
  EXPECT_THAT(Ask({.op = "set", .control = "STATUS", .text = "x"}).error, HasSubstr("is not an edit"));
  Control<CControlUI>(L"USERNAME")->SetEnabled(false);
  EXPECT_THAT(Ask({.op = "set", .control = "USERNAME", .text = "x"}).error, HasSubstr("USERNAME is disabled"));
  Control<CControlUI>(L"USERNAME")->SetEnabled(true);
  window->ShowWindow(false);
  EXPECT_THAT(Ask({.op = "set", .control = "USERNAME", .text = "x"}).error, HasSubstr("UITestWnd is hidden"));
  EXPECT_EQ(Text("USERNAME"), "\xe7\x8e\x8b admin");
  EXPECT_THAT(window->TakeNotes(), IsEmpty());
}

TEST_F(AutomationTest, ClickTravelsThroughTheMouseMessagesAndIsRefusedWhereTheMouseWouldMiss) {
  ASSERT_TRUE(Ask({.op = "click", .control = "LOGINBTN"}).ok);
  EXPECT_THAT(window->TakeNotes(), ElementsAre(L"click:LOGINBTN"));
  ASSERT_EQ(window->seen.size(), 1u);
  EXPECT_EQ(window->seen[0].msg, kWmLButtonUp);
  // The message's point lies on the button.
  EXPECT_TRUE(Control<CControlUI>(L"LOGINBTN")->GetPos().Contains(PointFromLParam(window->seen[0].lParam)));

  EXPECT_THAT(Ask({.op = "click", .control = "DISABLEDBTN"}).error, HasSubstr("DISABLEDBTN is disabled"));
  EXPECT_THAT(Ask({.op = "click", .control = "HIDDENBTN"}).error, HasSubstr("HIDDENBTN is hidden"));
  EXPECT_THAT(Ask({.op = "click", .control = "DEAFBTN"}).error, HasSubstr("takes no mouse input"));
  EXPECT_THAT(Ask({.op = "click", .control = "STATUS"}).error, HasSubstr("does not take clicks"));
  EXPECT_THAT(Ask({.op = "click", .control = "OFFSCREENBTN"}).error, HasSubstr("outside the visible part"));
  window->EnableWindow(false);
  EXPECT_THAT(Ask({.op = "click", .control = "LOGINBTN"}).error, HasSubstr("takes no input now"));
  window->EnableWindow(true);
  window->ShowWindowCommand(kSwMinimize);
  EXPECT_THAT(Ask({.op = "click", .control = "LOGINBTN"}).error, HasSubstr("minimised"));
  window->ShowWindowCommand(kSwRestore);
  window->ShowWindow(false);
  EXPECT_THAT(Ask({.op = "click", .control = "LOGINBTN"}).error, HasSubstr("UITestWnd is hidden"));
  EXPECT_THAT(window->TakeNotes(), IsEmpty());
}

TEST_F(AutomationTest, SelectSetsOptionsByClickingThemAndPicksComboAndListItems) {
  // A check box: clicked once, then already so.
  ASSERT_TRUE(Ask({.op = "select", .control = "REMEMBER"}).ok);
  EXPECT_THAT(window->TakeNotes(), ElementsAre(L"click:REMEMBER", L"selectchanged:REMEMBER"));
  ASSERT_TRUE(Ask({.op = "select", .control = "REMEMBER"}).ok);
  EXPECT_THAT(window->TakeNotes(), IsEmpty());
  ASSERT_TRUE(Ask({.op = "select", .control = "REMEMBER", .index = 0}).ok);
  EXPECT_EQ(Text("REMEMBER", "selected"), "false");
  window->TakeNotes();

  // An option of a group takes the selection from the others.
  ASSERT_TRUE(Ask({.op = "select", .control = "TAB2"}).ok);
  EXPECT_THAT(window->TakeNotes(), ElementsAre(L"click:TAB2", L"selectchanged:TAB1", L"selectchanged:TAB2"));
  EXPECT_EQ(Text("TAB1", "selected"), "false");
  EXPECT_THAT(Ask({.op = "select", .control = "TAB2", .index = 0}).error, HasSubstr("belongs to a group"));
  EXPECT_THAT(Ask({.op = "select", .control = "REMEMBER", .index = 2}).error, HasSubstr("0 (clear) or 1"));

  ASSERT_TRUE(Ask({.op = "select", .control = "LANGCOMBO", .index = 1}).ok);
  EXPECT_THAT(window->TakeNotes(), ElementsAre(L"itemselect:LANGCOMBO"));
  EXPECT_EQ(Text("LANGCOMBO", "value"), "1");
  EXPECT_THAT(Ask({.op = "select", .control = "LANGCOMBO"}).error, HasSubstr("needs the index"));
  EXPECT_THAT(Ask({.op = "select", .control = "LANGCOMBO", .index = 2}).error, HasSubstr("has 2 items; there is no item 2"));
  EXPECT_THAT(Ask({.op = "select", .control = "STATUS", .index = 0}).error, HasSubstr("nothing to select"));
  Control<CControlUI>(L"LANGCOMBO")->SetEnabled(false);
  EXPECT_THAT(Ask({.op = "select", .control = "LANGCOMBO", .index = 0}).error, HasSubstr("disabled"));
  EXPECT_THAT(window->TakeNotes(), IsEmpty());
}

TEST_F(AutomationTest, KeysArriveAsKeyDownWithTheirModifiersAndEnterInAnEditIsTheEdits) {
  ASSERT_TRUE(Ask({.op = "key", .text = "ctrl+shift+l"}).ok);
  ASSERT_EQ(window->seen.size(), 1u);
  EXPECT_EQ(window->seen[0].msg, kWmKeyDown);
  EXPECT_EQ(window->seen[0].wParam, 0x4Cu);
  EXPECT_EQ(window->seen[0].lParam, kKeyModControl | kKeyModShift);

  ASSERT_TRUE(Ask({.op = "set", .control = "USERNAME", .text = "a"}).ok);
  window->TakeNotes();
  ASSERT_TRUE(Ask({.op = "key", .text = "Enter"}).ok);
  EXPECT_THAT(window->TakeNotes(), ElementsAre(L"return:USERNAME"));
  EXPECT_EQ(window->seen.size(), 1u);

  EXPECT_THAT(Ask({.op = "key", .text = "ctrl+"}).error, HasSubstr("no key"));
  window->ShowWindow(false);
  EXPECT_THAT(Ask({.op = "key", .text = "f5"}).error, HasSubstr("hidden"));
  EXPECT_EQ(window->seen.size(), 1u);
}

TEST(ParseKeysTest, NamesModifiersLettersDigitsAndFunctionKeys) {
  auto keys = [](const std::string& text) {
    std::string error;
    auto chord = ParseKeys(text, &error);
    return chord ? std::to_string(chord->vk) + "/" + std::to_string(chord->modifiers) : "error: " + error;
  };
  EXPECT_EQ(keys("ctrl+shift+l"), "76/3");
  EXPECT_EQ(keys("Control+G"), "71/1");
  EXPECT_EQ(keys("alt+f4"), "115/4");
  EXPECT_EQ(keys("F12"), "123/0");
  EXPECT_EQ(keys("7"), "55/0");
  EXPECT_EQ(keys("shift+tab"), "9/2");
  EXPECT_EQ(keys("escape"), "27/0");
  EXPECT_THAT(keys("ctrl+shift"), HasSubstr("only modifier keys"));
  EXPECT_THAT(keys("a+b"), HasSubstr("more than one key"));
  EXPECT_THAT(keys("f13"), HasSubstr("unknown key f13"));
  EXPECT_THAT(keys("f99999999999"), HasSubstr("unknown key"));
  EXPECT_THAT(keys(""), HasSubstr("no key"));
  EXPECT_THAT(keys("ctrl++"), HasSubstr("no key"));
}

TEST_F(AutomationTest, RowsGiveEveryShownRowsNamedTextsInDisplayOrder) {
  auto* list = Control<CListUI>(L"FILES");
  CDialogBuilder builder;
  const std::vector<std::pair<std::wstring, std::wstring>> files = {
      {L"report \"final\".docx", L"1.2 MB"}, {L"\u7167\u7247\\a.jpg", L"3 KB"}, {L"hidden.txt", L"0 B"}};
  for (const auto& [name, size] : files) {
    CControlUI* row = builder.CreateCached(L"row.xml", window.get(), &window->GetPaintManager());
    ASSERT_NE(row, nullptr) << builder.GetLastError();
    list->Add(row);
    row->FindSubControl(L"NAMELABEL")->SetText(name);
    row->FindSubControl(L"SIZELABEL")->SetText(size);
  }
  list->GetItemAt(2)->SetVisible(false);

  Answer a = Ask({.op = "rows", .control = "FILES"});
  ASSERT_TRUE(a.ok) << a.error;
  ASSERT_EQ(a.lines.size(), 2u);
  EXPECT_EQ(a.lines[0], R"({"NAMELABEL":"report \"final\".docx","SIZELABEL":"1.2 MB"})");
  Json::Value row;
  Json::Reader reader;
  ASSERT_TRUE(reader.parse(a.lines[1], row)) << a.lines[1];
  EXPECT_EQ(row["NAMELABEL"].asString(), "\xe7\x85\xa7\xe7\x89\x87\\a.jpg");
  EXPECT_EQ(row["SIZELABEL"].asString(), "3 KB");
  EXPECT_EQ(row.size(), 2u);  // the cells' container is not a cell

  list->RemoveAll();
  a = Ask({.op = "rows", .control = "FILES"});
  EXPECT_TRUE(a.ok);
  EXPECT_THAT(a.lines, IsEmpty());
  EXPECT_THAT(Ask({.op = "rows", .control = "TREE"}).error, HasSubstr("is not a list"));
}

TEST_F(AutomationTest, CheckOpensTheFoldersAboveAnEntryAndTicksItsBoxWithTheMouse) {
  auto* tree = Control<CTreeViewUI>(L"TREE");
  auto node = [](const wchar_t* text) {
    auto* n = new CTreeNodeUI;
    n->SetText(text);
    return n;
  };
  CTreeNodeUI* root = node(L"/home/ann/Sync");
  tree->AddRoot(root);
  CTreeNodeUI* photos = node(L"photos");
  root->AddChildNode(photos);
  CTreeNodeUI* trip = node(L"trip");
  photos->AddChildNode(trip);
  CTreeNodeUI* picture = node(L"a.jpg");
  trip->AddChildNode(picture);
  root->AddChildNode(node(L"notes.txt"));
  photos->SetExpanded(false);
  trip->SetExpanded(false);
  window->TakeNotes();

  Answer a = Ask({.op = "check", .control = "TREE", .text = "photos/trip/a.jpg"});
  ASSERT_TRUE(a.ok) << a.error;
  EXPECT_TRUE(picture->GetCheck());
  EXPECT_TRUE(photos->IsExpanded());
  EXPECT_TRUE(trip->IsExpanded());
  EXPECT_FALSE(trip->GetCheck());
  // The window saw the release of the mouse button on the check box, as the
  // selective synchronisation window needs it.
  ASSERT_EQ(window->seen.size(), 1u);
  EXPECT_TRUE(picture->GetCheckBox()->GetPos().Contains(PointFromLParam(window->seen[0].lParam)));
  EXPECT_THAT(window->TakeNotes(), ::testing::Contains(L"selectchanged:"));

  ASSERT_TRUE(Ask({.op = "check", .control = "TREE", .text = "photos\\trip\\a.jpg"}).ok);
  EXPECT_EQ(window->seen.size(), 1u) << "already ticked: no click";
  ASSERT_TRUE(Ask({.op = "check", .control = "TREE", .text = "photos/trip/a.jpg", .on = false}).ok);
  EXPECT_FALSE(picture->GetCheck());

  // The root itself: the tree ticks everything below.
  ASSERT_TRUE(Ask({.op = "check", .control = "TREE", .text = ""}).ok);
  EXPECT_TRUE(root->GetCheck());
  EXPECT_TRUE(picture->GetCheck());

  EXPECT_THAT(Ask({.op = "check", .control = "TREE", .text = "photos/none"}).error, HasSubstr("no entry none under photos"));
  EXPECT_THAT(Ask({.op = "check", .control = "FILES", .text = "x"}).error, HasSubstr("is not a tree"));
  window->EnableWindow(false);
  EXPECT_THAT(Ask({.op = "check", .control = "TREE", .text = "notes.txt", .on = false}).error,
              HasSubstr("takes no input now"));
}

TEST_F(AutomationTest, TrayClicksReachTheIconsReceiverAsItsCallbackMessage) {
  EXPECT_THAT(Ask({.op = "tray", .text = "right"}).error, HasSubstr("no tray icon"));
  CTrayIcon tray;
  ASSERT_TRUE(tray.CreateTrayIcon(window.get(), 128, L"Orlin"));
  ASSERT_TRUE(Ask({.op = "tray", .text = "right"}).ok);
  ASSERT_TRUE(Ask({.op = "tray", .text = "left"}).ok);
  EXPECT_THAT(Ask({.op = "tray", .text = "middle"}).error, HasSubstr("left or right"));
  backend->Pump();
  std::vector<std::pair<unsigned, std::uintptr_t>> tray_messages;
  for (auto& [msg, wParam] : window->messages) {
    if (msg == kWmTrayCallback) tray_messages.emplace_back(msg, wParam);
  }
  EXPECT_EQ(tray_messages.size(), 2u);
  tray.DeleteTrayIcon();
  EXPECT_THAT(Ask({.op = "tray", .text = "left"}).error, HasSubstr("no tray icon"));
}

TEST_F(AutomationTest, MenuClicksAnItemOfTheOpenMenu) {
  EXPECT_THAT(Ask({.op = "menu", .text = "MENU_EXIT"}).error, HasSubstr("no menu is open"));
  // Owned here, as the window that opens a menu owns it.
  auto owned = std::make_unique<CMenuWnd>();
  CMenuWnd* menu = owned.get();
  ASSERT_TRUE(menu->Init(nullptr, L"menu.xml", Point{10, 10}, &window->GetPaintManager()));
  menu->GetMenuUI()->Add(CMenuWnd::NewTextElement(L"MENU_PANEL", L"Open Panel"));
  menu->GetMenuUI()->Add(CMenuWnd::NewTextElement(L"MENU_EXIT", L"Exit"));
  menu->ResizeMenu();

  EXPECT_THAT(Ask({.op = "menu", .text = "MENU_NONE"}).error, HasSubstr("it has MENU_PANEL, MENU_EXIT"));
  ASSERT_TRUE(Ask({.op = "menu", .text = "MENU_EXIT"}).ok);
  backend->Pump();
  EXPECT_THAT(window->menuCommands, ElementsAre(L"MENU_EXIT"));
  EXPECT_THAT(Ask({.op = "menu", .text = "MENU_EXIT"}).error, HasSubstr("no menu is open"));
}

TEST_F(AutomationTest, ShotHandsTheWindowToThePictureTakerOrSaysItCannot) {
  EXPECT_THAT(Ask({.op = "shot", .file = "/tmp/x.png"}).error, HasSubstr("cannot take pictures"));
  std::vector<std::pair<WindowImplBase*, std::filesystem::path>> taken;
  Automation painter([&](WindowImplBase& w, const std::filesystem::path& file) {
    taken.emplace_back(&w, file);
    return file.filename() != "readonly.png";
  });
  std::optional<Answer> out;
  painter.Handle({.op = "shot", .windowClass = "UITestWnd", .file = "/tmp/form.png"}, [&](Answer a) { out = a; });
  ASSERT_TRUE(out && out->ok);
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].first, window.get());
  EXPECT_EQ(taken[0].second, std::filesystem::path("/tmp/form.png"));
  painter.Handle({.op = "shot", .windowClass = "UITestWnd", .file = "/x/readonly.png"}, [&](Answer a) { out = a; });
  EXPECT_THAT(out->error, HasSubstr("could not write the picture to /x/readonly.png"));
}

TEST_F(AutomationTest, AWindowOfAnotherThreadIsWorkedOnThatThread) {
  std::promise<FormWindow*> made;
  std::atomic<bool> stop{false};
  std::thread::id windowThread;
  std::thread worker([&] {
    windowThread = std::this_thread::get_id();
    FormWindow other(L"UIWorkerWnd");
    other.Create(nullptr, L"worker", kWsPopup, 0);
    other.ShowWindow(true);
    made.set_value(&other);
    while (!stop) {
      backend->Pump();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    backend->Pump();
  });
  made.get_future().get();

  std::promise<std::pair<Answer, std::thread::id>> answered;
  automation.Handle({.op = "click", .windowClass = "UIWorkerWnd", .control = "LOGINBTN"},
                    [&](Answer a) { answered.set_value({a, std::this_thread::get_id()}); });
  auto future = answered.get_future();
  ASSERT_EQ(future.wait_for(std::chrono::seconds(120)), std::future_status::ready) << "no answer from the worker's window";
  auto [answer, thread] = future.get();
  EXPECT_TRUE(answer.ok) << answer.error;
  EXPECT_EQ(thread, windowThread);
  stop = true;
  worker.join();
}

}  // namespace
}  // namespace orlin::automation
