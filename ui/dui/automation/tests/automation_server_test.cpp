// The automation's listener: requests over the install directory's channel
// answered on the UI thread, several clients at once, and a Stop that never
// waits for a busy UI thread.

#include "ui/dui/automation/automation_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/local_socket.h"
#include "ui/dui/tests/dui_fixture.h"

namespace orlin::automation {
namespace {

using namespace std::chrono_literals;
using dui::testing::RecordingWindow;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const char kSkin[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="300,100">
  <HorizontalLayout>
    <Edit name="USERNAME"/>
    <Button name="LOGINBTN" text="Login"/>
  </HorizontalLayout>
</Window>)";

class LoginLikeWindow : public RecordingWindow {
 public:
  LoginLikeWindow() : RecordingWindow(L"login.xml") {}
  std::wstring GetWindowClassName() const override { return L"UILoginWnd"; }
  void Notify(dui::TNotifyUI& msg) override {
    notifyThread = std::this_thread::get_id();
    RecordingWindow::Notify(msg);
  }
  std::atomic<std::thread::id> notifyThread;
};

// A client of the channel on a thread of its own: sends each line and keeps
// each answer line.
class Client {
 public:
  Client(const std::filesystem::path& dir, std::vector<std::string> lines)
      : thread_([this, dir, lines] {
          auto c = platform::ConnectLocal(dir);
          if (!c.connection) {
            answers.push_back("connect failed: " + c.error);
          } else {
            for (const auto& line : lines) {
              if (c.connection->Write(line + "\n", 60s) != platform::LocalIo::kOk) break;
              auto read = c.connection->ReadLine(120s);
              answers.push_back(read.status == platform::LocalIo::kOk ? read.line : "<no answer>");
            }
          }
          done = true;
        }) {}
  ~Client() {
    if (thread_.joinable()) thread_.join();
  }
  void Join() { thread_.join(); }
  std::vector<std::string> answers;
  std::atomic<bool> done{false};

 private:
  std::thread thread_;
};

class AutomationServerTest : public dui::testing::DuiTest {
 protected:
  void SetUp() override {
    DuiTest::SetUp();
    WriteSkin("login.xml", kSkin);
    ASSERT_TRUE(window.Create(nullptr, L"Login - Orlin", dui::kWsPopup, 0));
    window.ShowWindow(true);
    backend->Pump();
    window.TakeNotes();
    uiQueue = backend->QueueOfThisThread();
  }
  UiThreadPost PostToThisThread() {
    auto queue = uiQueue;
    return [queue](std::function<void()> task) { queue->Push(std::move(task)); };
  }
  // The UI thread's message loop, until every client is done.
  void PumpUntil(const std::vector<Client*>& clients) {
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    auto allDone = [&] {
      for (auto* c : clients) {
        if (!c->done) return false;
      }
      return true;
    };
    while (!allDone()) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "clients still waiting for answers after 120 s";
      backend->Pump();
      std::this_thread::sleep_for(2ms);
    }
  }

  LoginLikeWindow window;
  std::shared_ptr<dui::HeadlessBackend::Queue> uiQueue;
};

TEST_F(AutomationServerTest, RequestsOfSeveralClientsAreAnsweredOnTheUiThread) {
  AutomationServer server(PostToThisThread());
  std::string error;
  ASSERT_TRUE(server.Start(dir.path(), &error)) << error;

  Client typing(dir.path(), {R"({"op":"set","class":"UILoginWnd","control":"USERNAME","text":"ann"})",
                             R"({"op":"get","class":"UILoginWnd","control":"USERNAME"})",
                             R"({"op":"click","class":"UILoginWnd","control":"LOGINBTN"})"});
  Client looking(dir.path(), {R"({"op":"windows"})", "this is no request", R"({"class":"UILoginWnd"})",
                              R"({"op":"get","class":"UILoginWnd","control":"NONE"})"});
  PumpUntil({&typing, &looking});
  typing.Join();
  looking.Join();

  EXPECT_THAT(typing.answers, ElementsAre(R"({"lines":[],"ok":true})", R"({"lines":["ann"],"ok":true})",
                                          R"({"lines":[],"ok":true})"));
  ASSERT_EQ(looking.answers.size(), 4u);
  EXPECT_EQ(looking.answers[0], R"({"lines":["UILoginWnd\tLogin - Orlin\tvisible"],"ok":true})");
  EXPECT_THAT(looking.answers[1], HasSubstr("bad request: not JSON"));
  EXPECT_THAT(looking.answers[2], HasSubstr("names no operation"));
  EXPECT_THAT(looking.answers[3], HasSubstr("UILoginWnd has no control named NONE"));
  EXPECT_THAT(window.TakeNotes(), ElementsAre(L"setfocus:USERNAME", L"textchanged:USERNAME", L"killfocus:USERNAME",
                                               L"click:LOGINBTN"));
  EXPECT_EQ(window.notifyThread.load(), std::this_thread::get_id());
  server.Stop();
}

TEST_F(AutomationServerTest, StopDoesNotWaitForABusyUiThreadAndNothingListensAfterwards) {
  std::atomic<int> posted{0};
  auto post = PostToThisThread();
  auto server = std::make_unique<AutomationServer>([&posted, post](std::function<void()> task) {
    post(std::move(task));
    ++posted;
  });
  std::string error;
  ASSERT_TRUE(server->Start(dir.path(), &error)) << error;
  EXPECT_FALSE(server->Start(dir.path(), &error));
  EXPECT_THAT(error, HasSubstr("listens already"));
  AutomationServer second(PostToThisThread());
  EXPECT_FALSE(second.Start(dir.path(), &error));
  EXPECT_THAT(error, HasSubstr("another program listens"));

  // The UI thread (this one) is busy and runs nothing; Stop, called from
  // it, must come back anyway.
  Client waiting(dir.path(), {R"({"op":"click","class":"UILoginWnd","control":"LOGINBTN"})"});
  const auto deadline = std::chrono::steady_clock::now() + 120s;
  while (posted == 0) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the request never reached the UI thread";
    std::this_thread::sleep_for(5ms);
  }
  const auto before = std::chrono::steady_clock::now();
  server->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 30s) << "Stop waited for the UI thread";
  waiting.Join();
  ASSERT_EQ(waiting.answers.size(), 1u);
  EXPECT_THAT(waiting.answers[0], ::testing::AnyOf(HasSubstr("stopping"), HasSubstr("<no answer>")));
  // The abandoned request does nothing when the UI thread gets to it.
  server.reset();
  backend->Pump();
  EXPECT_THAT(window.TakeNotes(), ::testing::IsEmpty());

  auto after = platform::ConnectLocal(dir.path());
  EXPECT_TRUE(after.nobodyListens) << after.error;
}

}  // namespace
}  // namespace orlin::automation
