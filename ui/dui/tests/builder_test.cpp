// Skins read by the dialog builder: shared style files, malformed files,
// custom controls, and the controls' own small behaviours.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ui/dui/tests/dui_fixture.h"

namespace orlin::dui::testing {
namespace {

class CustomControl : public CLabelUI {
 public:
  std::wstring GetClass() const override { return L"Custom"; }
};

class CustomWindow : public RecordingWindow {
 public:
  using RecordingWindow::RecordingWindow;
  CControlUI* CreateControl(const std::wstring& className) override {
    return className == L"Custom" ? new CustomControl : nullptr;
  }
};

class BuilderTest : public DuiTest {};

TEST_F(BuilderTest, SharedStyleFileGivesFontsDefaultsAndStyles) {
  WriteSkin("shared.xml", R"(<Styles>
    <Font id="4" name="Sans" size="17"/>
    <Default name="Label" value="textcolor=&quot;#FF010203&quot;"/>
    <Style name="big" value="font=&quot;4&quot; height=&quot;44&quot;"/>
  </Styles>)");
  WriteSkin("uses.xml", R"(<Window size="100,100"><Include source="shared.xml"/>
    <VerticalLayout><Label name="A" style="big"/><Label name="B" textcolor="#FF0000FF"/>
    <Custom name="C" text="mine"/><Unknown name="D"/></VerticalLayout></Window>)");
  CustomWindow w(L"uses.xml");
  ASSERT_TRUE(w.Create(nullptr, L"w", 0, 0));
  auto& pm = w.GetPaintManager();
  EXPECT_EQ(pm.FindControl(L"A")->GetFont(), 4);
  EXPECT_EQ(pm.FindControl(L"A")->GetFixedHeight(), 44);
  EXPECT_EQ(pm.FindControl(L"A")->GetTextColor(), 0xFF010203u);
  EXPECT_EQ(pm.FindControl(L"B")->GetTextColor(), 0xFF0000FFu);
  EXPECT_EQ(pm.GetFont(4).size, 17);
  // Controls the layer does not know come from the window, or are skipped.
  ASSERT_NE(pm.FindControl(L"C"), nullptr);
  EXPECT_EQ(pm.FindControl(L"C")->GetClass(), L"Custom");
  EXPECT_EQ(pm.FindControl(L"D"), nullptr);
}

TEST_F(BuilderTest, MalformedOrMissingSkinsBuildNothingAndSayWhy) {
  WriteSkin("broken.xml", "<Window><VerticalLayout></Window>");
  CPaintManagerUI pm;
  CDialogBuilder builder;
  EXPECT_EQ(builder.Create(L"broken.xml", nullptr, &pm), nullptr);
  EXPECT_FALSE(builder.GetLastError().empty());
  EXPECT_EQ(builder.Create(L"missing.xml", nullptr, &pm), nullptr);
  EXPECT_NE(builder.GetLastError().find("missing.xml"), std::string::npos);
  EXPECT_EQ(builder.CreateCached(L"missing.xml", nullptr, &pm), nullptr);
  // A missing include leaves the rest of the skin standing.
  WriteSkin("lonely.xml", R"(<Window size="10,10"><Include source="nowhere.xml"/><Label name="L"/></Window>)");
  CControlUI* root = builder.Create(L"lonely.xml", nullptr, &pm);
  ASSERT_NE(root, nullptr);
  delete root;
}

TEST_F(BuilderTest, TabsCombosAndProgressBarsKeepTheirState) {
  WriteSkin("misc.xml", R"(<Window size="200,100"><VerticalLayout>
    <TabLayout name="TABS" selectedid="1" height="50">
      <Label name="P0"/><Label name="P1"/><Label name="P2"/>
    </TabLayout>
    <Combo name="COMBO" height="24"><ListLabelElement text="a"/><ListLabelElement text="b"/></Combo>
    <Progress name="PROG" min="0" max="50" value="10" height="10"/>
  </VerticalLayout></Window>)");
  RecordingWindow w(L"misc.xml");
  ASSERT_TRUE(w.Create(nullptr, L"w", 0, 0));
  auto& pm = w.GetPaintManager();
  auto* tabs = static_cast<CTabLayoutUI*>(pm.FindControl(L"TABS"));
  EXPECT_EQ(tabs->GetCurSel(), 1);
  EXPECT_FALSE(pm.FindControl(L"P0")->IsVisible());
  EXPECT_TRUE(pm.FindControl(L"P1")->IsVisible());
  EXPECT_TRUE(tabs->SelectItem(2));
  EXPECT_FALSE(tabs->SelectItem(3));
  EXPECT_TRUE(pm.FindControl(L"P2")->IsVisible());
  EXPECT_FALSE(pm.FindControl(L"P1")->IsVisible());
  pm.LayoutIfNeeded();
  EXPECT_EQ(pm.FindControl(L"P2")->GetPos().Height(), 50);
  EXPECT_TRUE(pm.FindControl(L"P1")->GetPos().IsEmpty() || !pm.FindControl(L"P1")->IsVisible());

  auto* combo = static_cast<CComboUI*>(pm.FindControl(L"COMBO"));
  EXPECT_EQ(combo->GetCurSel(), -1);
  w.TakeNotes();
  EXPECT_TRUE(combo->SelectItem(1));
  EXPECT_EQ(combo->GetCurText(), L"b");
  EXPECT_FALSE(combo->SelectItem(5));
  EXPECT_THAT(w.TakeNotes(), ::testing::ElementsAre(L"itemselect:COMBO"));

  auto* prog = static_cast<CProgressUI*>(pm.FindControl(L"PROG"));
  EXPECT_EQ(prog->GetValue(), 10);
  prog->SetValue(80);
  EXPECT_EQ(prog->GetValue(), 50);
  prog->SetValue(-3);
  EXPECT_EQ(prog->GetValue(), 0);
}

TEST_F(BuilderTest, TooltipWidthIsSetThroughTheTooltipWindow) {
  CPaintManagerUI pm;
  EXPECT_EQ(pm.GetTooltipWindow()->SendMessageW(CTooltipWindow::kSetMaxTipWidth, 0, 420), 0);
  EXPECT_EQ(pm.GetTooltipMaxWidth(), 420);
  EXPECT_EQ(pm.GetTooltipWindow()->SendMessageW(0x400, 0, 5), 0);
  EXPECT_EQ(pm.GetTooltipMaxWidth(), 420);
}

TEST_F(BuilderTest, HiddenCancelLeavesTheRestOfARowInPlace) {
  WriteSkin("row.xml", R"(<Window size="300,50"><HorizontalLayout inset="10,0,10,0" childpadding="10">
    <Control/><Button name="OK" width="80"/><Button name="CANCEL" width="80"/></HorizontalLayout></Window>)");
  RecordingWindow w(L"row.xml");
  ASSERT_TRUE(w.Create(nullptr, L"w", 0, 0));
  auto& pm = w.GetPaintManager();
  pm.LayoutIfNeeded();
  EXPECT_EQ(pm.FindControl(L"CANCEL")->GetPos().right, 290);
  pm.FindControl(L"CANCEL")->SetVisible(false);
  pm.LayoutIfNeeded();
  EXPECT_EQ(pm.FindControl(L"OK")->GetPos().right, 290);
  EXPECT_EQ(pm.FindControl(Point{285, 25}), pm.FindControl(L"OK"));
}

}  // namespace
}  // namespace orlin::dui::testing
