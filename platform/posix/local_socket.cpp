#include "platform/local_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace orlin::platform {
namespace {

constexpr char kAutomationChannel[] = "automation";

std::string SocketName(std::string_view channel) { return "orlin-" + std::string(channel) + ".sock"; }

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

int PollMillis(std::chrono::milliseconds timeout) {
  return static_cast<int>(std::min<std::chrono::milliseconds::rep>(timeout.count(), 1 << 30));
}

// The address of the install directory's socket. A path too long for
// sun_path is reached through a descriptor of its directory instead
// (/proc/self/fd/N/name), which stays short; `dirFd` then holds that
// descriptor until the socket call is done.
class SocketAddress {
 public:
  SocketAddress(const std::filesystem::path& installDir, std::string_view channel)
      : file_(installDir / SocketName(channel)) {
    std::memset(&addr_, 0, sizeof addr_);
    addr_.sun_family = AF_UNIX;
    std::string path = file_.string();
    if (path.size() >= sizeof addr_.sun_path) {
      dirFd_ = ::open(installDir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (dirFd_ < 0) return;
      path = "/proc/self/fd/" + std::to_string(dirFd_) + "/" + file_.filename().string();
    }
    std::memcpy(addr_.sun_path, path.c_str(), path.size() + 1);
    usable_ = true;
  }
  ~SocketAddress() {
    if (dirFd_ >= 0) ::close(dirFd_);
  }
  SocketAddress(const SocketAddress&) = delete;
  SocketAddress& operator=(const SocketAddress&) = delete;

  bool usable() const { return usable_; }
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&addr_); }
  socklen_t size() const { return sizeof addr_; }
  // The name the file system knows, for stat, chmod and unlink.
  const char* fsPath() const { return addr_.sun_path; }
  const std::filesystem::path& file() const { return file_; }

 private:
  std::filesystem::path file_;
  sockaddr_un addr_;
  int dirFd_ = -1;
  bool usable_ = false;
};

class SocketConnection final : public LocalConnection {
 public:
  explicit SocketConnection(int fd) : fd_(fd) {}
  ~SocketConnection() override { ::close(fd_); }

  LocalIo Write(std::string_view data, std::chrono::milliseconds timeout) override {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!data.empty()) {
      if (closed_) return LocalIo::kClosed;
      const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        data.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EPIPE) return LocalIo::kClosed;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return closed_ ? LocalIo::kClosed : LocalIo::kFailed;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return LocalIo::kTimedOut;
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, PollMillis(left)) < 0 && errno != EINTR) return LocalIo::kFailed;
    }
    return LocalIo::kOk;
  }

  void Shutdown() override {
    closed_ = true;
    // Wakes a poll or recv blocked on the descriptor in another thread.
    ::shutdown(fd_, SHUT_RDWR);
  }

 protected:
  LocalIo ReadSome(std::string& into, std::chrono::milliseconds timeout) override {
    if (closed_) return LocalIo::kClosed;
    pollfd p{fd_, POLLIN, 0};
    int ready = ::poll(&p, 1, PollMillis(timeout));
    if (ready < 0) return errno == EINTR ? LocalIo::kTimedOut : LocalIo::kFailed;
    if (ready == 0) return LocalIo::kTimedOut;
    char chunk[4096];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      into.append(chunk, static_cast<std::size_t>(n));
      return LocalIo::kOk;
    }
    if (n == 0 || closed_) return LocalIo::kClosed;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return LocalIo::kTimedOut;
    return errno == ECONNRESET ? LocalIo::kClosed : LocalIo::kFailed;
  }

 private:
  int fd_;
  std::atomic<bool> closed_{false};
};

class SocketServer final : public LocalServer {
 public:
  SocketServer(int fd, int wakeRead, int wakeWrite, std::filesystem::path file, std::string channel, dev_t dev,
               ino_t ino)
      : fd_(fd), wakeRead_(wakeRead), wakeWrite_(wakeWrite), file_(std::move(file)), channel_(std::move(channel)),
        dev_(dev), ino_(ino) {}

  ~SocketServer() override {
    ::close(fd_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
    // Only the file this server made: a later server may have replaced it.
    SocketAddress address(file_.parent_path(), channel_);
    struct stat st {};
    if (address.usable() && ::lstat(address.fsPath(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) {
      ::unlink(address.fsPath());
    }
  }

  std::unique_ptr<LocalConnection> Accept() override {
    while (!stopped_) {
      pollfd p[2] = {{fd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
      if (::poll(p, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return nullptr;
      }
      if (stopped_ || (p[1].revents & POLLIN)) return nullptr;
      if (!(p[0].revents & POLLIN)) continue;
      const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;  // the client gave up meanwhile, or no descriptor left for now
      // The file mode keeps other users out; root and anyone who opened the
      // file before its mode was set are checked here too.
      ucred peer{};
      socklen_t len = sizeof peer;
      if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 || peer.uid != ::geteuid()) {
        ::close(client);
        continue;
      }
      return std::make_unique<SocketConnection>(client);
    }
    return nullptr;
  }

  void Shutdown() override {
    stopped_ = true;
    const char byte = 1;
    while (::write(wakeWrite_, &byte, 1) < 0 && errno == EINTR) {
    }
  }

 private:
  int fd_, wakeRead_, wakeWrite_;
  std::filesystem::path file_;
  std::string channel_;
  dev_t dev_;
  ino_t ino_;
  std::atomic<bool> stopped_{false};
};

int NewSocket() { return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0); }

// True when a server accepts connections at `address`.
bool SomebodyListens(const SocketAddress& address) {
  const int fd = NewSocket();
  if (fd < 0) return false;
  const bool connected = ::connect(fd, address.get(), address.size()) == 0;
  ::close(fd);
  return connected;
}

}  // namespace

std::string LocalChannelName(const std::filesystem::path& installDir) {
  return LocalChannelName(installDir, kAutomationChannel);
}
LocalListen ListenLocal(const std::filesystem::path& installDir) { return ListenLocal(installDir, kAutomationChannel); }
LocalConnect ConnectLocal(const std::filesystem::path& installDir) {
  return ConnectLocal(installDir, kAutomationChannel);
}

std::string LocalChannelName(const std::filesystem::path& installDir, std::string_view channel) {
  return (installDir / SocketName(channel)).string();
}

LocalListen ListenLocal(const std::filesystem::path& installDir, std::string_view channel) {
  SocketAddress address(installDir, channel);
  const std::string name = address.file().string();
  if (!address.usable()) return {nullptr, SystemError("cannot reach the directory of " + name)};

  struct stat st {};
  if (::lstat(address.fsPath(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) return {nullptr, name + " exists and is not a socket; it is left alone"};
    if (SomebodyListens(address)) return {nullptr, "another program listens at " + name};
    // Left by a program that ended without removing it.
    if (::unlink(address.fsPath()) != 0 && errno != ENOENT) return {nullptr, SystemError("cannot remove the old " + name)};
  }

  const int fd = NewSocket();
  if (fd < 0) return {nullptr, SystemError("cannot make a socket")};
  auto fail = [&](const std::string& what) {
    LocalListen out{nullptr, SystemError(what)};
    ::close(fd);
    return out;
  };
  if (::bind(fd, address.get(), address.size()) != 0) return fail("cannot make " + name);
  // Nobody can connect before listen, so the mode is right before the first
  // connection is possible, whatever the umask made of it.
  auto failAndRemove = [&](const std::string& what) {
    LocalListen out = fail(what);
    ::unlink(address.fsPath());
    return out;
  };
  if (::chmod(address.fsPath(), 0600) != 0 || ::lstat(address.fsPath(), &st) != 0) {
    return failAndRemove("cannot restrict " + name + " to this user");
  }
  if (::listen(fd, 8) != 0) return failAndRemove("cannot listen at " + name);
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC) != 0) return failAndRemove("cannot make a pipe");
  return {std::make_unique<SocketServer>(fd, wake[0], wake[1], address.file(), std::string(channel), st.st_dev,
                                         st.st_ino),
          {}};
}

LocalConnect ConnectLocal(const std::filesystem::path& installDir, std::string_view channel) {
  SocketAddress address(installDir, channel);
  const std::string name = address.file().string();
  LocalConnect out;
  if (!address.usable()) {
    out.nobodyListens = true;
    out.error = SystemError("cannot reach the directory of " + name);
    return out;
  }
  const int fd = NewSocket();
  if (fd < 0) {
    out.error = SystemError("cannot make a socket");
    return out;
  }
  if (::connect(fd, address.get(), address.size()) != 0) {
    out.nobodyListens = errno == ENOENT || errno == ECONNREFUSED;
    out.error = out.nobodyListens ? "nothing listens at " + name : SystemError("cannot connect to " + name);
    ::close(fd);
    return out;
  }
  out.connection = std::make_unique<SocketConnection>(fd);
  return out;
}

}  // namespace orlin::platform
