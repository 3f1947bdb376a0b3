#include "tests/support/http_test_server.h"

// Sockets differ only in spelling between the test platforms; the few calls
// the server needs are wrapped below.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "tests/support/temp_dir.h"

namespace orlin::testsupport {

namespace {

namespace net {
#ifdef _WIN32
using Length = int;
constexpr int kNoSignal = 0;
void Startup() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}
int Socket(bool nonBlocking) {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return -1;
  if (nonBlocking) {
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
  }
  return static_cast<int>(s);
}
void Close(int fd) { ::closesocket(static_cast<SOCKET>(fd)); }
void ShutdownBoth(int fd) { ::shutdown(static_cast<SOCKET>(fd), SD_BOTH); ::CancelIoEx(reinterpret_cast<HANDLE>(static_cast<SOCKET>(fd)), nullptr); }  // shutdown alone does not end a blocked recv under Wine
int Accept(int fd) {
  const SOCKET s = ::accept(static_cast<SOCKET>(fd), nullptr, nullptr);
  return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
}
bool WaitReadable(int fd, int ms) {
  WSAPOLLFD p{static_cast<SOCKET>(fd), POLLRDNORM, 0};
  return ::WSAPoll(&p, 1, ms) > 0;
}
bool Interrupted() { return false; }
void IgnoreBrokenPipes() {}
void ClearEnv(const char* name) { _putenv_s(name, ""); }
void SetEnv(const char* name, const char* value) { _putenv_s(name, value); }
// A full accept queue answers with a reset here: connecting fails at once.
constexpr bool kFullBacklogDropsConnections = false;
#else
using Length = socklen_t;
constexpr int kNoSignal = MSG_NOSIGNAL;
void Startup() {}
int Socket(bool nonBlocking) {
  return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
}
void Close(int fd) { ::close(fd); }
void ShutdownBoth(int fd) { ::shutdown(fd, SHUT_RDWR); }
int Accept(int fd) { return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC); }
bool WaitReadable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
}
bool Interrupted() { return errno == EINTR; }
void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }
void ClearEnv(const char* name) { ::unsetenv(name); }
void SetEnv(const char* name, const char* value) { ::setenv(name, value, 1); }
constexpr bool kFullBacklogDropsConnections = true;
#endif
}  // namespace net

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return std::string(s);
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

int OpenLoopbackListener(int backlog, std::uint16_t& port) {
  net::Startup();
  const int fd = net::Socket(false);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  net::Length len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    net::Close(fd);
    return -1;
  }
  port = ntohs(addr.sin_port);
  return fd;
}

}  // namespace

std::string ReceivedRequest::Header(std::string_view name) const {
  const std::string wanted = Lower(name);
  for (const auto& [key, value] : headers) {
    if (Lower(key) == wanted) return value;
  }
  return {};
}

std::vector<std::string> ReceivedRequest::HeaderNames() const {
  std::vector<std::string> names;
  for (const auto& header : headers) names.push_back(header.first);
  return names;
}

ScriptedAnswer ScriptedAnswer::Respond(int status, std::string body) {
  ScriptedAnswer a;
  a.status = status;
  a.body = std::move(body);
  return a;
}

ScriptedAnswer ScriptedAnswer::Slow(std::chrono::milliseconds delay, std::string body) {
  ScriptedAnswer a = Respond(200, std::move(body));
  a.kind = Kind::kSlow;
  a.delay = delay;
  return a;
}

ScriptedAnswer ScriptedAnswer::NeverAnswer() {
  ScriptedAnswer a;
  a.kind = Kind::kNeverAnswer;
  return a;
}

ScriptedAnswer ScriptedAnswer::CloseEarly() {
  ScriptedAnswer a;
  a.kind = Kind::kCloseEarly;
  return a;
}

ScriptedAnswer ScriptedAnswer::Truncated(std::string body, std::uint64_t missingBytes) {
  ScriptedAnswer a = Respond(200, std::move(body));
  a.kind = Kind::kTruncatedBody;
  a.missingBytes = missingBytes;
  return a;
}

ScriptedAnswer ScriptedAnswer::Huge(std::uint64_t bytes) {
  ScriptedAnswer a;
  a.kind = Kind::kHuge;
  a.hugeBytes = bytes;
  return a;
}

ScriptedAnswer ScriptedAnswer::Trickle(std::chrono::milliseconds interval, std::uint64_t bytes) {
  ScriptedAnswer a;
  a.kind = Kind::kTrickle;
  a.delay = interval;
  a.hugeBytes = bytes;
  return a;
}

ScriptedAnswer ScriptedAnswer::Redirect(int status, std::string location) {
  ScriptedAnswer a = Respond(status, "moved");
  a.headers.emplace_back("Location", std::move(location));
  return a;
}

// --- TLS
//
// The server side of TLS comes from the system's OpenSSL library, loaded at
// run time: the test suite needs no development package for it, and HTTPS
// tests skip where the library is missing.

namespace {

extern "C" {
struct TlsMethod;
struct TlsContext;
struct TlsSession;
}

struct TlsLibrary {
  void* handle = nullptr;
  const TlsMethod* (*serverMethod)() = nullptr;
  TlsContext* (*ctxNew)(const TlsMethod*) = nullptr;
  void (*ctxFree)(TlsContext*) = nullptr;
  int (*useChainFile)(TlsContext*, const char*) = nullptr;
  int (*useKeyFile)(TlsContext*, const char*, int) = nullptr;
  TlsSession* (*sslNew)(TlsContext*) = nullptr;
  int (*setFd)(TlsSession*, int) = nullptr;
  int (*accept)(TlsSession*) = nullptr;
  int (*read)(TlsSession*, void*, int) = nullptr;
  int (*write)(TlsSession*, const void*, int) = nullptr;
  int (*shutdown)(TlsSession*) = nullptr;
  void (*sslFree)(TlsSession*) = nullptr;

  TlsLibrary() {
#ifndef _WIN32
    for (const char* name : {"libssl.so.3", "libssl.so"}) {
      if ((handle = ::dlopen(name, RTLD_NOW | RTLD_LOCAL)) != nullptr) break;
    }
    if (!handle) return;
    bool all = true;
    auto bind = [&](auto& fn, const char* symbol) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(handle, symbol));
      all = all && fn != nullptr;
    };
    bind(serverMethod, "TLS_server_method");
    bind(ctxNew, "SSL_CTX_new");
    bind(ctxFree, "SSL_CTX_free");
    bind(useChainFile, "SSL_CTX_use_certificate_chain_file");
    bind(useKeyFile, "SSL_CTX_use_PrivateKey_file");
    bind(sslNew, "SSL_new");
    bind(setFd, "SSL_set_fd");
    bind(accept, "SSL_accept");
    bind(read, "SSL_read");
    bind(write, "SSL_write");
    bind(shutdown, "SSL_shutdown");
    bind(sslFree, "SSL_free");
    if (!all) handle = nullptr;
#endif
  }
  bool ok() const { return handle != nullptr; }
};

const TlsLibrary& TlsLib() {
  static const TlsLibrary library;
  return library;
}

constexpr int kPemFileType = 1;  // SSL_FILETYPE_PEM

// Each certificate and key is made once per test process.
struct TestCertificate {
  TempDir dir;
  bool ok = false;
  std::filesystem::path cert;
  std::filesystem::path key;
  std::string der;

  explicit TestCertificate(const char* names) {
    cert = dir.path() / "cert.pem";
    key = dir.path() / "key.pem";
    const std::filesystem::path derFile = dir.path() / "cert.der";
    const std::string command =
        std::string("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 ") + names +
        " -keyout '" + key.string() + "' -out '" + cert.string() + "' >/dev/null 2>&1 && openssl x509 -in '" +
        cert.string() + "' -outform DER -out '" + derFile.string() + "' >/dev/null 2>&1";
    ok = std::system(command.c_str()) == 0 && std::filesystem::exists(cert) && std::filesystem::exists(key);
    if (ok) {
      std::FILE* in = std::fopen(derFile.string().c_str(), "rb");
      if (in != nullptr) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) der.append(buffer, n);
        std::fclose(in);
      }
    }
  }
};

const TestCertificate& CertificateFor(HttpTestServer::Certificate which) {
  static const TestCertificate first("-subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1");
  static const TestCertificate second("-subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1");
  static const TestCertificate wrongName("-subj /CN=elsewhere.example -addext subjectAltName=DNS:elsewhere.example");
  switch (which) {
    case HttpTestServer::Certificate::kSecond: return second;
    case HttpTestServer::Certificate::kWrongName: return wrongName;
    case HttpTestServer::Certificate::kFirst: break;
  }
  return first;
}

}  // namespace

struct HttpTestServer::Tls {
  TlsContext* ctx = nullptr;
  ~Tls() {
    if (ctx) TlsLib().ctxFree(ctx);
  }
  bool Init(HttpTestServer::Certificate which) {
    const TlsLibrary& lib = TlsLib();
    if (!lib.ok()) return false;
    const TestCertificate& c = CertificateFor(which);
    if (!c.ok) return false;
    ctx = lib.ctxNew(lib.serverMethod());
    return ctx && lib.useChainFile(ctx, c.cert.string().c_str()) == 1 && lib.useKeyFile(ctx, c.key.string().c_str(), kPemFileType) == 1;
  }
};

// --- Connections

struct HttpTestServer::Connection {
  int fd = -1;  // -1 once closed; guarded by the server's mutex
  std::thread thread;
  TlsSession* ssl = nullptr;

  // Reads some bytes; 0 at end of stream or on error.
  std::size_t Read(char* buffer, std::size_t size) {
    if (ssl) {
      const int n = TlsLib().read(ssl, buffer, static_cast<int>(size));
      return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    for (;;) {
      const auto n = ::recv(fd, buffer, static_cast<int>(size), 0);
      if (n < 0 && net::Interrupted()) continue;
      return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
  }

  bool WriteAll(std::string_view data) {
    while (!data.empty()) {
      if (ssl) {
        const int n = TlsLib().write(ssl, data.data(), static_cast<int>(std::min<std::size_t>(data.size(), 1 << 20)));
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      const auto n = ::send(fd, data.data(), static_cast<int>(std::min<std::size_t>(data.size(), 1 << 20)),
                            net::kNoSignal);
      if (n < 0 && net::Interrupted()) continue;
      if (n <= 0) return false;
      data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
};

HttpTestServer::HttpTestServer() : HttpTestServer(Options{}) {}

HttpTestServer::HttpTestServer(Options options) : tls_(options.tls), certificate_(options.certificate) {
  net::IgnoreBrokenPipes();
  // Requests to this server must not be sent to a proxy of the environment.
  for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"}) {
    net::ClearEnv(name);
  }
  defaultAnswer_ = ScriptedAnswer::Respond(404, "not found");
  if (tls_) {
    tlsContext_ = std::make_unique<Tls>();
    if (!tlsContext_->Init(certificate_)) return;
  }
  listenFd_ = OpenLoopbackListener(64, port_);
  if (listenFd_ < 0) return;
  ok_ = true;
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

HttpTestServer::~HttpTestServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    // Wakes every connection thread blocked in a read.
    for (auto& c : connections_) {
      if (c->fd >= 0) net::ShutdownBoth(c->fd);
    }
  }
  changed_.notify_all();
  if (acceptThread_.joinable()) acceptThread_.join();
  if (listenFd_ >= 0) net::Close(listenFd_);
  // No new connection can appear now.
  for (auto& c : connections_) {
    if (c->thread.joinable()) c->thread.join();
  }
}

std::string HttpTestServer::BaseUrl() const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

std::string HttpTestServer::CertificateDer() const { return tls_ ? CertificateFor(certificate_).der : std::string(); }

std::string HttpTestServer::LocalhostUrl() const {
  return std::string(tls_ ? "https" : "http") + "://localhost:" + std::to_string(port_);
}

void HttpTestServer::Route(const std::string& target, ScriptedAnswer answer) {
  std::lock_guard lock(mutex_);
  routes_[target] = std::move(answer);
}

void HttpTestServer::SetDefaultAnswer(ScriptedAnswer answer) {
  std::lock_guard lock(mutex_);
  defaultAnswer_ = std::move(answer);
}

void HttpTestServer::SetHandler(std::function<ScriptedAnswer(const ReceivedRequest&)> handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

std::vector<ReceivedRequest> HttpTestServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t HttpTestServer::RequestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

bool HttpTestServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

std::size_t HttpTestServer::ConnectionCount() const {
  std::lock_guard lock(mutex_);
  return connections_.size();
}

bool HttpTestServer::Pause(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  return !changed_.wait_for(lock, duration, [&] { return stopping_; });
}

ScriptedAnswer HttpTestServer::AnswerFor(const ReceivedRequest& request) const {
  std::function<ScriptedAnswer(const ReceivedRequest&)> handler;
  {
    std::lock_guard lock(mutex_);
    if (!handler_) {
      auto it = routes_.find(request.target);
      return it != routes_.end() ? it->second : defaultAnswer_;
    }
    handler = handler_;
  }
  return handler(request);
}

void HttpTestServer::AcceptLoop() {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    if (!net::WaitReadable(listenFd_, 50)) continue;
    const int fd = net::Accept(listenFd_);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    if (stopping_) {
      net::Close(fd);
      return;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Connection* c = connection.get();
    connections_.push_back(std::move(connection));
    c->thread = std::thread([this, c] { Serve(c); });
  }
}

void HttpTestServer::Serve(Connection* c) {
  if (tls_) {
    const TlsLibrary& lib = TlsLib();
    c->ssl = lib.sslNew(tlsContext_->ctx);
    if (!c->ssl || lib.setFd(c->ssl, c->fd) != 1 || lib.accept(c->ssl) != 1) {
      if (c->ssl) lib.sslFree(c->ssl);
      c->ssl = nullptr;
      std::lock_guard lock(mutex_);
      net::Close(c->fd);
      c->fd = -1;
      return;
    }
  }
  std::string pending;
  char buffer[16384];
  bool keepOpen = true;
  while (keepOpen) {
    std::size_t headerEnd;
    while ((headerEnd = pending.find("\r\n\r\n")) == std::string::npos) {
      const std::size_t n = c->Read(buffer, sizeof buffer);
      if (n == 0) {
        keepOpen = false;
        break;
      }
      pending.append(buffer, n);
    }
    if (!keepOpen) break;

    ReceivedRequest request;
    std::string_view head(pending.data(), headerEnd);
    std::size_t lineEnd = head.find("\r\n");
    request.requestLine = std::string(head.substr(0, lineEnd));
    const std::size_t sp1 = request.requestLine.find(' ');
    const std::size_t sp2 = request.requestLine.find(' ', sp1 + 1);
    request.method = request.requestLine.substr(0, sp1);
    if (sp1 != std::string::npos) request.target = request.requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    while (lineEnd != std::string_view::npos) {
      head.remove_prefix(lineEnd + 2);
      lineEnd = head.find("\r\n");
      const std::string_view line = head.substr(0, lineEnd);
      const std::size_t colon = line.find(':');
      if (colon == std::string_view::npos) continue;
      request.headers.emplace_back(std::string(line.substr(0, colon)), Trim(line.substr(colon + 1)));
    }
    pending.erase(0, headerEnd + 4);

    if (Lower(request.Header("Expect")) == "100-continue" && !c->WriteAll("HTTP/1.1 100 Continue\r\n\r\n")) break;
    const std::size_t length = std::strtoull(request.Header("Content-Length").c_str(), nullptr, 10);
    while (pending.size() < length) {
      const std::size_t n = c->Read(buffer, sizeof buffer);
      if (n == 0) break;
      pending.append(buffer, n);
    }
    if (pending.size() < length) break;
    request.body = pending.substr(0, length);
    pending.erase(0, length);

    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    changed_.notify_all();

    const ScriptedAnswer answer = AnswerFor(request);
    auto head_of = [&](std::uint64_t contentLength) {
      std::string h = "HTTP/1.1 " + std::to_string(answer.status) + " " + Reason(answer.status) + "\r\n";
      h += "Content-Length: " + std::to_string(contentLength) + "\r\n";
      for (const auto& [name, value] : answer.headers) h += name + ": " + value + "\r\n";
      return h + "\r\n";
    };
    switch (answer.kind) {
      case ScriptedAnswer::Kind::kSlow:
        if (!Pause(answer.delay)) {
          keepOpen = false;
          break;
        }
        [[fallthrough]];
      case ScriptedAnswer::Kind::kRespond:
        keepOpen = c->WriteAll(head_of(answer.body.size()) + answer.body);
        break;
      case ScriptedAnswer::Kind::kNeverAnswer: {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopping_; });
        keepOpen = false;
        break;
      }
      case ScriptedAnswer::Kind::kCloseEarly:
        keepOpen = false;
        break;
      case ScriptedAnswer::Kind::kTruncatedBody:
        c->WriteAll(head_of(answer.body.size() + answer.missingBytes) + answer.body);
        keepOpen = false;
        break;
      case ScriptedAnswer::Kind::kTrickle: {
        keepOpen = false;
        if (!c->WriteAll(head_of(answer.hugeBytes))) break;
        for (std::uint64_t sent = 0; sent < answer.hugeBytes; ++sent) {
          if (!Pause(answer.delay) || !c->WriteAll("x")) break;
        }
        break;
      }
      case ScriptedAnswer::Kind::kHuge: {
        if (!c->WriteAll(head_of(answer.hugeBytes))) {
          keepOpen = false;
          break;
        }
        const std::string chunk(64 * 1024, 'x');
        std::uint64_t left = answer.hugeBytes;
        while (left > 0) {
          {
            std::lock_guard lock(mutex_);
            if (stopping_) break;
          }
          const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
          if (!c->WriteAll(std::string_view(chunk.data(), n))) break;
          left -= n;
          hugeBytesSent_ += n;
        }
        keepOpen = left == 0;
        break;
      }
    }
  }
  if (c->ssl) {
    TlsLib().shutdown(c->ssl);
    TlsLib().sslFree(c->ssl);
    c->ssl = nullptr;
  }
  std::lock_guard lock(mutex_);
  net::ShutdownBoth(c->fd);
  net::Close(c->fd);
  c->fd = -1;
}

// --- Environment

ScopedEnvironmentVariable::ScopedEnvironmentVariable(std::string name, const std::string& value)
    : name_(std::move(name)) {
  net::SetEnv(name_.c_str(), value.c_str());
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() { net::ClearEnv(name_.c_str()); }

// --- Black hole

BlackholeListener::BlackholeListener() {
  // A backlog of 0 lets exactly one connection wait in the accept queue;
  // with that one waiting, the kernel drops every further connection request.
  if (!net::kFullBacklogDropsConnections) return;
  listenFd_ = OpenLoopbackListener(0, port_);
  if (listenFd_ < 0) return;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port_);
  for (int i = 0; i < 3; ++i) {
    const int fd = net::Socket(true);
    if (fd < 0) return;
    ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    fillers_.push_back(fd);
  }
  // Let the handshakes that can complete do so.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ok_ = true;
}

BlackholeListener::~BlackholeListener() {
  for (int fd : fillers_) net::Close(fd);
  if (listenFd_ >= 0) net::Close(listenFd_);
}

}  // namespace orlin::testsupport
