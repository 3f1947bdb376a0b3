#pragma once
// A minimal HTTP/1.1 GET or POST against a REST interface on 127.0.0.1, for tests
// that check an engine answers. Deliberately independent of the product's
// HTTP client, so a fault there cannot hide a fault here.

#include <chrono>
#include <cstdint>
#include <string>

namespace orlin::testsupport {

struct ProbeAnswer {
  bool connected = false;  // false: refused, unreachable or timed out before an answer
  int status = 0;          // HTTP status code, 0 when no status line arrived
  std::string body;
};

// GET `target` (e.g. "/rest/system/ping") from 127.0.0.1:`port` with the
// header "X-API-Key: <apiKey>" (left out when empty). Bounded by `timeout`.
ProbeAnswer RestGet(std::uint16_t port, const std::string& target, const std::string& apiKey,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

// The same as a POST without a body (for commands such as /rest/system/restart).
ProbeAnswer RestPost(std::uint16_t port, const std::string& target, const std::string& apiKey,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

}  // namespace orlin::testsupport
