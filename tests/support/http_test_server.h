#pragma once
// A small HTTP/1.1 server on a loopback ephemeral port for the transport
// tests. It answers from a script (per request target, or a handler),
// records every request it received (request line, headers in order, body)
// and can misbehave on purpose: answer slowly, never answer, close early,
// send a truncated body or an endless one. With `tls` it speaks HTTPS with a
// self-signed certificate made at run time by the `openssl` command.
//
// Creating a server removes proxy settings from the environment, so that
// clients reach it directly. Every connection is served by its own thread; the destructor closes all of
// them and returns only when every thread has ended.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace orlin::testsupport {

struct ReceivedRequest {
  std::string requestLine;  // "GET /rest/system/status HTTP/1.1"
  std::string method;
  std::string target;       // path and query
  std::vector<std::pair<std::string, std::string>> headers;  // as received, in order
  std::string body;

  // The value of the first header named `name` (ASCII case-insensitive), or "".
  std::string Header(std::string_view name) const;
  // The header names in the order received.
  std::vector<std::string> HeaderNames() const;
};

struct ScriptedAnswer {
  enum class Kind {
    kRespond,        // status, headers and body, connection kept open
    kSlow,           // waits `delay`, then responds
    kNeverAnswer,    // reads the request and says nothing until the server closes
    kCloseEarly,     // closes the connection without a byte of answer
    kTruncatedBody,  // announces body.size() + `missingBytes`, sends `body`, closes
    kHuge,           // announces and streams `hugeBytes` bytes until done or the client leaves
    kTrickle,        // announces `hugeBytes` bytes and sends one of them every `delay`
  };
  Kind kind = Kind::kRespond;
  int status = 200;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  std::chrono::milliseconds delay{0};
  std::uint64_t missingBytes = 0;
  std::uint64_t hugeBytes = 0;

  static ScriptedAnswer Respond(int status, std::string body);
  static ScriptedAnswer Slow(std::chrono::milliseconds delay, std::string body);
  static ScriptedAnswer NeverAnswer();
  static ScriptedAnswer CloseEarly();
  static ScriptedAnswer Truncated(std::string body, std::uint64_t missingBytes);
  static ScriptedAnswer Huge(std::uint64_t bytes);
  static ScriptedAnswer Trickle(std::chrono::milliseconds interval, std::uint64_t bytes);
  // `status` (301, 302, 303, 307 or 308) with a Location header.
  static ScriptedAnswer Redirect(int status, std::string location);
};

class HttpTestServer {
 public:
  // Which certificate a TLS server shows. Each is self-signed and made once
  // per test process; kSecond names the same host with another key (a
  // server in the middle), kWrongName names another host.
  enum class Certificate { kFirst, kSecond, kWrongName };

  struct Options {
    bool tls = false;
    Certificate certificate = Certificate::kFirst;
  };

  HttpTestServer();
  explicit HttpTestServer(Options options);
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  // False when TLS was asked for but cannot be offered in this build or the
  // certificate could not be made; tests then skip.
  bool ok() const { return ok_; }
  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>" (https for a TLS server).
  std::string BaseUrl() const;
  // The same with host name "localhost", which the test certificate names.
  std::string LocalhostUrl() const;

  // The answer for requests whose target equals `target` exactly.
  void Route(const std::string& target, ScriptedAnswer answer);
  // The answer when no route matches (default: 404 "not found").
  void SetDefaultAnswer(ScriptedAnswer answer);
  // Decides every answer; routes are ignored while a handler is set.
  void SetHandler(std::function<ScriptedAnswer(const ReceivedRequest&)> handler);

  std::vector<ReceivedRequest> Requests() const;
  std::size_t RequestCount() const;
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
  // The DER form of the certificate this server shows; empty without TLS.
  std::string CertificateDer() const;
  // Connections accepted so far.
  std::size_t ConnectionCount() const;
  // Body bytes sent by kHuge answers so far.
  std::uint64_t HugeBytesSent() const { return hugeBytesSent_.load(); }

 private:
  struct Connection;
  struct Tls;

  void AcceptLoop();
  void Serve(Connection* connection);
  ScriptedAnswer AnswerFor(const ReceivedRequest& request) const;
  // Sleeps up to `duration`; returns false early when the server stops.
  bool Pause(std::chrono::milliseconds duration);

  bool ok_ = false;
  int listenFd_ = -1;
  std::uint16_t port_ = 0;
  bool tls_ = false;
  Certificate certificate_ = Certificate::kFirst;
  std::unique_ptr<Tls> tlsContext_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::map<std::string, ScriptedAnswer> routes_;
  ScriptedAnswer defaultAnswer_;
  std::function<ScriptedAnswer(const ReceivedRequest&)> handler_;
  std::vector<ReceivedRequest> requests_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::atomic<std::uint64_t> hugeBytesSent_{0};
  std::thread acceptThread_;
};

// Sets an environment variable for the life of the object (the proxy tests),
// then removes it again.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(std::string name, const std::string& value);
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  std::string name_;
};

// A listening socket whose accept queue is full and never drained: further
// connection attempts get no answer at all, so connecting times out. Not
// ok() where the system refuses such connections instead of ignoring them.
class BlackholeListener {
 public:
  BlackholeListener();
  ~BlackholeListener();
  BlackholeListener(const BlackholeListener&) = delete;
  BlackholeListener& operator=(const BlackholeListener&) = delete;

  bool ok() const { return ok_; }
  std::uint16_t port() const { return port_; }

 private:
  bool ok_ = false;
  int listenFd_ = -1;
  std::uint16_t port_ = 0;
  std::vector<int> fillers_;
};

}  // namespace orlin::testsupport
