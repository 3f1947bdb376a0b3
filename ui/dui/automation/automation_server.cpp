#include "ui/dui/automation/automation_server.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <list>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/local_socket.h"

namespace orlin::automation {

using namespace std::chrono_literals;

bool AutomationRequested() {
  const char* value = std::getenv("ORLIN_AUTOMATION");
  return value != nullptr && std::string(value) == "1";
}

namespace {

// One request's answer, shared between the client's thread that waits for it
// and the UI thread that gives it (possibly after the client gave up).
struct PendingAnswer {
  std::mutex mutex;
  std::condition_variable ready;
  std::optional<Answer> answer;
};

struct Client {
  std::unique_ptr<platform::LocalConnection> connection;
  std::thread thread;
  std::atomic<bool> finished{false};
};

}  // namespace

// Shared by the server object and its threads.
struct AutomationServerState {
  UiThreadPost postToUi;
  std::shared_ptr<Automation> automation;
  std::atomic<bool> stopping{false};
  std::unique_ptr<platform::LocalServer> server;
  std::thread listener;
  std::mutex clientsMutex;
  std::list<std::unique_ptr<Client>> clients;
};

namespace {

Answer AskUiThread(const std::shared_ptr<AutomationServerState>& state, const Request& request) {
  auto pending = std::make_shared<PendingAnswer>();
  auto automation = state->automation;
  std::weak_ptr<AutomationServerState> weak = state;
  // Hop: the request is answered on the UI thread (Automation::Handle may hop
  // once more, to the thread of the window it is about). This thread waits.
  state->postToUi([pending, automation, weak, request] {
    auto deliver = [pending](Answer answer) {
      std::lock_guard lock(pending->mutex);
      pending->answer = std::move(answer);
      pending->ready.notify_all();
    };
    auto alive = weak.lock();
    if (!alive || alive->stopping) return deliver(Answer::Fail("the automation is stopping"));
    automation->Handle(request, deliver);
  });
  std::unique_lock lock(pending->mutex);
  const auto deadline = std::chrono::steady_clock::now() + AutomationServer::kUiDeadline;
  // In slices, so Stop never waits long for a thread parked here.
  while (!pending->answer && !state->stopping && std::chrono::steady_clock::now() < deadline) {
    pending->ready.wait_for(lock, 100ms);
  }
  if (pending->answer) return *pending->answer;
  if (state->stopping) return Answer::Fail("the automation is stopping");
  return Answer::Fail("the windows did not answer within " + std::to_string(AutomationServer::kUiDeadline.count()) +
                      " s (the UI thread is busy)");
}

void Serve(const std::shared_ptr<AutomationServerState>& state, platform::LocalConnection& connection) {
  while (!state->stopping) {
    auto read = connection.ReadLine(AutomationServer::kIdleClient);
    if (read.status != platform::LocalIo::kOk) return;
    std::string error;
    auto request = DecodeRequest(read.line, &error);
    Answer answer = request ? AskUiThread(state, *request) : Answer::Fail("bad request: " + error);
    if (connection.Write(EncodeAnswer(answer) + "\n", 30s) != platform::LocalIo::kOk) return;
  }
}

}  // namespace

AutomationServer::AutomationServer(UiThreadPost postToUi, WindowPicture picture) : state_(std::make_shared<AutomationServerState>()) {
  state_->postToUi = std::move(postToUi);
  state_->automation = std::make_shared<Automation>(std::move(picture));
}

AutomationServer::~AutomationServer() { Stop(); }

bool AutomationServer::Start(const std::filesystem::path& installDir, std::string* error) {
  if (state_->server) {
    if (error) *error = "the automation listens already";
    return false;
  }
  auto listen = platform::ListenLocal(installDir);
  if (!listen.server) {
    if (error) *error = listen.error;
    return false;
  }
  state_->stopping = false;
  state_->server = std::move(listen.server);
  auto state = state_;
  state_->listener = std::thread([state] {
    while (auto connection = state->server->Accept()) {
      std::lock_guard lock(state->clientsMutex);
      // Threads of clients that left are joined here, not at Stop only.
      for (auto it = state->clients.begin(); it != state->clients.end();) {
        if ((*it)->finished) {
          (*it)->thread.join();
          it = state->clients.erase(it);
        } else {
          ++it;
        }
      }
      if (static_cast<int>(state->clients.size()) >= kMaxClients) {
        connection->Write(EncodeAnswer(Answer::Fail("too many clients at once")) + "\n", 1s);
        continue;
      }
      auto client = std::make_unique<Client>();
      client->connection = std::move(connection);
      Client* raw = client.get();
      client->thread = std::thread([state, raw] {
        Serve(state, *raw->connection);
        raw->finished = true;
      });
      state->clients.push_back(std::move(client));
    }
  });
  return true;
}

void AutomationServer::Stop() {
  if (!state_->server) return;
  state_->stopping = true;
  state_->server->Shutdown();
  if (state_->listener.joinable()) state_->listener.join();
  std::list<std::unique_ptr<Client>> clients;
  {
    std::lock_guard lock(state_->clientsMutex);
    clients.swap(state_->clients);
  }
  for (auto& client : clients) client->connection->Shutdown();
  for (auto& client : clients) client->thread.join();
  state_->server.reset();
}

}  // namespace orlin::automation
