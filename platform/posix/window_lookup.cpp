#include "platform/window_lookup.h"

#include <algorithm>
#include <cstdio>
#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/local_socket.h"

// The requests on the channel, one line each, answered with one line:
//   "login?"           -> "yes" | "no"
//   "copydata <hex>"   -> "done <result>"  (after the window handled it)
//   "message <msg> <wParam> <lParam>" -> "done <result>" | "refused"
//                         (decimal numbers; a window message of the contract)
// <hex> is the WM_COPYDATA payload, the UTF-16LE bytes of the path and its
// terminator, two lower-case hex digits a byte.

namespace orlin::platform {
namespace {

using namespace std::chrono_literals;

// A path of 32767 UTF-16 units and its terminator, as hex, with room to spare.
constexpr std::size_t kMaxLine = 512 * 1024;
constexpr auto kWriteTimeout = 10s;
// A question is answered at once by a live program.
constexpr auto kQuestionTimeout = 60s;
// A sender that says nothing for this long is let go.
constexpr auto kIdleClient = 5min;

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 0xF]);
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool FromHex(std::string_view hex, std::string& out) {
  if (hex.size() % 2 != 0) return false;
  out.clear();
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    out.push_back(static_cast<char>(high << 4 | low));
  }
  return true;
}

class ChannelLink final : public MainWindowLink {
 public:
  explicit ChannelLink(std::unique_ptr<LocalConnection> connection) : connection_(std::move(connection)) {}

  bool LoginWindowShows() override {
    if (connection_->Write("login?\n", kWriteTimeout) != LocalIo::kOk) return false;
    const LocalRead answer = connection_->ReadLine(kQuestionTimeout);
    return answer.status == LocalIo::kOk && answer.line == "yes";
  }

  bool SendCopyData(std::wstring_view path) override {
    std::string payload;
    for (char16_t unit : WideToUtf16(path)) {
      payload.push_back(static_cast<char>(unit & 0xFF));
      payload.push_back(static_cast<char>(unit >> 8));
    }
    payload.append(2, '\0');
    if (connection_->Write("copydata " + Hex(payload) + "\n", kWriteTimeout) != LocalIo::kOk) return false;
    // As SendMessageW: as long as the window takes (the copy window may stay
    // open for hours), until it answers or goes away.
    for (;;) {
      const LocalRead answer = connection_->ReadLine(1h);
      if (answer.status == LocalIo::kTimedOut) continue;
      return answer.status == LocalIo::kOk && answer.line.rfind("done", 0) == 0;
    }
  }

  std::optional<std::intptr_t> SendWindowMessage(unsigned message, std::uintptr_t wParam,
                                                 std::intptr_t lParam) override {
    const std::string request = "message " + std::to_string(message) + " " + std::to_string(wParam) + " " +
                                std::to_string(lParam) + "\n";
    if (connection_->Write(request, kWriteTimeout) != LocalIo::kOk) return std::nullopt;
    for (;;) {
      const LocalRead answer = connection_->ReadLine(1h);
      if (answer.status == LocalIo::kTimedOut) continue;
      if (answer.status != LocalIo::kOk || answer.line.rfind("done ", 0) != 0) return std::nullopt;
      try {
        return static_cast<std::intptr_t>(std::stoll(answer.line.substr(5)));
      } catch (const std::exception&) {
        return std::nullopt;
      }
    }
  }

 private:
  std::unique_ptr<LocalConnection> connection_;
};

// What the mailbox and the tasks it queued for the UI thread share; a task
// may run after the mailbox stopped (it then does nothing).
struct MailboxState {
  MailboxHandlers handlers;
  std::mutex mutex;
  std::condition_variable changed;
  bool stopped = false;
};

// One request waiting for the UI thread.
struct Pending {
  bool done = false;
  std::intptr_t result = 0;
};

class ChannelMailbox final : public MainWindowMailbox {
 public:
  ChannelMailbox(std::unique_ptr<LocalServer> server, MailboxHandlers handlers)
      : server_(std::move(server)), state_(std::make_shared<MailboxState>()) {
    state_->handlers = std::move(handlers);
    accepter_ = std::thread([this] { AcceptLoop(); });
  }
  ~ChannelMailbox() override { Stop(); }

  void Stop() override {
    {
      std::lock_guard lock(state_->mutex);
      if (!server_) return;
      state_->stopped = true;
      for (auto& client : clients_) client.connection->Shutdown();
    }
    state_->changed.notify_all();
    server_->Shutdown();
    if (accepter_.joinable()) accepter_.join();
    // Nobody can connect from here on: the socket file goes with the server.
    server_.reset();
    std::list<Client> clients;
    {
      std::lock_guard lock(state_->mutex);
      clients = std::move(clients_);
    }
    for (auto& client : clients) {
      if (client.thread.joinable()) client.thread.join();
    }
  }

 private:
  struct Client {
    std::shared_ptr<LocalConnection> connection;
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished = std::make_shared<std::atomic<bool>>(false);
  };

  void AcceptLoop() {
    while (auto accepted = server_->Accept()) {
      std::shared_ptr<LocalConnection> connection(std::move(accepted));
      std::lock_guard lock(state_->mutex);
      if (state_->stopped) return;
      ReapFinished();
      Client& client = clients_.emplace_back();
      client.connection = connection;
      client.thread = std::thread([this, connection, finished = client.finished] {
        Serve(*connection);
        // The sender sees the end now, not when the thread is reaped.
        connection->Shutdown();
        finished->store(true);
      });
    }
  }

  // Under the lock: threads of senders that have gone.
  void ReapFinished() {
    for (auto it = clients_.begin(); it != clients_.end();) {
      if (it->finished->load()) {
        it->thread.join();
        it = clients_.erase(it);
      } else {
        ++it;
      }
    }
  }

  void Serve(LocalConnection& connection) {
    for (;;) {
      const LocalRead request = connection.ReadLine(kIdleClient, kMaxLine);
      if (request.status != LocalIo::kOk) return;
      std::string answer;
      if (request.line == "login?") {
        auto shows = OnUiThread([](MailboxHandlers& h) -> std::intptr_t {
          return h.loginWindowShows && h.loginWindowShows() ? 1 : 0;
        });
        if (!shows) return;
        answer = *shows ? "yes\n" : "no\n";
      } else if (request.line.rfind("copydata ", 0) == 0) {
        auto payload = std::make_shared<std::string>();
        if (!FromHex(std::string_view(request.line).substr(9), *payload)) return;
        auto result = OnUiThread([payload](MailboxHandlers& h) -> std::intptr_t {
          if (!h.copyData) return 0;
          CopyDataMessage message;
          message.cbData = static_cast<std::uint32_t>(payload->size());
          message.lpData = payload->data();
          return h.copyData(message);
        });
        if (!result) return;
        answer = "done " + std::to_string(*result) + "\n";
      } else if (request.line.rfind("message ", 0) == 0) {
        unsigned message = 0;
        unsigned long long wParam = 0;
        long long lParam = 0;
        char end = 0;
        if (std::sscanf(request.line.c_str() + 8, "%u %llu %lld%c", &message, &wParam, &lParam, &end) != 3) return;
        // Shared: the task may still run after this sender was let go.
        auto refused = std::make_shared<bool>(false);
        auto result = OnUiThread([refused, message, wParam, lParam](MailboxHandlers& h) -> std::intptr_t {
          std::optional<std::intptr_t> handled;
          if (h.windowMessage) {
            handled = h.windowMessage(message, static_cast<std::uintptr_t>(wParam), static_cast<std::intptr_t>(lParam));
          }
          *refused = !handled;
          return handled.value_or(0);
        });
        if (!result) return;
        answer = *refused ? "refused\n" : "done " + std::to_string(*result) + "\n";
      } else {
        return;  // not one of ours: the sender is let go
      }
      if (connection.Write(answer, kWriteTimeout) != LocalIo::kOk) return;
    }
  }

  // Runs `work` on the UI thread and waits for it; nullopt when the mailbox
  // stopped first.
  std::optional<std::intptr_t> OnUiThread(std::function<std::intptr_t(MailboxHandlers&)> work) {
    auto pending = std::make_shared<Pending>();
    auto state = state_;
    {
      std::lock_guard lock(state->mutex);
      if (state->stopped || !state->handlers.postToUi) return std::nullopt;
    }
    // Hop: the handler runs on the UI thread while this sender's thread
    // waits for it below.
    state->handlers.postToUi([state, pending, work = std::move(work)] {
      {
        std::lock_guard lock(state->mutex);
        if (state->stopped) return;
      }
      const std::intptr_t result = work(state->handlers);
      {
        std::lock_guard lock(state->mutex);
        pending->result = result;
        pending->done = true;
      }
      state->changed.notify_all();
    });
    std::unique_lock lock(state->mutex);
    state->changed.wait(lock, [&] { return pending->done || state->stopped; });
    if (!pending->done) return std::nullopt;
    return pending->result;
  }

  std::unique_ptr<LocalServer> server_;
  std::shared_ptr<MailboxState> state_;
  std::thread accepter_;
  std::list<Client> clients_;  // under state_->mutex
};

}  // namespace

std::unique_ptr<MainWindowLink> FindMainWindow(const MainWindowQuery& query) {
  LocalConnect connect = ConnectLocal(query.installDir, query.channel);
  if (!connect.connection) return nullptr;
  return std::make_unique<ChannelLink>(std::move(connect.connection));
}

MailboxOpen OpenMainWindowMailbox(const std::filesystem::path& installDir, MailboxHandlers handlers,
                                  std::string_view channel) {
  LocalListen listen = ListenLocal(installDir, channel);
  if (!listen.server) return {nullptr, listen.error};
  return {std::make_unique<ChannelMailbox>(std::move(listen.server), std::move(handlers)), {}};
}

}  // namespace orlin::platform
