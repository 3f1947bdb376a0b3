#pragma once
// One asynchronous request to the engine's REST interface, carried by the
// request loop (engine/request_loop.h) from submission to completion.
//
// The record owns its completion: `onComplete` travels with the request and
// is called once, on the request loop thread, when the transfer has finished
// (successfully or not). After the call the loop deletes the record. A
// request that is still queued or in flight when the loop stops is dropped
// without a completion.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orlin {

// How a transfer ended. Every transfer completes with one of these; the
// answer body holds whatever arrived (possibly nothing).
enum class RestTransferStatus {
  kPending,         // not finished yet (never seen by a completion)
  kAnswered,        // the whole answer arrived, whatever its HTTP status
  kConnectFailed,   // refused or unreachable: the engine is not running
  kTimedOut,        // connecting took too long, or the answer stalled
  kTooLarge,        // the answer exceeded the loop's cap; `response` is emptied
  kTransferFailed,  // closed early, truncated body, or any other transport error
};

struct RestRequest;

// Runs on the request loop thread. `effectiveUrl` is the URL that was finally
// fetched, or empty when the transport could not tell it.
using RestCompletion = std::function<void(RestRequest& request, const std::string& effectiveUrl)>;

struct RestRequest {
  // Full URL, "http://localhost:18384/rest/...".
  std::string url;
  // Sent as the request's one header line, "X-API-Key: " + apiKey.
  std::string apiKey;
  // A POST body; none makes the request a GET.
  std::optional<std::string> body;
  // Which handler the answer goes to, and one argument for it (the values
  // belong to the status poller and the engine commands).
  std::int32_t kind = 0;
  std::int32_t parameter = 0;
  RestCompletion onComplete;

  // Filled by the loop. `response` is appended chunk by chunk as it arrives.
  std::string response;
  RestTransferStatus status = RestTransferStatus::kPending;
  long httpStatus = 0;  // 0 when no status line arrived
};

}  // namespace orlin
