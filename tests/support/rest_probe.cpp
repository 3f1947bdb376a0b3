#include "rest_probe.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "engine/rest_paths.h"

namespace orlin::testsupport {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool WaitFor(int fd, short events, Clock::time_point deadline) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int n = ::poll(&p, 1, RemainingMs(deadline));
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

// Undoes "Transfer-Encoding: chunked"; stops at a malformed chunk.
std::string Dechunk(const std::string& body) {
  std::string out;
  std::size_t at = 0;
  while (at < body.size()) {
    const auto lineEnd = body.find("\r\n", at);
    if (lineEnd == std::string::npos) break;
    const std::size_t size = std::strtoul(body.c_str() + at, nullptr, 16);
    if (size == 0 || lineEnd + 2 + size > body.size()) break;
    out.append(body, lineEnd + 2, size);
    at = lineEnd + 2 + size + 2;
  }
  return out;
}

bool HasChunkedHeader(const std::string& head) {
  std::string lower;
  for (char c : head) lower.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
  return lower.find("transfer-encoding: chunked") != std::string::npos;
}

ProbeAnswer Request(const char* method, std::uint16_t port, const std::string& target, const std::string& apiKey,
                    std::chrono::milliseconds timeout) {
  ProbeAnswer answer;
  const auto deadline = Clock::now() + timeout;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return answer;

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (!ok && errno == EINPROGRESS && WaitFor(fd, POLLOUT, deadline)) {
    int error = 0;
    socklen_t length = sizeof error;
    ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
  }

  if (ok) {
    std::string request = std::string(method) + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    if (std::string_view(method) == "POST") request += "Content-Length: 0\r\n";
    if (!apiKey.empty()) request += rest::KeyHeader(apiKey) + "\r\n";
    request += "\r\n";
    std::size_t sent = 0;
    while (ok && sent < request.size()) {
      const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EAGAIN) {
        ok = WaitFor(fd, POLLOUT, deadline);
      } else {
        ok = false;
      }
    }
  }

  std::string raw;
  while (ok) {
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      raw.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno == EAGAIN) {
      ok = WaitFor(fd, POLLIN, deadline);
    } else {
      break;
    }
  }
  ::close(fd);

  // "HTTP/1.1 200 OK\r\n...\r\n\r\nbody"
  if (raw.rfind("HTTP/", 0) == 0) {
    answer.connected = true;
    const auto space = raw.find(' ');
    if (space != std::string::npos) answer.status = std::atoi(raw.c_str() + space + 1);
    const auto bodyStart = raw.find("\r\n\r\n");
    if (bodyStart != std::string::npos) {
      answer.body = raw.substr(bodyStart + 4);
      if (HasChunkedHeader(raw.substr(0, bodyStart))) answer.body = Dechunk(answer.body);
    }
  }
  return answer;
}

}  // namespace

ProbeAnswer RestGet(std::uint16_t port, const std::string& target, const std::string& apiKey,
                    std::chrono::milliseconds timeout) {
  return Request("GET", port, target, apiKey, timeout);
}

ProbeAnswer RestPost(std::uint16_t port, const std::string& target, const std::string& apiKey,
                     std::chrono::milliseconds timeout) {
  return Request("POST", port, target, apiKey, timeout);
}

}  // namespace orlin::testsupport
