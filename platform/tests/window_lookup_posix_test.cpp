// The install directory's window channel standing in for FindWindowW and
// WM_COPYDATA: a path crosses whole as UTF-16, the sender waits for the
// window's answer, the login question is answered on the UI thread, and a
// stopped mailbox lets every waiting sender go.

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>
#include <tuple>

#include "platform/local_socket.h"
#include "platform/window_lookup.h"
#include "tests/support/temp_dir.h"

namespace orlin::platform {
namespace {

using namespace std::chrono_literals;

// A UI thread of the test's own: runs posted tasks in order.
class FakeUiThread {
 public:
  FakeUiThread() : thread_([this] { Run(); }) {}
  ~FakeUiThread() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void Post(std::function<void()> task) {
    {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
  }
  std::thread::id id() const { return thread_.get_id(); }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return quit_ || !tasks_.empty(); });
      if (tasks_.empty()) return;
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      lock.lock();
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool quit_ = false;
  std::thread thread_;
};

class WindowChannel : public ::testing::Test {
 protected:
  MainWindowQuery Query() const { return {L"UIOrlinFrameWnd", L"Orlin", L"UILoginWnd", dir.path()}; }

  MailboxHandlers Handlers() {
    MailboxHandlers h;
    h.postToUi = [this](std::function<void()> task) { ui.Post(std::move(task)); };
    h.loginWindowShows = [this] {
      onUiThread = std::this_thread::get_id() == ui.id();
      return loginShows.load();
    };
    h.copyData = [this](const CopyDataMessage& message) -> std::intptr_t {
      onUiThread = std::this_thread::get_id() == ui.id();
      received.push_back(CopyDataPath(message));
      receivedBytes = message.cbData;
      ++receivedCount;
      if (holdCopy) release.get_future().wait();
      return 1;
    };
    return h;
  }

  testsupport::TempDir dir;
  FakeUiThread ui;
  std::atomic<bool> loginShows{false};
  std::atomic<bool> onUiThread{false};
  std::vector<std::wstring> received;
  std::atomic<int> receivedCount{0};
  std::uint32_t receivedBytes = 0;
  bool holdCopy = false;
  std::promise<void> release;
};

TEST_F(WindowChannel, NoWindowWhileNobodyListens) {
  EXPECT_EQ(FindMainWindow(Query()), nullptr);
  MailboxOpen open = OpenMainWindowMailbox(dir.path(), Handlers());
  ASSERT_NE(open.mailbox, nullptr) << open.error;
  EXPECT_NE(FindMainWindow(Query()), nullptr);
  open.mailbox->Stop();
  EXPECT_EQ(FindMainWindow(Query()), nullptr) << "a stopped mailbox is no window";
  // Another install directory has a window of its own.
  MainWindowQuery other = Query();
  other.installDir = dir.path() / "elsewhere";
  std::filesystem::create_directories(other.installDir);
  MailboxOpen second = OpenMainWindowMailbox(dir.path(), Handlers());
  ASSERT_NE(second.mailbox, nullptr) << second.error;
  EXPECT_EQ(FindMainWindow(other), nullptr);
}

TEST_F(WindowChannel, PathsArriveWholeOnTheUiThread) {
  MailboxOpen open = OpenMainWindowMailbox(dir.path(), Handlers());
  ASSERT_NE(open.mailbox, nullptr) << open.error;
  // 259 characters; characters outside any code page, one outside the BMP
  // (a surrogate pair in UTF-16); blanks, quotes and a newline.
  std::wstring long259 = L"/tmp/" + std::wstring(254, L'a');
  ASSERT_EQ(long259.size(), 259u);
  const std::vector<std::wstring> paths = {long259, L"/home/анна/同步 文件/\U0001F600 ü.txt",
                                           L"/tmp/a \"quoted\" name\nwith a newline", L"/"};
  auto link = FindMainWindow(Query());
  ASSERT_NE(link, nullptr);
  for (const auto& path : paths) {
    EXPECT_TRUE(link->SendCopyData(path));
    EXPECT_TRUE(onUiThread.load());
  }
  ASSERT_EQ(received.size(), paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(received[i], paths[i]) << i;
  // cbData counts the UTF-16 units and the terminator, as WM_COPYDATA's.
  EXPECT_EQ(receivedBytes, 4u);
}

TEST_F(WindowChannel, TheLoginQuestionIsAnsweredByTheUiThread) {
  MailboxOpen open = OpenMainWindowMailbox(dir.path(), Handlers());
  ASSERT_NE(open.mailbox, nullptr) << open.error;
  auto link = FindMainWindow(Query());
  ASSERT_NE(link, nullptr);
  EXPECT_FALSE(link->LoginWindowShows());
  EXPECT_TRUE(onUiThread.load());
  loginShows = true;
  EXPECT_TRUE(link->LoginWindowShows());
  EXPECT_TRUE(received.empty());
}

TEST_F(WindowChannel, TheSenderWaitsForTheAnswerAndAStopLetsItGo) {
  holdCopy = true;
  MailboxOpen open = OpenMainWindowMailbox(dir.path(), Handlers());
  ASSERT_NE(open.mailbox, nullptr) << open.error;
  auto link = FindMainWindow(Query());
  ASSERT_NE(link, nullptr);
  auto sent = std::async(std::launch::async, [&] { return link->SendCopyData(L"/tmp/x"); });
  EXPECT_EQ(sent.wait_for(300ms), std::future_status::timeout) << "returned before the window answered";
  release.set_value();
  ASSERT_EQ(sent.wait_for(60s), std::future_status::ready) << "the answer never came";
  EXPECT_TRUE(sent.get());

  // A window that stays busy: stopping the mailbox ends the wait with
  // "gone" and returns although the UI thread is still inside the handler.
  holdCopy = true;
  release = std::promise<void>();
  auto stuck = std::async(std::launch::async, [&] { return link->SendCopyData(L"/tmp/y"); });
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (receivedCount.load() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(receivedCount.load(), 2) << "the second path never reached the UI thread";
  auto stopped = std::async(std::launch::async, [&] { open.mailbox->Stop(); });
  ASSERT_EQ(stopped.wait_for(60s), std::future_status::ready) << "Stop waited for the busy UI thread";
  ASSERT_EQ(stuck.wait_for(60s), std::future_status::ready) << "the sender was not let go";
  EXPECT_FALSE(stuck.get());
  release.set_value();
}

TEST_F(WindowChannel, GarbageEndsOnlyThatSender) {
  MailboxOpen open = OpenMainWindowMailbox(dir.path(), Handlers());
  ASSERT_NE(open.mailbox, nullptr) << open.error;
  {
    LocalConnect raw = ConnectLocal(dir.path(), "window");
    ASSERT_NE(raw.connection, nullptr);
    ASSERT_EQ(raw.connection->Write("copydata 4x00\n", 5s), LocalIo::kOk);
    EXPECT_EQ(raw.connection->ReadLine(60s).status, LocalIo::kClosed);
  }
  {
    LocalConnect raw = ConnectLocal(dir.path(), "window");
    ASSERT_NE(raw.connection, nullptr);
    ASSERT_EQ(raw.connection->Write("format c:\n", 5s), LocalIo::kOk);
    EXPECT_EQ(raw.connection->ReadLine(60s).status, LocalIo::kClosed);
  }
  EXPECT_TRUE(received.empty());
  auto link = FindMainWindow(Query());
  ASSERT_NE(link, nullptr);
  EXPECT_TRUE(link->SendCopyData(L"/tmp/after"));
  ASSERT_EQ(received.size(), 1u);
}

// The exit request of the updater and the uninstaller, and the language
// switch to the updater's window, reach the handler on the UI thread with
// their parameters; its result comes back, and a message it does not take
// is refused. Each window listens on its own channel.
TEST_F(WindowChannel, WindowMessagesReachTheWindowOfTheirChannelOnItsUiThread) {
  MailboxHandlers handlers = Handlers();
  std::vector<std::tuple<unsigned, std::uintptr_t, std::intptr_t>> messages;
  handlers.windowMessage = [&](unsigned message, std::uintptr_t w, std::intptr_t l) -> std::optional<std::intptr_t> {
    onUiThread = std::this_thread::get_id() == ui.id();
    messages.emplace_back(message, w, l);
    if (message != 2026) return std::nullopt;
    return 7;
  };
  MailboxOpen updater = OpenMainWindowMailbox(dir.path(), std::move(handlers), "updater");
  ASSERT_NE(updater.mailbox, nullptr) << updater.error;
  EXPECT_EQ(FindMainWindow(Query()), nullptr) << "the main window's channel is another";

  MainWindowQuery query{L"UIAutoUpdaterWnd", L"Tarn AutoUpdater", L"", dir.path(), "updater"};
  auto link = FindMainWindow(query);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->SendWindowMessage(2026, 1, -5), 7);
  EXPECT_TRUE(onUiThread);
  EXPECT_EQ(link->SendWindowMessage(2024, 0, 0), std::nullopt) << "a message the window does not take";
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], std::make_tuple(2026u, std::uintptr_t{1}, std::intptr_t{-5}));

  // A window that takes no messages from other programs refuses them all.
  MailboxOpen main = OpenMainWindowMailbox(dir.path(), Handlers());
  ASSERT_NE(main.mailbox, nullptr);
  auto mainLink = FindMainWindow(Query());
  ASSERT_NE(mainLink, nullptr);
  EXPECT_EQ(mainLink->SendWindowMessage(2024, 0, 0), std::nullopt);
  updater.mailbox->Stop();
  EXPECT_EQ(FindMainWindow(query), nullptr);
}

TEST(CopyDataPayload, ReadsToTheTerminatorAndNeverPastTheSize) {
  const char16_t text[] = u"ab\0cd";
  CopyDataMessage message{0, sizeof text, text};
  EXPECT_EQ(CopyDataPath(message), L"ab");
  // No terminator within cbData: the payload is read to its end only.
  const char16_t unterminated[] = {u'x', u'y', u'z', u'w'};
  message = {0, 6, unterminated};
  EXPECT_EQ(CopyDataPath(message), L"xyz");
  message = {0, 0, nullptr};
  EXPECT_EQ(CopyDataPath(message), L"");
}

}  // namespace
}  // namespace orlin::platform
