// The selective synchronisation window on the headless backend with the
// shipped Ignoring.xml, over a real folder.

#include "ui/dialogs/ignoring_wnd.h"

#include <gtest/gtest.h>

#include "ui/dialogs/tests/login_test_support.h"

namespace orlin {
namespace {

using dui::CTreeNodeUI;
using dui::CTreeViewUI;
namespace fs = std::filesystem;

void Touch(const fs::path& file) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "x";
}

// Joins names with the system's separator, as the ignore text writes them.
std::wstring Rel(std::initializer_list<const wchar_t*> names) {
  fs::path p;
  for (const auto* n : names) p /= n;
  return p.make_preferred().wstring();
}

class IgnoringWndTest : public testing::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    // photos/ (2024/ (a.jpg, b.jpg), c.jpg), docs/ (empty), notes.txt, and
    // the engine's own marker and ignore file, which never show.
    Touch(folder / "photos" / "2024" / "a.jpg");
    Touch(folder / "photos" / "2024" / "b.jpg");
    Touch(folder / "photos" / "c.jpg");
    fs::create_directories(folder / "docs");
    Touch(folder / "notes.txt");
    fs::create_directories(folder / ".stfolder");
    Touch(folder / ".stignore");
    Touch(folder / "photos" / ".stignore");
    fs::create_directories(folder / "photos" / ".stfolder");
    record.language = L"en";
    record.dpi = 96;
    record.syncFolderPath = Str(folder);
  }
  std::unique_ptr<CIgnoredWnd> Open() {
    auto wnd = std::make_unique<CIgnoredWnd>(record);
    EXPECT_TRUE(wnd->Create(nullptr, L"Selective Synchronization - Orlin", CIgnoredWnd::kStyle, 0));
    PumpUntil([&] { return wnd->TreeReady(); }, "the tree to be built");
    return wnd;
  }
  static CTreeViewUI& Tree(CIgnoredWnd& wnd) {
    return *dui::FindControlAs<CTreeViewUI>(wnd.GetPaintManager(), L"IGNORING_TREEVIEW");
  }
  static CTreeNodeUI* Node(CIgnoredWnd& wnd, std::initializer_list<const wchar_t*> path) {
    CTreeNodeUI* node = Tree(wnd).GetRoot(0);
    for (const auto* name : path) {
      CTreeNodeUI* next = nullptr;
      for (int i = 0; node && i < node->GetChildNodeCount(); ++i) {
        if (node->GetChildNode(i)->GetText() == name) next = node->GetChildNode(i);
      }
      node = next;
    }
    return node;
  }
  // The user's click on an entry's check box (opening the folders above it
  // and scrolling it into view first, as the user would).
  void Check(CIgnoredWnd& wnd, std::initializer_list<const wchar_t*> path) {
    CTreeNodeUI* node = Node(wnd, path);
    ASSERT_NE(node, nullptr);
    for (auto* p = node->GetParentNode(); p; p = p->GetParentNode()) p->SetExpanded(true);
    wnd.GetPaintManager().LayoutIfNeeded();
    Tree(wnd).EnsureVisible(node);
    wnd.GetPaintManager().LayoutIfNeeded();
    const dui::Rect r = node->GetCheckBox()->GetPos();
    ASSERT_FALSE(r.IsEmpty());
    const auto at = dui::MakePointLParam(dui::Point{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    wnd.HandleMessage(dui::kWmLButtonDown, 0, at);
    wnd.HandleMessage(dui::kWmLButtonUp, 0, at);
  }
  std::wstring Ok(CIgnoredWnd& wnd) {
    dui::ClickControl(wnd, L"OKBTN");
    backend->Pump();
    return record.ignoreText;
  }
  SyncSettings record;
};

TEST_F(IgnoringWndTest, ShowsFoldersBeforeFilesWithoutTheEnginesOwnEntries) {
  auto wnd = Open();
  CTreeNodeUI* root = Tree(*wnd).GetRoot(0);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->GetText(), Str(folder));
  std::vector<std::wstring> top;
  for (int i = 0; i < root->GetChildNodeCount(); ++i) top.push_back(root->GetChildNode(i)->GetText());
  ASSERT_EQ(top.size(), 3u);
  // Folders first (in the order the folder lists them), then the file.
  EXPECT_EQ(top[2], L"notes.txt");
  EXPECT_TRUE((top[0] == L"photos" && top[1] == L"docs") || (top[0] == L"docs" && top[1] == L"photos"));
  CTreeNodeUI* photos = Node(*wnd, {L"photos"});
  ASSERT_EQ(photos->GetChildNodeCount(), 2);  // 2024 and c.jpg: no .stfolder, no .stignore
  EXPECT_EQ(photos->GetChildNode(0)->GetText(), L"2024");
  EXPECT_EQ(photos->GetChildNode(1)->GetText(), L"c.jpg");
  EXPECT_EQ(photos->GetUserData(), Str(folder / "photos"));
  // Nothing checked for an empty ignore text, and OK writes nothing.
  EXPECT_EQ(wnd->ExcludedCount(), 0);
  EXPECT_EQ(TextOf(*wnd, L"IGNORETITLE"), L"Selective Synchronization - Orlin");
  EXPECT_EQ(Ok(*wnd), L"");
}

TEST_F(IgnoringWndTest, CheckingTheRootExcludesEverythingWithOneLine) {
  auto wnd = Open();
  Check(*wnd, {L"notes.txt"});
  Check(*wnd, {});
  EXPECT_TRUE(Node(*wnd, {L"photos", L"2024", L"a.jpg"})->GetCheck());
  EXPECT_EQ(Ok(*wnd), L"/\n");
}

TEST_F(IgnoringWndTest, AFolderFollowsItsEntriesAndTheFoldersAboveFollowIt) {
  auto wnd = Open();
  Check(*wnd, {L"photos", L"2024", L"a.jpg"});
  EXPECT_FALSE(Node(*wnd, {L"photos", L"2024"})->GetCheck());
  Check(*wnd, {L"photos", L"2024", L"b.jpg"});
  EXPECT_TRUE(Node(*wnd, {L"photos", L"2024"})->GetCheck()) << "every entry checked: the folder too";
  EXPECT_FALSE(Node(*wnd, {L"photos"})->GetCheck());
  Check(*wnd, {L"photos", L"c.jpg"});
  EXPECT_TRUE(Node(*wnd, {L"photos"})->GetCheck());
  EXPECT_FALSE(Tree(*wnd).GetRoot(0)->GetCheck()) << "docs and notes.txt are not checked";
  // A checked folder is one line; every checked node counts.
  EXPECT_EQ(wnd->ExcludedCount(), 5);
  EXPECT_EQ(wnd->IgnoreText(), L"photos\n");
  // Unchecking one entry unchecks the folders above it.
  Check(*wnd, {L"photos", L"2024", L"a.jpg"});
  EXPECT_FALSE(Node(*wnd, {L"photos", L"2024"})->GetCheck());
  EXPECT_FALSE(Node(*wnd, {L"photos"})->GetCheck());
  EXPECT_EQ(Ok(*wnd), Rel({L"photos", L"2024", L"b.jpg"}) + L"\n" + Rel({L"photos", L"c.jpg"}) + L"\n");
}

TEST_F(IgnoringWndTest, TheIgnoreTextIsShownCheckedAndEntriesThatAreGoneAreDropped) {
  record.ignoreText = Rel({L"photos", L"2024"}) + L"\n\nnotes.txt\ngone.txt\n";
  auto wnd = Open();
  EXPECT_TRUE(Node(*wnd, {L"photos", L"2024"})->GetCheck());
  EXPECT_TRUE(Node(*wnd, {L"photos", L"2024", L"a.jpg"})->GetCheck());
  EXPECT_FALSE(Node(*wnd, {L"photos"})->GetCheck());
  EXPECT_TRUE(Node(*wnd, {L"notes.txt"})->GetCheck());
  EXPECT_EQ(wnd->ExcludedCount(), 4);
  EXPECT_EQ(Ok(*wnd), Rel({L"photos", L"2024"}) + L"\nnotes.txt\n");
}

TEST_F(IgnoringWndTest, NamesThatLookLikePatternsExcludeOnlyThemselves) {
  // Names every system allows ('*' and '?' are escaped the same way where
  // a name may hold them).
  Touch(folder / "[draft] {v1}.txt");
  Touch(folder / "!important");
  auto wnd = Open();
  Check(*wnd, {L"[draft] {v1}.txt"});
  Check(*wnd, {L"!important"});
  const std::wstring text = Ok(*wnd);
  const wchar_t e = IgnoreEscapeCharacter();
  EXPECT_NE(text.find(std::wstring(1, e) + L"[draft" + e + L"] " + e + L"{v1" + e + L"}.txt\n"), std::wstring::npos)
      << WideToUtf8(text);
  EXPECT_NE(text.find(std::wstring(1, e) + L"!important\n"), std::wstring::npos) << WideToUtf8(text);
  // Read back, the same entries are checked again.
  auto again = Open();
  EXPECT_TRUE(Node(*again, {L"[draft] {v1}.txt"})->GetCheck());
  EXPECT_TRUE(Node(*again, {L"!important"})->GetCheck());
  EXPECT_FALSE(Node(*again, {L"notes.txt"})->GetCheck());
}

TEST_F(IgnoringWndTest, CancelLeavesTheRecordAlone) {
  record.ignoreText = L"notes.txt\n";
  auto wnd = Open();
  Check(*wnd, {L"docs"});
  dui::ClickControl(*wnd, L"CANCELBTN");
  backend->Pump();
  EXPECT_FALSE(wnd->IsWindow());
  EXPECT_EQ(record.ignoreText, L"notes.txt\n");
}

TEST_F(IgnoringWndTest, FoldersOpenOnAClickAndALongTreeScrolls) {
  for (int i = 0; i < 200; ++i) Touch(folder / "many" / ("file" + std::to_string(1000 + i)));
  auto wnd = Open();
  CTreeNodeUI* many = Node(*wnd, {L"many"});
  ASSERT_NE(many, nullptr);
  EXPECT_FALSE(many->IsExpanded()) << "folders start closed";
  wnd->GetPaintManager().LayoutIfNeeded();
  const dui::Rect r = many->GetPos();
  ASSERT_FALSE(r.IsEmpty());
  const auto at = dui::MakePointLParam(dui::Point{r.right - 10, (r.top + r.bottom) / 2});
  wnd->HandleMessage(dui::kWmLButtonDown, 0, at);
  wnd->HandleMessage(dui::kWmLButtonUp, 0, at);
  EXPECT_TRUE(many->IsExpanded());
  wnd->GetPaintManager().LayoutIfNeeded();
  CTreeNodeUI* last = many->GetChildNode(199);
  EXPECT_TRUE(last->GetPos().IsEmpty()) << "beyond the view";
  // The wheel scrolls the tree until the end shows.
  const dui::Rect tree = Tree(*wnd).GetPos();
  const auto over = dui::MakePointLParam(dui::Point{(tree.left + tree.right) / 2, (tree.top + tree.bottom) / 2});
  for (int i = 0; i < 100; ++i) wnd->HandleMessage(dui::kWmMouseWheel, static_cast<std::uintptr_t>(static_cast<std::uint16_t>(-120)) << 16, over);
  wnd->GetPaintManager().LayoutIfNeeded();
  EXPECT_FALSE(last->GetPos().IsEmpty());
  EXPECT_LE(last->GetPos().bottom, tree.bottom);
  // And back to the top.
  for (int i = 0; i < 100; ++i) wnd->HandleMessage(dui::kWmMouseWheel, static_cast<std::uintptr_t>(120) << 16, over);
  wnd->GetPaintManager().LayoutIfNeeded();
  EXPECT_EQ(Tree(*wnd).GetScrollOffset(), 0);
  EXPECT_FALSE(Tree(*wnd).GetRoot(0)->GetPos().IsEmpty());
}

TEST_F(IgnoringWndTest, ClosingWhileALargeTreeIsBuiltEndsCleanly) {
  for (int d = 0; d < 40; ++d) {
    for (int f = 0; f < 100; ++f) Touch(folder / "big" / ("d" + std::to_string(d)) / ("f" + std::to_string(f)));
  }
  auto wnd = std::make_unique<CIgnoredWnd>(record);
  ASSERT_TRUE(wnd->Create(nullptr, L"Selective Synchronization - Orlin", CIgnoredWnd::kStyle, 0));
  // Cancel takes while the tree is being read.
  dui::ClickControl(*wnd, L"CANCELBTN");
  backend->Pump();
  EXPECT_FALSE(wnd->IsWindow());
  wnd.reset();  // stops and joins the reader
  SUCCEED();
}

TEST(IgnoreEntryTest, EscapesRoundTrip) {
  for (wchar_t e : {L'\\', L'|'}) {
    for (const wchar_t* name : {L"plain.txt", L"[a]{b}*?.txt", L"!x", L"#y", L"a|b", L"a\\b"}) {
      EXPECT_EQ(UnescapeIgnoreEntry(EscapeIgnoreEntry(name, e), e), name) << WideToUtf8(name);
    }
  }
  EXPECT_EQ(EscapeIgnoreEntry(L"x!#", L'\\'), L"x!#");
  EXPECT_EQ(SplitIgnoreText(L"a\n\nb\r\n"), (std::vector<std::wstring>{L"a", L"b"}));
}

}  // namespace
}  // namespace orlin
