// Lists filled from item templates, and texts by id in two languages.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ui/dui/tests/dui_fixture.h"

namespace orlin::dui::testing {
namespace {

const char kListSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="400,300">
  <VerticalLayout>
    <Label name="HEADLINE" height="30" textid="headline_text" text="skin text"/>
    <Button name="KEEP" height="30" textid="not_in_table" text="own text"/>
    <List name="FILES" itemheight="20">
      <ListHeader height="24">
        <ListHeaderItem name="COL0" text="No" width="50"/>
        <ListHeaderItem name="COL1" textid="LISTHEAD_FILE" text="File"/>
      </ListHeader>
    </List>
  </VerticalLayout>
</Window>)";

const char kRowTemplate[] = R"(<?xml version="1.0" encoding="utf-8"?>
<ListContainerElement height="20">
  <Label name="NOLABEL" width="50"/>
  <Label name="FILELABEL"/>
</ListContainerElement>)";

class ListTest : public DuiTest {
 protected:
  void SetUp() override {
    DuiTest::SetUp();
    WriteSkin("list.xml", kListSkin);
    WriteSkin("row.xml", kRowTemplate);
    window = std::make_unique<RecordingWindow>(L"list.xml");
    window->texts.Add({L"Headline_Text", L"Files", L"文件"});
    window->texts.Add({L"listhead_File", L"File name", L"文件名"});
    ASSERT_TRUE(window->Create(nullptr, L"list", 0, 0));
    list = static_cast<CListUI*>(window->GetPaintManager().FindControl(L"FILES"));
    ASSERT_NE(list, nullptr);
  }

  // Fills the list the way the status lists do: row i is reused when it
  // exists, built from the template when not, and surplus rows go.
  void Fill(const std::vector<std::wstring>& files) {
    int n = static_cast<int>(files.size());
    for (int i = 0; i < n; ++i) {
      CControlUI* row = list->GetItemAt(i);
      if (!row) {
        row = builder.CreateCached(L"row.xml", window.get(), &window->GetPaintManager());
        ASSERT_NE(row, nullptr) << builder.GetLastError();
        list->Add(row);
      }
      row->FindSubControl(L"NOLABEL")->SetText(std::to_wstring(n - i));
      row->FindSubControl(L"FILELABEL")->SetText(files[i]);
    }
    while (list->GetCount() > n) list->RemoveAt(n);
  }

  std::unique_ptr<RecordingWindow> window;
  CListUI* list = nullptr;
  CDialogBuilder builder;
};

TEST_F(ListTest, RowsAreReusedByIndexAndSurplusRowsRemoved) {
  Fill({L"a", L"b", L"c"});
  ASSERT_EQ(list->GetCount(), 3);
  CControlUI* first = list->GetItemAt(0);
  CControlUI* second = list->GetItemAt(1);
  Fill({L"x", L"y", L"z", L"w"});
  EXPECT_EQ(list->GetItemAt(0), first);
  EXPECT_EQ(list->GetItemAt(1), second);
  EXPECT_EQ(first->FindSubControl(L"FILELABEL")->GetText(), L"x");
  EXPECT_EQ(first->FindSubControl(L"NOLABEL")->GetText(), L"4");
  Fill({L"only"});
  EXPECT_EQ(list->GetCount(), 1);
  EXPECT_EQ(list->GetItemAt(0), first);
  // The window's name index forgot the removed rows: the first row's label
  // is what FindControl answers.
  EXPECT_EQ(window->GetPaintManager().FindControl(L"FILELABEL"), first->FindSubControl(L"FILELABEL"));
  Fill({});
  EXPECT_EQ(list->GetCount(), 0);
  EXPECT_EQ(window->GetPaintManager().FindControl(L"FILELABEL"), nullptr);
}

TEST_F(ListTest, RowsAreLaidOutBelowTheHeaderAndSelectedByClickOrDoubleClick) {
  Fill({L"a", L"b", L"c"});
  auto& pm = window->GetPaintManager();
  pm.LayoutIfNeeded();
  EXPECT_EQ(list->GetHeader()->GetCount(), 2);
  EXPECT_EQ(list->GetHeader()->GetItemAt(0)->GetPos().Width(), 50);
  CControlUI* row1 = list->GetItemAt(1);
  EXPECT_EQ(row1->GetPos().top, list->GetPos().top + 24 + 20);
  EXPECT_EQ(row1->GetPos().Height(), 20);
  Point inRow{row1->GetPos().left + 80, row1->GetPos().top + 5};
  window->TakeNotes();
  window->HandleMessage(kWmLButtonDown, 0, MakePointLParam(inRow));
  window->HandleMessage(kWmLButtonUp, 0, MakePointLParam(inRow));
  EXPECT_EQ(list->GetCurSel(), 1);
  window->HandleMessage(kWmLButtonDblClk, 0, MakePointLParam(inRow));
  EXPECT_THAT(window->TakeNotes(), ::testing::ElementsAre(L"itemselect:FILES", L"itemdbclick:"));
  // Removing a row above the selection keeps the same row selected.
  list->RemoveAt(0);
  EXPECT_EQ(list->GetCurSel(), 0);
  EXPECT_EQ(static_cast<CListContainerElementUI*>(list->GetItemAt(0))->GetIndex(), 0);
}

TEST_F(ListTest, TextIdsMatchWithoutCaseAndReloadFollowsTheLanguage) {
  auto& pm = window->GetPaintManager();
  auto& rm = CResourceManager::GetInstance();
  // No provider yet: the skin's own texts stand.
  EXPECT_EQ(pm.FindControl(L"HEADLINE")->GetText(), L"skin text");
  rm.SetTextQueryInterface(window.get());
  rm.ReloadText();
  EXPECT_EQ(pm.FindControl(L"HEADLINE")->GetText(), L"Files");
  EXPECT_EQ(pm.FindControl(L"COL1")->GetText(), L"File name");
  EXPECT_EQ(pm.FindControl(L"KEEP")->GetText(), L"own text");
  rm.SetLanguage(L"zh_cn");
  rm.ReloadText();
  EXPECT_EQ(pm.FindControl(L"HEADLINE")->GetText(), L"文件");
  EXPECT_EQ(pm.FindControl(L"COL1")->GetText(), L"文件名");
  // Any language other than "en" is Chinese.
  rm.SetLanguage(L"fr");
  EXPECT_EQ(window->texts.Find(L"HEADLINE_TEXT", rm.GetLanguage()), L"文件");
  EXPECT_EQ(window->texts.Find(L"headline_text", L"en"), L"Files");
  EXPECT_EQ(window->texts.Find(L"unknown", L"en"), std::nullopt);
  // A window that goes away stops being the provider.
  window.reset();
  EXPECT_EQ(rm.GetTextQueryInterface(), nullptr);
  rm.ReloadText();
}

TEST(TextTables, FirstEntryOfAnIdWins) {
  TextTable t({{L"A", L"first", L"第一"}, {L"a", L"second", L"第二"}});
  EXPECT_EQ(t.Find(L"a", L"en"), L"first");
  EXPECT_EQ(t.Find(L"A", L"zh_cn"), L"第一");
}

}  // namespace
}  // namespace orlin::dui::testing
