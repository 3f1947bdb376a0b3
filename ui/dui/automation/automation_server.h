#pragma once
// The automation's listener. The program starts it when the environment asks
// for it (AutomationRequested); then orlin-ctl can drive the windows through
// the install directory's local channel. Nothing listens otherwise.
//
// Threads: Start and Stop are called by the program (on its UI thread). A
// listener thread accepts clients and each client is served on a thread of
// its own; every request is answered on the UI thread (see UiThreadPost),
// while the client's thread waits for the answer. Nothing here ever waits
// for the UI thread on the UI thread, so Stop may be called there.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "ui/dui/automation/automation.h"

namespace orlin::automation {

// Queues `task` for the UI thread, which runs it later from its message loop.
// Any thread; never runs `task` before returning.
using UiThreadPost = std::function<void(std::function<void()> task)>;

// True when the environment holds ORLIN_AUTOMATION=1.
bool AutomationRequested();

class AutomationServer {
 public:
  // How long a request waits for the UI thread before the client is told it
  // did not answer.
  static constexpr std::chrono::seconds kUiDeadline{60};
  // A client that sends nothing for this long is let go.
  static constexpr std::chrono::minutes kIdleClient{10};
  static constexpr int kMaxClients = 8;

  explicit AutomationServer(UiThreadPost postToUi, WindowPicture picture = {});
  ~AutomationServer();  // Stop
  AutomationServer(const AutomationServer&) = delete;
  AutomationServer& operator=(const AutomationServer&) = delete;

  // Listens at the channel of `installDir`. False, with the reason in
  // `error`, when it cannot; the program then runs without automation.
  bool Start(const std::filesystem::path& installDir, std::string* error);
  // Stops listening, ends every client's connection and waits for their
  // threads. A request still waiting for the UI thread is abandoned: its task
  // does nothing when it runs. Returns within about a second.
  void Stop();

 private:
  std::shared_ptr<struct AutomationServerState> state_;
};

}  // namespace orlin::automation
