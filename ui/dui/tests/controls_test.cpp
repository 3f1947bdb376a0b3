// The control model: skins, attributes, finding controls, input and layout.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ui/dui/dialog_builder.h"
#include "ui/dui/render_engine.h"
#include "ui/dui/tests/dui_fixture.h"

namespace orlin::dui::testing {
namespace {

using ::testing::ElementsAre;

const char kPanelSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="300,200" caption="0,0,0,30">
  <Font id="0" name="Sans" size="12" default="true"/>
  <Font id="1" name="Sans" size="20" bold="true"/>
  <Default name="Button" value="bkcolor=&quot;#FF111111&quot; textcolor=&quot;#FF222222&quot; height=&quot;30&quot;"/>
  <Style name="primary" value="bkcolor=&quot;#FF333333&quot; hotbkcolor=&quot;#FF444444&quot;"/>
  <VerticalLayout name="ROOT" inset="10,10,10,10">
    <Label name="TITLE" height="30" text="Title" textid="Title_Id" font="1"/>
    <HorizontalLayout name="ROW" height="40" childpadding="10">
      <Button name="PLAIN" width="80" text="Plain"/>
      <Button name="STYLED" style="primary" bkcolor="#FF555555" text="Styled"/>
      <Button name="DEAF" width="60" mouse="false" text="Deaf"/>
    </HorizontalLayout>
    <Label name="TITLE" height="20" text="second of that name"/>
    <HorizontalLayout name="TABS" height="30">
      <Option name="TAB1" group="tabs" text="One" selected="true"/>
      <Option name="TAB2" group="tabs" text="Two"/>
      <CheckBox name="CHECK" text="Check"/>
    </HorizontalLayout>
    <Edit name="EDIT" height="24" maxchar="5"/>
    <Control/>
  </VerticalLayout>
</Window>)";

class ControlsTest : public DuiTest {
 protected:
  void SetUp() override {
    DuiTest::SetUp();
    WriteSkin("panel.xml", kPanelSkin);
    window = std::make_unique<RecordingWindow>(L"panel.xml");
    ASSERT_TRUE(window->Create(nullptr, L"panel", kWsPopup, 0));
    pm().LayoutIfNeeded();
    window->TakeNotes();
  }
  CPaintManagerUI& pm() { return window->GetPaintManager(); }
  CControlUI* Find(const std::wstring& name) {
    CControlUI* c = pm().FindControl(name);
    EXPECT_NE(c, nullptr) << WideToUtf8(name);
    return c;
  }
  static Point Centre(CControlUI* c) {
    return Point{(c->GetPos().left + c->GetPos().right) / 2, (c->GetPos().top + c->GetPos().bottom) / 2};
  }
  void Click(CControlUI* c) {
    window->HandleMessage(kWmLButtonDown, 0, MakePointLParam(Centre(c)));
    window->HandleMessage(kWmLButtonUp, 0, MakePointLParam(Centre(c)));
  }
  std::unique_ptr<RecordingWindow> window;
};

TEST_F(ControlsTest, SkinSetsWindowFontsAndAttributesWithElementOverStyleOverDefault) {
  EXPECT_EQ(pm().GetInitSize(), (Size{300, 200}));
  EXPECT_EQ(pm().GetCaptionRect(), (Rect{0, 0, 0, 30}));
  EXPECT_EQ(pm().GetFont(1).size, 20);
  EXPECT_TRUE(pm().GetFont(1).bold);
  EXPECT_EQ(pm().GetFont(-1).size, 12);  // the default font

  CControlUI* plain = Find(L"PLAIN");
  EXPECT_EQ(plain->GetBkColor(), 0xFF111111u);
  EXPECT_EQ(plain->GetTextColor(), 0xFF222222u);
  CControlUI* styled = Find(L"STYLED");
  EXPECT_EQ(styled->GetBkColor(), 0xFF555555u);   // element beats style
  EXPECT_EQ(styled->GetHotBkColor(), 0xFF444444u);  // style beats nothing
  EXPECT_EQ(styled->GetTextColor(), 0xFF222222u);   // default still applies
}

TEST_F(ControlsTest, AttributeListsAppliedInCodeChangeLookAndLayout) {
  CControlUI* b = Find(L"PLAIN");
  b->ApplyAttributeList(
      L"normalimage=\"file='res\\mainwnd\\sync_btn_normal.png' dest='10,13,26,29'\" "
      L"pushedimage=\"file='res\\mainwnd\\sync_btn_selected.png' dest='10,13,26,29'\" "
      L"textcolor=\"#FF000000\" pushedtextcolor=\"#FFFFFFFF\" bkcolor=\"#FFB0BBC7\" hotbkcolor=\"#FF808080\" "
      L"pushedbkcolor=\"#FF4B74B4\" width=\"120\" tooltip=\"a tip with blanks\" userdata=\"42\"");
  EXPECT_EQ(b->GetNormalImage().file, "res\\mainwnd\\sync_btn_normal.png");
  ASSERT_TRUE(b->GetNormalImage().dest.has_value());
  EXPECT_EQ(*b->GetNormalImage().dest, (Rect{10, 13, 26, 29}));
  EXPECT_EQ(b->GetToolTip(), L"a tip with blanks");
  EXPECT_EQ(b->GetUserData(), L"42");
  pm().LayoutIfNeeded();
  EXPECT_EQ(b->GetPos().Width(), 120);

  // Normal, hot, pushed: each state picks its own colours and image.
  EXPECT_EQ(b->CurrentBkColor(), 0xFFB0BBC7u);
  EXPECT_EQ(b->CurrentImage()->file, "res\\mainwnd\\sync_btn_normal.png");
  window->HandleMessage(kWmMouseMove, 0, MakePointLParam(Centre(b)));
  EXPECT_EQ(b->CurrentBkColor(), 0xFF808080u);
  window->HandleMessage(kWmLButtonDown, 0, MakePointLParam(Centre(b)));
  EXPECT_EQ(b->CurrentBkColor(), 0xFF4B74B4u);
  EXPECT_EQ(b->CurrentTextColor(), 0xFFFFFFFFu);
  EXPECT_EQ(b->CurrentImage()->file, "res\\mainwnd\\sync_btn_selected.png");
  // Released outside: no click, back to normal look.
  window->HandleMessage(kWmLButtonUp, 0, MakePointLParam(Point{1, 1}));
  window->HandleMessage(kWmMouseMove, 0, MakePointLParam(Point{1, 1}));
  EXPECT_EQ(b->CurrentBkColor(), 0xFFB0BBC7u);
  EXPECT_TRUE(window->TakeNotes().empty());

  // Disabled controls show their normal colours and take no clicks.
  b->SetEnabled(false);
  Click(b);
  EXPECT_TRUE(window->TakeNotes().empty());
}

TEST_F(ControlsTest, FindsControlsByNameAndByPoint) {
  // The first control of a name in tree order; names are exact.
  CControlUI* title = Find(L"TITLE");
  EXPECT_EQ(title->GetText(), L"Title");
  EXPECT_EQ(pm().FindControl(L"title"), nullptr);
  EXPECT_EQ(pm().FindControl(L"NOPE"), nullptr);

  CControlUI* plain = Find(L"PLAIN");
  EXPECT_EQ(pm().FindControl(Centre(plain)), plain);
  // Inset area belongs to the root layout.
  EXPECT_EQ(pm().FindControl(Point{2, 2}), Find(L"ROOT"));
  // A control that ignores the mouse lets the point fall to its parent.
  CControlUI* deaf = Find(L"DEAF");
  EXPECT_EQ(pm().FindControl(Centre(deaf)), Find(L"ROW"));
  // Hidden controls are never found by point.
  plain->SetVisible(false);
  pm().LayoutIfNeeded();
  EXPECT_NE(pm().FindControl(Centre(Find(L"STYLED"))), nullptr);
  EXPECT_NE(pm().FindControl(Centre(Find(L"STYLED"))), plain);
  EXPECT_EQ(pm().FindSubControlByName(Find(L"ROW"), L"DEAF"), deaf);
}

TEST_F(ControlsTest, RenamedAndRemovedControlsAreFoundByTheirCurrentNameOnly) {
  CControlUI* plain = Find(L"PLAIN");
  plain->SetName(L"RENAMED");
  EXPECT_EQ(pm().FindControl(L"PLAIN"), nullptr);
  EXPECT_EQ(pm().FindControl(L"RENAMED"), plain);
  plain->SetAttribute(L"name", L"AGAIN");
  EXPECT_EQ(pm().FindControl(L"AGAIN"), plain);
  auto* row = static_cast<CContainerUI*>(Find(L"ROW"));
  row->Remove(plain);
  EXPECT_EQ(pm().FindControl(L"AGAIN"), nullptr);
  // Hot and pushed controls that go away are forgotten.
  CControlUI* styled = Find(L"STYLED");
  window->HandleMessage(kWmLButtonDown, 0, MakePointLParam(Centre(styled)));
  row->Remove(styled);
  window->HandleMessage(kWmLButtonUp, 0, MakePointLParam(Point{5, 5}));
  window->HandleMessage(kWmMouseMove, 0, MakePointLParam(Point{5, 5}));
  EXPECT_TRUE(window->TakeNotes().empty());
}

TEST_F(ControlsTest, MouseDisabledControlIgnoresClicksUntilEnabledAgain) {
  CControlUI* deaf = Find(L"DEAF");
  Click(deaf);
  EXPECT_TRUE(window->TakeNotes().empty());
  deaf->SetMouseEnabled(true);
  Click(deaf);
  EXPECT_THAT(window->TakeNotes(), ElementsAre(L"click:DEAF"));
}

TEST_F(ControlsTest, OptionGroupKeepsOneSelectedAndClickComesBeforeSelection) {
  auto* tab1 = static_cast<COptionUI*>(Find(L"TAB1"));
  auto* tab2 = static_cast<COptionUI*>(Find(L"TAB2"));
  EXPECT_TRUE(tab1->IsSelected());
  // A handler that deselects the clicked option sees it selected again after.
  window->onNotify = [&](TNotifyUI& msg) {
    if (msg.sType == kEventClick && msg.pSender == tab2) {
      EXPECT_FALSE(tab2->IsSelected());
    }
  };
  Click(tab2);
  window->onNotify = nullptr;
  EXPECT_TRUE(tab2->IsSelected());
  EXPECT_FALSE(tab1->IsSelected());
  EXPECT_THAT(window->TakeNotes(), ElementsAre(L"click:TAB2", L"selectchanged:TAB1", L"selectchanged:TAB2"));
  // Clicking the selected option of a group keeps it selected.
  Click(tab2);
  EXPECT_TRUE(tab2->IsSelected());
  EXPECT_THAT(window->TakeNotes(), ElementsAre(L"click:TAB2"));
  // A check box toggles and is in no group.
  auto* check = static_cast<CCheckBoxUI*>(Find(L"CHECK"));
  Click(check);
  EXPECT_TRUE(check->GetCheck());
  EXPECT_TRUE(tab2->IsSelected());
  Click(check);
  EXPECT_FALSE(check->GetCheck());
  // Selecting in code without notification sends nothing.
  window->TakeNotes();
  tab1->Selected(true, false);
  EXPECT_FALSE(tab2->IsSelected());
  EXPECT_TRUE(window->TakeNotes().empty());
}

TEST_F(ControlsTest, EditSendsTextChangedKeepsMaxCharAndLosesFocusWithNotification) {
  auto* edit = static_cast<CEditUI*>(Find(L"EDIT"));
  Click(edit);
  EXPECT_EQ(pm().GetFocus(), edit);
  edit->UserSetText(L"abcdefgh");
  EXPECT_EQ(edit->GetText(), L"abcde");
  edit->UserSetText(L"abcde");  // unchanged: no second notification
  Click(Find(L"PLAIN"));
  EXPECT_EQ(pm().GetFocus(), nullptr);
  EXPECT_THAT(window->TakeNotes(),
              ElementsAre(L"setfocus:EDIT", L"textchanged:EDIT", L"killfocus:EDIT", L"click:PLAIN"));
  edit->SetReadOnly(true);
  edit->UserSetText(L"x");
  EXPECT_EQ(edit->GetText(), L"abcde");
}

TEST_F(ControlsTest, LayoutSharesSpaceScalesWithDpiAndHonoursMinWidth) {
  CControlUI* row = Find(L"ROW");
  CControlUI* plain = Find(L"PLAIN");
  CControlUI* styled = Find(L"STYLED");
  CControlUI* deaf = Find(L"DEAF");
  // 300 wide less the 10+10 inset: 280; 80 and 60 fixed, two gaps of 10.
  EXPECT_EQ(row->GetPos(), (Rect{10, 40, 290, 80}));
  EXPECT_EQ(plain->GetPos().Width(), 80);
  EXPECT_EQ(styled->GetPos().Width(), 280 - 80 - 60 - 20);
  EXPECT_EQ(deaf->GetPos().right, 290);
  // A fixed width below its minimum takes the minimum, and the rest of the
  // row makes room for it: nothing sticks out of the row.
  deaf->SetMinWidth(100);
  pm().LayoutIfNeeded();
  EXPECT_EQ(deaf->GetPos().Width(), 100);
  EXPECT_EQ(deaf->GetPos().right, 290);
  EXPECT_EQ(styled->GetPos().Width(), 280 - 80 - 100 - 20);
  deaf->SetMinWidth(0);
  styled->SetMinWidth(200);
  pm().LayoutIfNeeded();
  EXPECT_EQ(styled->GetPos().Width(), 200);

  window->ApplyDPI(192);
  EXPECT_EQ(pm().GetDPIObj()->GetScale(), 200);
  EXPECT_EQ(pm().GetClientSize(), (Size{600, 400}));
  pm().LayoutIfNeeded();
  EXPECT_EQ(plain->GetPos().Width(), 160);
  EXPECT_EQ(row->GetPos().top, 80);
  EXPECT_EQ(pm().GetScaledFont(1).size, 40);
}

TEST_F(ControlsTest, TextMeasurementUsesTheWindowFontAndScale) {
  Size one = CRenderEngine::GetTextSize(&pm(), L"abcd", 0, kDtSingleLine);
  Size big = CRenderEngine::GetTextSize(&pm(), L"abcd", 1, kDtSingleLine);
  EXPECT_GT(big.cx, one.cx);
  EXPECT_GT(CRenderEngine::GetTextSize(&pm(), L"abcdefgh", 0, kDtSingleLine).cx, one.cx);
  Size two = CRenderEngine::GetTextSize(&pm(), L"ab\ncd", 0, kDtWordBreak);
  EXPECT_EQ(two.cy, 2 * one.cy);
  window->ApplyDPI(192);
  EXPECT_EQ(CRenderEngine::GetTextSize(&pm(), L"abcd", 0, kDtSingleLine).cx, 2 * one.cx);
}

TEST(SkinValues, ParsesColoursRectsAndImages) {
  EXPECT_EQ(ParseColor("#FF4B74B4"), 0xFF4B74B4u);
  EXPECT_EQ(ParseColor("#4B74B4"), 0xFF4B74B4u);
  EXPECT_EQ(ParseColor("0x804B74B4"), 0x804B74B4u);
  EXPECT_EQ(ParseColor("red"), std::nullopt);
  EXPECT_EQ(ParseColor("#12345"), std::nullopt);
  EXPECT_EQ(ParseRect("1, 2,3"), (Rect{1, 2, 3, 0}));
  ImageSpec bare = ParseImage("res\\a.png");
  EXPECT_EQ(bare.file, "res\\a.png");
  EXPECT_FALSE(bare.dest.has_value());
  ImageSpec full = ParseImage("file='res\\b c.png' source='0,0,16,16' dest='1,2,17,18'");
  EXPECT_EQ(full.file, "res\\b c.png");
  EXPECT_EQ(full.source, (Rect{0, 0, 16, 16}));
  EXPECT_EQ(full.dest, (Rect{1, 2, 17, 18}));
  EXPECT_EQ(ResolveImagePath("/inst", "res\\tray\\exit.png"), std::filesystem::path("/inst/res/tray/exit.png"));
}

TEST(TreeNodes, CheckingANodeChecksOrUnchecksAllDescendants) {
  CPaintManagerUI pm;
  auto* view = new CTreeViewUI;
  pm.AttachDialog(view);
  auto* root = new CTreeNodeUI;
  root->SetName(L"ROOT");
  view->AddRoot(root);
  auto* a = new CTreeNodeUI;
  auto* a1 = new CTreeNodeUI;
  auto* a2 = new CTreeNodeUI;
  auto* b = new CTreeNodeUI;
  root->AddChildNode(a);
  root->AddChildNode(b);
  a->AddChildNode(a1);
  a->AddChildNode(a2);
  EXPECT_EQ(a2->GetDepth(), 2);
  EXPECT_EQ(a2->GetParentNode(), a);

  a->SetCheck(true);
  EXPECT_TRUE(a1->GetCheck());
  EXPECT_TRUE(a2->GetCheck());
  EXPECT_FALSE(b->GetCheck());
  EXPECT_FALSE(root->GetCheck());
  root->SetCheck(true);
  EXPECT_TRUE(b->GetCheck());
  a1->SetCheck(false);
  EXPECT_TRUE(a->GetCheck());  // parents are left as they are
  root->SetCheck(false);
  for (auto* n : {root, a, a1, a2, b}) EXPECT_FALSE(n->GetCheck());

  // Collapsed nodes are not shown and cannot be hit.
  pm.SetClientSize(Size{200, 200});
  EXPECT_EQ(view->ShownNodes().size(), 5u);
  a->SetExpanded(false);
  pm.LayoutIfNeeded();
  EXPECT_EQ(view->ShownNodes().size(), 3u);
  EXPECT_TRUE(a1->GetPos().IsEmpty());
  Point onText{150, (a->GetPos().top + a->GetPos().bottom) / 2};
  EXPECT_EQ(pm.FindControl(onText), a);
  // The check box is a control of its own whose parent is the node; a click
  // on it toggles the node with its children, a click on the text does not.
  Rect box = a->GetCheckBox()->GetPos();
  Point onBox{(box.left + box.right) / 2, (box.top + box.bottom) / 2};
  ASSERT_EQ(pm.FindControl(onBox), a->GetCheckBox());
  EXPECT_EQ(pm.FindControl(onBox)->GetParent(), a);
  EXPECT_EQ(a->GetCheckBox()->GetClass(), L"CheckBox");
  pm.MouseDown(onText);
  pm.MouseUp(onText);
  EXPECT_FALSE(a->GetCheck());
  pm.MouseDown(onBox);
  pm.MouseUp(onBox);
  EXPECT_TRUE(a->GetCheck());
  EXPECT_TRUE(a2->GetCheck());
  // Checking through the check box itself, as windows do, also propagates.
  root->GetCheckBox()->Selected(false, true);
  EXPECT_FALSE(a1->GetCheck());
  EXPECT_FALSE(b->GetCheck());
  // A hidden check box is not hit; the text starts further left.
  int textWithBox = a->TextLeft();
  a->SetAttribute(L"checkboxvisible", L"false");
  pm.LayoutIfNeeded();
  EXPECT_EQ(pm.FindControl(onBox), a);
  EXPECT_LT(a->TextLeft(), textWithBox);
  // Removing a node forgets its check box too.
  pm.MouseDown(Point{(b->GetCheckBox()->GetPos().left + b->GetCheckBox()->GetPos().right) / 2,
                     (b->GetCheckBox()->GetPos().top + b->GetCheckBox()->GetPos().bottom) / 2});
  root->RemoveChildNode(b);
  pm.MouseUp(Point{0, 0});
  EXPECT_EQ(root->GetChildNodeCount(), 1);
}

}  // namespace
}  // namespace orlin::dui::testing
