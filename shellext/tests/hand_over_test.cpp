// The hand-over's choices: the window gets the path unless the login window
// shows; with no window, Orlin is started with the path.

#include <gtest/gtest.h>

#include "shellext/hand_over.h"

namespace orlin::ravel {
namespace {

struct FakeWindow final : platform::MainWindowLink {
  bool login = false;
  bool answers = true;
  std::vector<std::wstring>* sent = nullptr;
  bool LoginWindowShows() override { return login; }
  bool SendCopyData(std::wstring_view path) override {
    sent->emplace_back(path);
    return answers;
  }
};

class HandOverTest : public ::testing::Test {
 protected:
  HandOverDesktop Desktop() {
    HandOverDesktop d;
    d.findMainWindow = [this](const platform::MainWindowQuery& q) -> std::unique_ptr<platform::MainWindowLink> {
      query = q;
      if (!windowRuns) return nullptr;
      auto w = std::make_unique<FakeWindow>();
      w->login = login;
      w->answers = answers;
      w->sent = &sent;
      return w;
    };
    d.startOrlin = [this](const std::wstring& path) {
      started.push_back(path);
      return startWorks;
    };
    return d;
  }
  bool windowRuns = true, login = false, answers = true, startWorks = true;
  platform::MainWindowQuery query;
  std::vector<std::wstring> sent, started;
};

TEST_F(HandOverTest, TheRunningWindowGetsThePath) {
  EXPECT_EQ(HandPathToOrlin(L"/home/a/doc", OrlinMainWindow("/opt/orlin"), Desktop()), HandOver::kSent);
  EXPECT_EQ(sent, std::vector<std::wstring>{L"/home/a/doc"});
  EXPECT_TRUE(started.empty());
  EXPECT_EQ(query.windowClass, L"UIOrlinFrameWnd");
  EXPECT_EQ(query.title, L"Orlin");
  EXPECT_EQ(query.loginClass, L"UILoginWnd");
  EXPECT_EQ(query.installDir, "/opt/orlin");
  answers = false;
  EXPECT_EQ(HandPathToOrlin(L"/x", OrlinMainWindow("/opt/orlin"), Desktop()), HandOver::kWindowWentAway);
  EXPECT_TRUE(started.empty()) << "a window that went away mid-copy is not started again";
}

TEST_F(HandOverTest, NothingHappensWhileTheLoginWindowShows) {
  login = true;
  EXPECT_EQ(HandPathToOrlin(L"/home/a/doc", OrlinMainWindow("/opt/orlin"), Desktop()), HandOver::kLoginShows);
  EXPECT_TRUE(sent.empty());
  EXPECT_TRUE(started.empty());
}

TEST_F(HandOverTest, WithoutAWindowOrlinIsStartedWithThePath) {
  windowRuns = false;
  EXPECT_EQ(HandPathToOrlin(L"/home/a/my doc", OrlinMainWindow("/opt/orlin"), Desktop()), HandOver::kStarted);
  EXPECT_EQ(started, std::vector<std::wstring>{L"/home/a/my doc"});
  startWorks = false;
  EXPECT_EQ(HandPathToOrlin(L"/x", OrlinMainWindow("/opt/orlin"), Desktop()), HandOver::kStartFailed);
  EXPECT_EQ(HandPathToOrlin(L"", OrlinMainWindow("/opt/orlin"), Desktop()), HandOver::kNoPath);
  EXPECT_EQ(started.size(), 2u) << "an empty selection starts nothing";
}

}  // namespace
}  // namespace orlin::ravel
