// The paint pass every backend shows windows with, on a recording surface:
// what is painted for each control and state, where, and what is left to the
// backends' native widgets.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ui/dui/dirty_area.h"
#include "ui/dui/menu_wnd.h"
#include "ui/dui/render_engine.h"
#include "ui/dui/tests/dui_fixture.h"

namespace orlin::dui::testing {
namespace {

using Kind = RecordingSurface::OpKind;

const char kSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="400,300" caption="0,0,0,30">
  <Font id="0" name="Sans" size="12" default="true"/>
  <VerticalLayout name="ROOT">
    <HorizontalLayout height="40">
      <Button name="BTN" width="100" text="Sync" textpadding="10,0,5,0" bkcolor="#FF101010" hotbkcolor="#FF202020"
              pushedbkcolor="#FF303030" disabledbkcolor="#FF404040" textcolor="#FF0000AA" hottextcolor="#FF0000BB"
              disabledtextcolor="#FF0000CC"/>
      <Button name="ROUND" width="80" borderround="6" bkcolor="#FF112233" bordersize="1" bordercolor="#FF445566"/>
      <CheckBox name="CHECK" width="100" text="Autostart"/>
      <Control/>
    </HorizontalLayout>
    <Progress name="PROGRESS" height="10" width="200" forecolor="#FF2F6FDE" bkcolor="#FFE0E0E0"/>
    <HorizontalLayout height="30">
      <Edit name="EDIT" width="120" text="typed" bordersize="1" bordercolor="#FF8A99AD" textpadding="4,0,4,0"/>
      <Combo name="COMBO" width="100"><ListLabelElement text="first"/></Combo>
      <Label name="PLAIN" text="" bkimage="file='bk.png' dest='2,2,18,18'"/>
    </HorizontalLayout>
    <List name="LIST" height="100" itemhotbkcolor="#FFEEEEEE" itemselectedbkcolor="#FFDCE6F4">
      <ListHeader height="20"><ListHeaderItem text="File"/></ListHeader>
    </List>
    <TreeView name="TREE" height="60" itemheight="20"/>
  </VerticalLayout>
</Window>)";

const char kRow[] = R"(<ListContainerElement height="24"><Label name="NAME"/><Progress name="BAR" width="50"/></ListContainerElement>)";

class RenderPassTest : public DuiTest {
 protected:
  void SetUp() override {
    DuiTest::SetUp();
    WriteSkin("pass.xml", kSkin);
    WriteSkin("row.xml", kRow);
    window = std::make_unique<RecordingWindow>(L"pass.xml");
    ASSERT_TRUE(window->Create(nullptr, L"pass", kWsPopup, 0));
    pm().LayoutIfNeeded();
  }
  CPaintManagerUI& pm() { return window->GetPaintManager(); }
  template <typename T = CControlUI>
  T* Find(const std::wstring& name) {
    auto* c = dynamic_cast<T*>(pm().FindControl(name));
    EXPECT_NE(c, nullptr) << WideToUtf8(name);
    return c;
  }
  // Paints the window afresh.
  RecordingSurface& Paint() {
    surface.Clear();
    auto lock = pm().ModelLock();
    CRenderPass(pm(), surface).PaintWindow(Rect{0, 0, 400, 300});
    return surface;
  }
  // The fills painted exactly over `r`.
  std::vector<Color> FillsOver(const Rect& r) {
    std::vector<Color> out;
    for (const auto& op : surface.OpsOf(Kind::kFill)) {
      if (op.rect == r) out.push_back(op.color);
    }
    return out;
  }
  static Point Centre(CControlUI* c) {
    return Point{(c->GetPos().left + c->GetPos().right) / 2, (c->GetPos().top + c->GetPos().bottom) / 2};
  }

  std::unique_ptr<RecordingWindow> window;
  RecordingSurface surface;
};

TEST_F(RenderPassTest, AButtonIsPaintedInTheColoursOfItsState) {
  auto* btn = Find(L"BTN");
  const Rect pos = btn->GetPos();
  auto textColour = [&] {
    const auto* text = surface.FindText(L"Sync");
    return text ? text->color : 0u;
  };
  Paint();
  EXPECT_THAT(FillsOver(pos), ::testing::ElementsAre(0xFF101010u)) << surface.Describe();
  EXPECT_EQ(textColour(), 0xFF0000AAu);
  // The text sits inside the padding and is clipped to the button.
  const auto* text = surface.FindText(L"Sync");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->rect, (Rect{pos.left + 10, pos.top, pos.right - 5, pos.bottom}));
  EXPECT_EQ(text->clip, pos);
  EXPECT_EQ(text->style, static_cast<unsigned>(btn->GetTextStyle()));
  EXPECT_EQ(text->font.size, 12);

  window->HandleMessage(kWmMouseMove, 0, MakePointLParam(Centre(btn)));
  Paint();
  EXPECT_THAT(FillsOver(pos), ::testing::ElementsAre(0xFF202020u));
  EXPECT_EQ(textColour(), 0xFF0000BBu);
  window->HandleMessage(kWmLButtonDown, 0, MakePointLParam(Centre(btn)));
  Paint();
  EXPECT_THAT(FillsOver(pos), ::testing::ElementsAre(0xFF303030u));
  window->HandleMessage(kWmLButtonUp, 0, MakePointLParam(Centre(btn)));
  btn->SetEnabled(false);
  Paint();
  EXPECT_THAT(FillsOver(pos), ::testing::ElementsAre(0xFF404040u));
  EXPECT_EQ(textColour(), 0xFF0000CCu);
  // Without a colour of its own a text takes the default one.
  btn->ApplyAttributeList(L"disabledtextcolor=\"#00000000\" textcolor=\"#00000000\"");
  Paint();
  EXPECT_EQ(textColour(), kDefaultTextColor);
}

TEST_F(RenderPassTest, RoundedControlsAreShapesWithTheirBorderInside) {
  const Rect pos = Find(L"ROUND")->GetPos();
  Paint();
  auto shapes = surface.OpsOf(Kind::kRoundRect);
  auto fill = std::find_if(shapes.begin(), shapes.end(), [](auto& op) { return op.color == 0xFF112233u; });
  ASSERT_NE(fill, shapes.end()) << surface.Describe();
  EXPECT_EQ(fill->shape, (RectF{float(pos.left), float(pos.top), float(pos.right), float(pos.bottom)}));
  EXPECT_EQ(fill->radius, 6);
  auto border = std::find_if(shapes.begin(), shapes.end(), [](auto& op) { return op.line == 0xFF445566u; });
  ASSERT_NE(border, shapes.end());
  EXPECT_EQ(border->color, 0u);
  EXPECT_EQ(border->shape, (RectF{pos.left + 0.5f, pos.top + 0.5f, pos.right - 0.5f, pos.bottom - 0.5f}));
  EXPECT_EQ(border->lineWidth, 1);
  // Square ones are plain fills.
  EXPECT_THAT(FillsOver(Find(L"BTN")->GetPos()), ::testing::SizeIs(1));

  // At 144 DPI the corners and the border grow with the window.
  window->ApplyDPI(144);
  pm().LayoutIfNeeded();
  Paint();
  shapes = surface.OpsOf(Kind::kRoundRect);
  border = std::find_if(shapes.begin(), shapes.end(), [](auto& op) { return op.line == 0xFF445566u; });
  ASSERT_NE(border, shapes.end());
  EXPECT_EQ(border->radius, 9);
  EXPECT_EQ(border->lineWidth, 1);
}

TEST_F(RenderPassTest, AProgressBarFillsItsShareOfItsWidth) {
  auto* progress = Find<CProgressUI>(L"PROGRESS");
  const Rect pos = progress->GetPos();
  ASSERT_EQ(pos.Width(), 200);
  progress->SetValue(37);
  Paint();
  EXPECT_THAT(FillsOver(pos), ::testing::ElementsAre(0xFFE0E0E0u));
  EXPECT_THAT(FillsOver(Rect{pos.left, pos.top, pos.left + 74, pos.bottom}), ::testing::ElementsAre(0xFF2F6FDEu))
      << surface.Describe();
  // Nothing of the bar at 0; all of it past the end.
  progress->SetValue(0);
  Paint();
  for (const auto& op : surface.OpsOf(Kind::kFill)) EXPECT_NE(op.color, 0xFF2F6FDEu);
  progress->SetValue(250);
  Paint();
  EXPECT_THAT(FillsOver(pos), ::testing::ElementsAre(0xFFE0E0E0u, 0xFF2F6FDEu));
}

TEST_F(RenderPassTest, ACheckBoxWithoutImagesDrawsItsBoxAndMarkWhenChecked) {
  auto* check = Find<CCheckBoxUI>(L"CHECK");
  const Rect pos = check->GetPos();
  Paint();
  EXPECT_TRUE(surface.OpsOf(Kind::kPolyline).empty());
  // The box: a shape inside the check box's left end.
  auto boxOf = [&] {
    for (const auto& op : surface.OpsOf(Kind::kRoundRect)) {
      if (op.shape.left == pos.left + 0.5f) return op;
    }
    ADD_FAILURE() << "no box\n" << surface.Describe();
    return RecordingSurface::Op{};
  };
  const auto box = boxOf();
  EXPECT_EQ(box.radius, 2);
  EXPECT_EQ(box.shape.left, pos.left + 0.5f);
  EXPECT_EQ(box.shape.right - box.shape.left, 13.0f);
  EXPECT_EQ(box.color, kWindowGround);
  // The text starts after the box.
  ASSERT_NE(surface.FindText(L"Autostart"), nullptr);
  EXPECT_EQ(surface.FindText(L"Autostart")->rect.left, pos.left + 14 + 6);

  check->SetCheck(true, false);
  Paint();
  const auto marks = surface.OpsOf(Kind::kPolyline);
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_EQ(marks[0].points.size(), 3u);
  EXPECT_EQ(marks[0].line, 0xFFFFFFFFu);
  const Color accent = boxOf().color;
  EXPECT_EQ(boxOf().line, accent);
  EXPECT_NE(accent, kWindowGround);
  check->SetEnabled(false);
  Paint();
  EXPECT_NE(boxOf().color, accent) << "a disabled box is paler";
}

TEST_F(RenderPassTest, NativeWidgetsShowTheTextOfEditsAndCombosAndTheRowsOfLists) {
  auto* list = Find<CListUI>(L"LIST");
  CDialogBuilder builder;
  for (int i = 0; i < 3; ++i) {
    CControlUI* row = builder.CreateCached(L"row.xml", window.get(), &pm());
    ASSERT_NE(row, nullptr);
    list->Add(row);
    row->FindSubControl(L"NAME")->SetText(L"row " + std::to_wstring(i));
  }
  pm().LayoutIfNeeded();
  Paint();
  EXPECT_EQ(surface.FindText(L"typed"), nullptr);
  EXPECT_EQ(surface.FindText(L"first"), nullptr);
  EXPECT_EQ(surface.FindText(L"row 0"), nullptr);
  EXPECT_NE(surface.FindText(L"File"), nullptr) << "the header is the pass's";
  // The edit's border still is.
  const Rect edit = Find(L"EDIT")->GetPos();
  auto shapes = surface.OpsOf(Kind::kRoundRect);
  EXPECT_TRUE(std::any_of(shapes.begin(), shapes.end(), [&](auto& op) {
    return op.line == 0xFF8A99ADu && op.shape.left == edit.left + 0.5f;
  }));

  const auto places = NativeControls(pm());
  ASSERT_EQ(places.size(), 3u);
  EXPECT_EQ(places[0].kind, NativeControlKind::kEdit);
  EXPECT_EQ(places[0].rect, (Rect{edit.left + 1 + 4, edit.top + 1, edit.right - 1 - 4, edit.bottom - 1}));
  EXPECT_TRUE(places[0].shown);
  EXPECT_EQ(places[1].kind, NativeControlKind::kCombo);
  EXPECT_EQ(places[2].kind, NativeControlKind::kList);
  EXPECT_EQ(places[2].rect, list->GetBodyRect());
  // Hidden with what holds it.
  Find(L"EDIT")->GetParent()->SetVisible(false);
  pm().LayoutIfNeeded();
  const auto hidden = NativeControls(pm());
  EXPECT_FALSE(hidden[0].shown);
  EXPECT_FALSE(hidden[1].shown);
  EXPECT_TRUE(hidden[2].shown);
}

TEST_F(RenderPassTest, AListRowIsPaintedWhereTheViewWantsItAndNowhereElse) {
  auto* list = Find<CListUI>(L"LIST");
  CDialogBuilder builder;
  for (int i = 0; i < 2; ++i) {
    CControlUI* row = builder.CreateCached(L"row.xml", window.get(), &pm());
    list->Add(row);
    row->FindSubControl(L"NAME")->SetText(L"row " + std::to_wstring(i));
    static_cast<CProgressUI*>(row->FindSubControl(L"BAR"))->SetValue(50);
  }
  pm().LayoutIfNeeded();
  // A view scrolled so the second row is cut by its top edge.
  const Rect target{0, -10, 400, 14};
  surface.Clear();
  {
    auto lock = pm().ModelLock();
    CRenderPass(pm(), surface).PaintListRow(*list, 1, target, true);
  }
  const auto* text = surface.FindText(L"row 1");
  ASSERT_NE(text, nullptr) << surface.Describe();
  EXPECT_EQ(text->rect.top, -10);
  EXPECT_EQ(text->rect.left, 0);
  EXPECT_EQ(text->clip, (Rect{0, -10, 350, 14})) << "inside the row and the label";
  // The bar's half, at the right end of the row.
  EXPECT_THAT(FillsOver(Rect{350, -10, 375, 14}), ::testing::ElementsAre(0xFF4B74B4u)) << surface.Describe();
  // The hover colour under it; none over a selected row, which has its own.
  EXPECT_EQ(surface.Ops().front().kind, Kind::kFill);
  EXPECT_EQ(surface.Ops().front().color, 0xFFEEEEEEu);
  for (const auto& op : surface.Ops()) {
    ASSERT_TRUE(op.clip.has_value());
    EXPECT_GE(op.clip->top, target.top);
    EXPECT_LE(op.clip->bottom, target.bottom);
  }
  list->SelectItem(1, false);
  surface.Clear();
  {
    auto lock = pm().ModelLock();
    CRenderPass(pm(), surface).PaintListRow(*list, 1, target, true);
  }
  EXPECT_THAT(FillsOver(target), ::testing::ElementsAre(0xFFDCE6F4u)) << surface.Describe();
  // A row that is not there paints nothing.
  surface.Clear();
  CRenderPass(pm(), surface).PaintListRow(*list, 7, target, true);
  EXPECT_TRUE(surface.Ops().empty());
}

TEST_F(RenderPassTest, TheBackdropOfAListIsWhatLiesUnderItWithoutRowsHeaderOrNeighbours) {
  auto* list = Find<CListUI>(L"LIST");
  pm().GetRoot()->SetBkColor(0xFFFAFAFA);
  list->ApplyAttributeList(L"bkcolor=\"#FFF5F5F5\" bordersize=\"1\" bordercolor=\"#FF778899\"");
  CDialogBuilder builder;
  CControlUI* row = builder.CreateCached(L"row.xml", window.get(), &pm());
  list->Add(row);
  row->FindSubControl(L"NAME")->SetText(L"row 0");
  pm().LayoutIfNeeded();
  surface.Clear();
  {
    auto lock = pm().ModelLock();
    CRenderPass(pm(), surface).PaintBackdrop(*list);
  }
  const auto& ops = surface.Ops();
  ASSERT_GE(ops.size(), 4u) << surface.Describe();
  EXPECT_EQ(ops[0].rect, pm().GetRoot()->GetPos());
  EXPECT_EQ(ops[0].color, kWindowGround);
  EXPECT_THAT(FillsOver(pm().GetRoot()->GetPos()), ::testing::ElementsAre(kWindowGround, 0xFFFAFAFAu));
  EXPECT_THAT(FillsOver(list->GetPos()), ::testing::ElementsAre(0xFFF5F5F5u));
  const auto shapes = surface.OpsOf(Kind::kRoundRect);
  ASSERT_EQ(shapes.size(), 1u);
  EXPECT_EQ(shapes[0].line, 0xFF778899u);
  EXPECT_TRUE(surface.OpsOf(Kind::kText).empty()) << "neither the header nor the rows";
  EXPECT_TRUE(FillsOver(Find(L"BTN")->GetPos()).empty()) << "nor the controls beside it";
}

TEST_F(RenderPassTest, TreeNodesShowTheirCheckBoxesAndStayInsideTheTree) {
  auto* tree = Find<CTreeViewUI>(L"TREE");
  auto* root = new CTreeNodeUI;
  root->SetText(L"Sync folder");
  tree->AddRoot(root);
  for (int i = 0; i < 4; ++i) {
    auto* child = new CTreeNodeUI;
    child->SetText(L"folder " + std::to_wstring(i));
    root->AddChildNode(child);
  }
  root->GetChildNode(1)->SetCheck(true, false);
  // Five nodes of 20 in a tree of 60, scrolled by 30: the second and the
  // fifth are cut.
  tree->SetScrollOffset(30);
  pm().LayoutIfNeeded();
  Paint();
  const Rect area = tree->GetPos();
  EXPECT_EQ(surface.FindText(L"Sync folder"), nullptr) << "scrolled out of view";
  const auto* checked = surface.FindText(L"folder 0");
  ASSERT_NE(checked, nullptr) << surface.Describe();
  const CTreeNodeUI* node = root->GetChildNode(0);
  EXPECT_EQ(checked->rect.left, node->TextLeft());
  // Cut by the tree's edge, whatever the node's own room says.
  ASSERT_TRUE(checked->clip.has_value());
  EXPECT_GE(checked->clip->top, area.top);
  EXPECT_LT(node->GetPos().top, area.top);
  const auto* last = surface.FindText(L"folder 3");
  ASSERT_NE(last, nullptr);
  EXPECT_GT(root->GetChildNode(3)->GetPos().bottom, area.bottom);
  EXPECT_EQ(last->clip->bottom, area.bottom);
  // One check mark: folder 1's.
  const auto marks = surface.OpsOf(Kind::kPolyline);
  ASSERT_EQ(marks.size(), 1u);
  const Rect box = root->GetChildNode(1)->GetCheckBox()->GetPos();
  EXPECT_GE(marks[0].points[0].x, box.left);
  EXPECT_LE(marks[0].points[2].x, box.right);
  // The thumb of a tree longer than its view, at the right.
  const auto shapes = surface.OpsOf(Kind::kRoundRect);
  EXPECT_TRUE(std::any_of(shapes.begin(), shapes.end(), [&](auto& op) {
    return op.color == 0x80707C88u && op.shape.right == area.right - 2;
  })) << surface.Describe();
}

TEST_F(RenderPassTest, ImagesFollowDestSourceAndCornersAtTheWindowsScale) {
  const std::filesystem::path bk = dir.path() / "bk.png";
  surface.SetImageSize(bk, Size{16, 16});
  const Rect plain = Find(L"PLAIN")->GetPos();
  Paint();
  auto images = surface.OpsOf(Kind::kImage);
  ASSERT_EQ(images.size(), 1u) << surface.Describe();
  EXPECT_EQ(images[0].file, bk);
  EXPECT_EQ(images[0].rect, (Rect{plain.left + 2, plain.top + 2, plain.left + 18, plain.top + 18}));
  EXPECT_EQ(images[0].source, (Rect{0, 0, 16, 16}));

  // Nine parts: corners keep their scaled size, the middle stretches.
  auto* label = Find(L"PLAIN");
  label->SetAttribute(L"bkimage", L"file='bk.png' source='0,0,12,12' corner='4,4,4,4'");
  window->ApplyDPI(144);
  pm().LayoutIfNeeded();
  const Rect pos = label->GetPos();
  Paint();
  images = surface.OpsOf(Kind::kImage);
  ASSERT_EQ(images.size(), 9u) << surface.Describe();
  EXPECT_EQ(images[0].rect, (Rect{pos.left, pos.top, pos.left + 6, pos.top + 6}));
  EXPECT_EQ(images[0].source, (Rect{0, 0, 4, 4}));
  EXPECT_EQ(images[4].rect, (Rect{pos.left + 6, pos.top + 6, pos.right - 6, pos.bottom - 6}));
  EXPECT_EQ(images[4].source, (Rect{4, 4, 8, 8}));
  EXPECT_EQ(images[8].rect, (Rect{pos.right - 6, pos.bottom - 6, pos.right, pos.bottom}));

  // A missing image leaves the rest of the window as it is.
  label->SetAttribute(L"bkimage", L"file='gone.png'");
  Paint();
  EXPECT_TRUE(surface.OpsOf(Kind::kImage).empty());
  EXPECT_NE(surface.FindText(L"Sync"), nullptr);
}

TEST_F(RenderPassTest, AMenuItemIconIsCentredInTheSlotOfItsPadding) {
  WriteSkin("menu.xml", R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="160,60"><VerticalLayout><Menu name="MENU"/></VerticalLayout></Window>)");
  CMenuWnd menu;
  ASSERT_TRUE(menu.Init(nullptr, L"menu.xml", Point{0, 0}, &pm()));
  auto* item = CMenuWnd::NewTextElement(L"MENU_EXIT", L"Exit");
  item->SetIcon(L"res\\tray\\exit.png", Size{16, 16});
  item->SetAttribute(L"textpadding", L"40,0,0,0");
  menu.GetMenuUI()->Add(item);
  menu.ResizeMenu();
  auto& mpm = menu.GetPaintManager();
  mpm.LayoutIfNeeded();
  RecordingSurface s;
  s.SetImageSize(dir.path() / "res/tray/exit.png", Size{32, 32});
  {
    auto lock = mpm.ModelLock();
    CRenderPass(mpm, s).PaintWindow(Rect{0, 0, 160, 60});
  }
  const Rect pos = item->GetPos();
  const auto images = s.OpsOf(Kind::kImage);
  ASSERT_EQ(images.size(), 1u) << s.Describe();
  const int left = pos.left + (40 - 16) / 2;
  const int top = pos.top + (pos.Height() - 16) / 2;
  EXPECT_EQ(images[0].rect, (Rect{left, top, left + 16, top + 16}));
  EXPECT_EQ(images[0].source, (Rect{0, 0, 32, 32}));
  ASSERT_NE(s.FindText(L"Exit"), nullptr);
  EXPECT_EQ(s.FindText(L"Exit")->rect.left, pos.left + 40);
}

TEST_F(RenderPassTest, TheCaptionDragsExceptWhereAControlTakesTheClick) {
  auto lock = pm().ModelLock();
  const Point onButton = Centre(Find(L"BTN"));
  EXPECT_FALSE(IsCaptionPoint(pm(), onButton, 400));
  EXPECT_TRUE(IsCaptionPoint(pm(), Point{390, 5}, 400));
  EXPECT_FALSE(IsCaptionPoint(pm(), Point{390, 35}, 400)) << "below the band";
  pm().SetCaptionRect(Rect{0, 0, 20, 30});
  EXPECT_FALSE(IsCaptionPoint(pm(), Point{390, 5}, 400)) << "the band stops 20 short of the right edge";
}

TEST_F(RenderPassTest, APartOfTheWindowIsPaintedWithinItAndWithoutTheControlsOutsideIt) {
  auto* progress = Find<CProgressUI>(L"PROGRESS");
  progress->SetValue(50);
  const Rect area = progress->GetPos();
  surface.Clear();
  {
    auto lock = pm().ModelLock();
    CRenderPass(pm(), surface).PaintWindow(area);
  }
  // The ground and the bar, as a whole pass paints them there.
  EXPECT_THAT(FillsOver(area), ::testing::ElementsAre(kWindowGround, 0xFFE0E0E0u)) << surface.Describe();
  EXPECT_THAT(FillsOver(Rect{area.left, area.top, area.left + 100, area.bottom}), ::testing::ElementsAre(0xFF2F6FDEu));
  // Nothing of the rows above and below, and nothing outside the area.
  EXPECT_EQ(surface.FindText(L"Sync"), nullptr);
  EXPECT_EQ(surface.FindText(L"Autostart"), nullptr);
  EXPECT_TRUE(FillsOver(Find(L"BTN")->GetPos()).empty());
  for (const auto& op : surface.Ops()) {
    ASSERT_TRUE(op.clip.has_value()) << surface.Describe();
    EXPECT_TRUE(op.clip->left >= area.left && op.clip->top >= area.top && op.clip->right <= area.right &&
                op.clip->bottom <= area.bottom)
        << surface.Describe();
  }
}

TEST(DirtyAreaTest, ChangedControlsAddTheirRectanglesAndALayoutTheWholeWindow) {
  DirtyArea area;
  EXPECT_TRUE(area.Take().Empty());
  area.Add(Rect{0, 0, 10, 10});
  area.Add(Rect{5, 5, 20, 20});  // overlaps the first: one rectangle
  area.Add(Rect{50, 0, 60, 10});
  area.Add(Rect{3, 3, 3, 9});  // empty
  DirtyArea::Taken taken = area.Take();
  EXPECT_FALSE(taken.all);
  EXPECT_THAT(taken.rects, ::testing::UnorderedElementsAre(Rect{0, 0, 20, 20}, Rect{50, 0, 60, 10}));
  EXPECT_TRUE(area.Take().Empty()) << "taken once";

  // A merge that reaches a third rectangle takes it in too.
  area.Add(Rect{0, 0, 10, 10});
  area.Add(Rect{20, 0, 30, 10});
  area.Add(Rect{5, 0, 25, 5});
  EXPECT_THAT(area.Take().rects, ::testing::ElementsAre(Rect{0, 0, 30, 10}));

  area.Add(Rect{0, 0, 10, 10});
  area.Add(nullptr, false);
  taken = area.Take();
  EXPECT_TRUE(taken.all);
  EXPECT_TRUE(taken.rects.empty());

  // Many scattered changes are painted as one whole.
  for (int i = 0; i <= static_cast<int>(DirtyArea::kMaxRects); ++i) area.Add(Rect{i * 20, 0, i * 20 + 10, 10});
  EXPECT_TRUE(area.Take().all);
}

TEST(RecordingSurfaceTest, ReadsPngSizesAndKeepsClipsAndTranslationsBetweenSaveAndRestore) {
  testsupport::TempDir dir;
  const unsigned char png[24] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                 0, 0, 1, 0x2C, 0, 0, 0, 17};
  std::ofstream(dir.path() / "a.png", std::ios::binary).write(reinterpret_cast<const char*>(png), sizeof png);
  std::ofstream(dir.path() / "b.png") << "not an image";
  RecordingSurface s;
  EXPECT_EQ(s.ImageSize(dir.path() / "a.png"), (Size{300, 17}));
  EXPECT_EQ(s.ImageSize(dir.path() / "b.png"), std::nullopt);
  EXPECT_EQ(s.ImageSize(dir.path() / "c.png"), std::nullopt);

  s.Save();
  s.Translate(10, 20);
  s.ClipRect(Rect{0, 0, 50, 50});
  s.ClipRect(Rect{40, 40, 100, 100});
  s.FillRect(Rect{0, 0, 5, 5}, 1);
  s.Restore();
  s.FillRect(Rect{0, 0, 5, 5}, 2);
  ASSERT_EQ(s.Ops().size(), 2u);
  EXPECT_EQ(s.Ops()[0].rect, (Rect{10, 20, 15, 25}));
  EXPECT_EQ(s.Ops()[0].clip, (Rect{50, 60, 60, 70}));
  EXPECT_FALSE(s.Ops()[0].Shows());
  EXPECT_EQ(s.Ops()[1].rect, (Rect{0, 0, 5, 5}));
  EXPECT_FALSE(s.Ops()[1].clip.has_value());
  EXPECT_TRUE(s.Ops()[1].Shows());
}

}  // namespace
}  // namespace orlin::dui::testing
