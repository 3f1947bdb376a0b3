#pragma once
// A local channel between two processes of this user on this computer,
// named after an install directory so every install has its own: the
// automation of the windows listens on it and orlin-ctl connects to it. A
// small blocking API: a server accepts one client at a time, both sides read
// lines and write bytes with time-outs.
//
// POSIX: a Unix-domain stream socket file "orlin-automation.sock" in the
// install directory, mode 0600 before anyone can connect; a peer running as
// another user is turned away even where the mode would let it in. A socket
// file nobody listens on any more (left by a crash) is replaced; a file that
// is not a socket, or a socket somebody still listens on, is left alone and
// the server is not made.
// Windows: a named pipe "\\.\pipe\orlin-automation-<hash of the install
// directory>" whose first instance the server holds for its whole life
// (nobody can slip in between clients), remote clients rejected, its access
// list granting the current user only (the default access list when that
// cannot be built).
//
// Threads: Accept, ReadLine and Write block the calling thread; Shutdown may
// be called from any thread to wake them. One thread reads a connection at a
// time.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace orlin::platform {

enum class LocalIo {
  kOk,
  kClosed,    // the other side closed, or Shutdown was called
  kTimedOut,  // nothing (or not all) within the time given
  kFailed,    // a system error, or a line longer than allowed
};

struct LocalRead {
  LocalIo status = LocalIo::kFailed;
  std::string line;  // without its "\n" (and a "\r" before it)
};

class LocalConnection {
 public:
  virtual ~LocalConnection() = default;

  // The next line, waiting at most `timeout` for it to be complete. A line
  // longer than `maxBytes` fails the connection.
  LocalRead ReadLine(std::chrono::milliseconds timeout, std::size_t maxBytes = 1 << 20) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (const auto end = buffer_.find('\n'); end != std::string::npos) {
        LocalRead out{LocalIo::kOk, buffer_.substr(0, end)};
        buffer_.erase(0, end + 1);
        if (!out.line.empty() && out.line.back() == '\r') out.line.pop_back();
        return out;
      }
      if (buffer_.size() > maxBytes) return LocalRead{LocalIo::kFailed, {}};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return LocalRead{LocalIo::kTimedOut, {}};
      const LocalIo io = ReadSome(buffer_, left);
      if (io != LocalIo::kOk) return LocalRead{io, {}};
    }
  }

  // Writes all of `data` within `timeout`.
  virtual LocalIo Write(std::string_view data, std::chrono::milliseconds timeout) = 0;

  // Any thread: a blocked read or write returns kClosed, and so does every
  // later one.
  virtual void Shutdown() = 0;

 protected:
  // Appends what arrives within `timeout` (at least one byte on kOk).
  virtual LocalIo ReadSome(std::string& into, std::chrono::milliseconds timeout) = 0;

 private:
  std::string buffer_;
};

class LocalServer {
 public:
  virtual ~LocalServer() = default;  // stops listening (POSIX: removes its socket file)
  // Waits for the next client of this user. Null once Shutdown was called.
  virtual std::unique_ptr<LocalConnection> Accept() = 0;
  // Any thread: wakes Accept; it returns null from then on.
  virtual void Shutdown() = 0;
};

struct LocalListen {
  std::unique_ptr<LocalServer> server;  // null on failure
  std::string error;                    // why, for the log
};

struct LocalConnect {
  std::unique_ptr<LocalConnection> connection;  // null on failure
  bool nobodyListens = false;                   // no server of that install directory runs
  std::string error;
};

// The socket file or pipe name of `installDir`, for messages.
std::string LocalChannelName(const std::filesystem::path& installDir);

LocalListen ListenLocal(const std::filesystem::path& installDir);
LocalConnect ConnectLocal(const std::filesystem::path& installDir);

// Other channels of the same install directory, by name: "orlin-<channel>.sock"
// (POSIX) or "\\.\pipe\orlin-<channel>-<hash>" (Windows), made and guarded
// exactly as the automation's. The functions above are the channel
// "automation". `channel` is a short lower-case word.
std::string LocalChannelName(const std::filesystem::path& installDir, std::string_view channel);
LocalListen ListenLocal(const std::filesystem::path& installDir, std::string_view channel);
LocalConnect ConnectLocal(const std::filesystem::path& installDir, std::string_view channel);

}  // namespace orlin::platform
