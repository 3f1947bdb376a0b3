#pragma once
// The poller's requests on the request loop: every GET becomes a RestRequest
// with the key header whose completion hands the finished transfer to the
// answer callback on the loop thread; the configuration POST goes through
// the blocking HTTP client on the calling thread. It is also the poller's
// timer (PollScheduler): tasks run on the loop thread.
//
// `restBase` replaces "http://localhost:18384/rest/" on the wire (tests
// point it at a loopback server); answers are reported with the engine's
// URLs, so the dispatcher sees the same URLs either way.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "monitor/monitor_context.h"

namespace orlin {

class RequestLoop;

class LoopRequestSink final : public RequestSink, public PollScheduler {
 public:
  using AnswerCallback = std::function<void(const PollAnswer&)>;

  LoopRequestSink(RequestLoop& loop, std::string apiKey, std::string restBase = std::string(rest::kBase));

  // Set before the first Submit (normally to StatusPoller::Dispatch).
  void SetAnswerCallback(AnswerCallback callback);
  void SetApiKey(std::string apiKey);

  void Submit(const PollRequest& request) override;
  void PostJson(const std::string& url, const std::string& body) override;
  bool RunAfter(std::chrono::milliseconds delay, std::function<void()> task) override;

  // Requests the loop refused (it was not running).
  std::uint64_t Refused() const { return refused_.load(); }

 private:
  std::string ToWire(const std::string& url) const;
  std::string FromWire(const std::string& url) const;
  std::string ApiKey() const;

  RequestLoop& loop_;
  std::string restBase_;
  mutable std::mutex mutex_;  // guards apiKey_ and callback_
  std::string apiKey_;
  AnswerCallback callback_;
  std::atomic<std::uint64_t> refused_{0};
};

}  // namespace orlin
