// The main window's receiving side of Ravel: WM_COPYDATA's path reaches the
// copy into the sync folder whole and only once the main view is up, the
// sender waits for the copy, and a path Orlin was started with is copied
// once after the start-up.

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>

#include "platform/window_lookup.h"
#include "tests/support/fake_controller.h"
#include "tests/support/temp_dir.h"
#include "ui/dui/headless_backend.h"
#include "ui/main/orlin_frame_wnd.h"

namespace orlin {
namespace {

using testing::FakeController;
using namespace std::chrono_literals;

constexpr auto kDeadline = 120s;

// WM_COPYDATA's payload as Ravel sends it: UTF-16 with its terminator.
struct Payload {
  explicit Payload(const std::wstring& path) {
    for (char16_t unit : WideToUtf16(path)) {
      bytes.push_back(static_cast<char>(unit & 0xFF));
      bytes.push_back(static_cast<char>(unit >> 8));
    }
    bytes.append(2, '\0');
    message.cbData = static_cast<std::uint32_t>(bytes.size());
    message.lpData = bytes.data();
  }
  std::intptr_t lParam() { return reinterpret_cast<std::intptr_t>(&message); }
  std::string bytes;
  platform::CopyDataMessage message;
};

class FrameCopyData : public ::testing::Test {
 protected:
  void SetUp() override {
    backend = std::make_shared<dui::HeadlessBackend>();
    dui::UiBackend::Install(backend);
    dui::CPaintManagerUI::SetResourcePath(ORLIN_SKIN_DIR);
    dui::CPaintManagerUI::SetInstance(dir.path());
  }
  void TearDown() override {
    frame.reset();
    dui::UiBackend::Install(nullptr);
  }

  FrameServices Services() {
    FrameServices s;
    s.makeController = [this](COrlinFrameWnd&) {
      auto c = std::make_unique<FakeController>();
      c->settings.language = L"en";
      c->settings.syncFolderPath = L"/home/ann/Orlin";
      c->loginNeeded = loginNeeded;
      return c;
    };
    s.runLogin = [this](Controller&) { return loginGate.get_future().get(); };
    s.installDir = dir.path();
    s.copyIntoSyncFolder = [this](Controller& controller, const std::wstring& path) {
      EXPECT_EQ(std::this_thread::get_id(), uiThread) << "the copy runs on the UI thread";
      EXPECT_EQ(&controller, frame->GetController());
      // A copy window runs its own loop on the UI thread meanwhile, as the
      // real one does; the sender must still be waiting when it ends.
      if (holdCopy) {
        const auto end = std::chrono::steady_clock::now() + 200ms;
        while (std::chrono::steady_clock::now() < end) {
          backend->Pump();
          std::this_thread::sleep_for(1ms);
        }
        senderWaited = !senderReturned.load();
      }
      std::lock_guard lock(mutex);
      copied.push_back(path);
      return copyResult;
    };
    s.quit = [] {};
    return s;
  }

  void Make(FrameServices services) {
    uiThread = std::this_thread::get_id();
    frame = std::make_unique<COrlinFrameWnd>(std::move(services));
    ASSERT_TRUE(frame->Create(nullptr, kMainWindowTitle, dui::kWsPopup, 0));
  }

  bool PumpUntil(const std::function<bool()>& done, const char* what) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!done()) {
      backend->Pump();
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "gave up waiting for " << what;
        return false;
      }
      std::this_thread::sleep_for(1ms);
    }
    backend->Pump();
    return true;
  }

  std::vector<std::wstring> Copied() {
    std::lock_guard lock(mutex);
    return copied;
  }

  testsupport::TempDir dir;
  std::shared_ptr<dui::HeadlessBackend> backend;
  std::unique_ptr<COrlinFrameWnd> frame;
  std::thread::id uiThread;
  bool loginNeeded = false;
  std::promise<int> loginGate;
  bool holdCopy = false;
  std::atomic<bool> senderReturned{false};
  bool senderWaited = false;
  bool copyResult = true;
  std::mutex mutex;
  std::vector<std::wstring> copied;
};

TEST_F(FrameCopyData, APathArrivesWholeAndTheSenderWaitsForTheCopy) {
  Make(Services());
  ASSERT_TRUE(PumpUntil([&] { return frame->IsStarted(); }, "the main view"));

  // 259 characters with some outside any code page and outside the BMP.
  std::wstring path = L"/home/ann/同步 \U0001F600 ";
  path += std::wstring(259 - path.size(), L'x');
  Payload payload(path);
  EXPECT_EQ(frame->SendMessageW(dui::kWmCopyData, 0, payload.lParam()), 1);
  ASSERT_EQ(Copied(), std::vector<std::wstring>{path});

  // A copy where some files failed answers 0.
  copyResult = false;
  Payload second(L"/tmp/b");
  EXPECT_EQ(frame->SendMessageW(dui::kWmCopyData, 0, second.lParam()), 0);

  // From another thread, as the mailbox sends it: the send returns only
  // once the copy is over.
  copyResult = true;
  holdCopy = true;
  Payload third(L"/tmp/c");
  auto sent = std::async(std::launch::async, [&] {
    const std::intptr_t result = frame->SendMessageW(dui::kWmCopyData, 0, third.lParam());
    senderReturned = true;
    return result;
  });
  ASSERT_TRUE(PumpUntil([&] { return sent.wait_for(0ms) == std::future_status::ready; }, "the sender's answer"));
  EXPECT_TRUE(senderWaited) << "the sender went on before the copy ended";
  EXPECT_EQ(sent.get(), 1);
  EXPECT_EQ(Copied().size(), 3u);
}

TEST_F(FrameCopyData, NothingIsCopiedBeforeTheMainViewIsUp) {
  loginNeeded = true;
  Make(Services());
  // The login window is open (its gate closed): a path is dropped.
  Payload payload(L"/home/ann/doc");
  for (int i = 0; i < 20; ++i) backend->Pump();
  EXPECT_EQ(frame->SendMessageW(dui::kWmCopyData, 0, payload.lParam()), 0);
  EXPECT_EQ(frame->SendMessageW(dui::kWmCopyData, 0, 0), 0) << "no payload at all";
  loginGate.set_value(kModalOk);
  ASSERT_TRUE(PumpUntil([&] { return frame->IsStarted(); }, "the main view after the login"));
  EXPECT_TRUE(Copied().empty());
  EXPECT_EQ(frame->SendMessageW(dui::kWmCopyData, 0, payload.lParam()), 1);
  EXPECT_EQ(Copied(), std::vector<std::wstring>{L"/home/ann/doc"});
}

TEST_F(FrameCopyData, TheStartPathIsCopiedOnceAfterTheStartUp) {
  FrameServices services = Services();
  services.startPath = L"/home/ann/from ravel";
  Make(std::move(services));
  ASSERT_TRUE(PumpUntil([&] { return !Copied().empty(); }, "the start path's copy"));
  EXPECT_TRUE(frame->IsStarted()) << "the main view was up first";
  for (int i = 0; i < 50; ++i) {
    backend->Pump();
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(Copied(), std::vector<std::wstring>{L"/home/ann/from ravel"});
}

}  // namespace
}  // namespace orlin
