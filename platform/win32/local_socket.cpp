#include "platform/local_socket.h"

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cwctype>

namespace orlin::platform {
namespace {

constexpr DWORD kPipeBuffer = 64 * 1024;

// Windows paths compare without case: C:\Orlin and c:\orlin are one install.
std::wstring PipeName(const std::filesystem::path& installDir, std::string_view channel) {
  std::wstring dir = std::filesystem::absolute(installDir).lexically_normal().wstring();
  while (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (wchar_t c : dir) {
    if (c == L'/') c = L'\\';
    hash ^= static_cast<std::uint64_t>(std::towlower(c));
    hash *= 1099511628211ull;
  }
  std::wstring name = LR"(\\.\pipe\orlin-)" + std::wstring(channel.begin(), channel.end()) + L"-";
  for (int shift = 60; shift >= 0; shift -= 4) name.push_back(L"0123456789abcdef"[(hash >> shift) & 0xF]);
  return name;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string SystemError(const std::string& what, DWORD code = ::GetLastError()) {
  return what + " (error " + std::to_string(code) + ")";
}

DWORD WaitMillis(std::chrono::milliseconds timeout) {
  if (timeout.count() <= 0) return 0;
  return static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(timeout.count(), 0x7FFFFFFF));
}

// An access list that lets only the current user in. Null (the default
// access list) when it cannot be built.
class CurrentUserOnly {
 public:
  CurrentUserOnly() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    LPWSTR sidText = nullptr;
    if (size > 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sidText)) {
      // Protected (no inherited entries); generic all for this user alone.
      std::wstring sddl = L"D:P(A;;GA;;;" + std::wstring(sidText) + L")";
      ::LocalFree(sidText);
      if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor_, nullptr)) {
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = descriptor_;
        attributes_.bInheritHandle = FALSE;
      }
    }
    ::CloseHandle(token);
  }
  ~CurrentUserOnly() {
    if (descriptor_) ::LocalFree(descriptor_);
  }
  CurrentUserOnly(const CurrentUserOnly&) = delete;
  CurrentUserOnly& operator=(const CurrentUserOnly&) = delete;
  SECURITY_ATTRIBUTES* get() { return descriptor_ ? &attributes_ : nullptr; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

class Event {
 public:
  Event() : handle_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Event() {
    if (handle_) ::CloseHandle(handle_);
  }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Waits for overlapped I/O on `handle` or for `stop`. kOk with the byte
// count, kClosed when stopped or the other end went, kTimedOut after
// cancelling what was pending.
LocalIo FinishOverlapped(HANDLE handle, OVERLAPPED& ov, BOOL started, HANDLE stop, DWORD millis, DWORD& bytes) {
  if (!started) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED) return LocalIo::kClosed;
    if (error != ERROR_IO_PENDING) return LocalIo::kFailed;
  }
  HANDLE waits[2] = {ov.hEvent, stop};
  const DWORD which = ::WaitForMultipleObjects(2, waits, FALSE, millis);
  if (which != WAIT_OBJECT_0) {
    ::CancelIoEx(handle, &ov);
    // The operation may still have completed before the cancel took hold.
    if (::GetOverlappedResult(handle, &ov, &bytes, TRUE) && bytes > 0 && which != WAIT_OBJECT_0 + 1) return LocalIo::kOk;
    return which == WAIT_OBJECT_0 + 1 ? LocalIo::kClosed : LocalIo::kTimedOut;
  }
  if (!::GetOverlappedResult(handle, &ov, &bytes, FALSE)) {
    const DWORD error = ::GetLastError();
    return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED ? LocalIo::kClosed : LocalIo::kFailed;
  }
  return LocalIo::kOk;
}

class PipeConnection final : public LocalConnection {
 public:
  PipeConnection(HANDLE pipe, bool serverSide) : pipe_(pipe), serverSide_(serverSide) {}
  ~PipeConnection() override {
    if (serverSide_) ::DisconnectNamedPipe(pipe_);
    ::CloseHandle(pipe_);
  }

  LocalIo Write(std::string_view data, std::chrono::milliseconds timeout) override {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!data.empty()) {
      if (closed_) return LocalIo::kClosed;
      Event done;
      OVERLAPPED ov{};
      ov.hEvent = done.get();
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), kPipeBuffer));
      DWORD written = 0;
      const BOOL started = ::WriteFile(pipe_, data.data(), chunk, nullptr, &ov);
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      const LocalIo io = FinishOverlapped(pipe_, ov, started, stop_.get(), WaitMillis(left), written);
      if (io != LocalIo::kOk) return io;
      data.remove_prefix(written);
    }
    return LocalIo::kOk;
  }

  void Shutdown() override {
    closed_ = true;
    ::SetEvent(stop_.get());
  }

 protected:
  LocalIo ReadSome(std::string& into, std::chrono::milliseconds timeout) override {
    if (closed_) return LocalIo::kClosed;
    Event done;
    OVERLAPPED ov{};
    ov.hEvent = done.get();
    char chunk[4096];
    DWORD got = 0;
    const BOOL started = ::ReadFile(pipe_, chunk, sizeof chunk, nullptr, &ov);
    const LocalIo io = FinishOverlapped(pipe_, ov, started, stop_.get(), WaitMillis(timeout), got);
    if (io != LocalIo::kOk) return io;
    if (got == 0) return LocalIo::kTimedOut;
    into.append(chunk, got);
    return LocalIo::kOk;
  }

 private:
  HANDLE pipe_;
  bool serverSide_;
  Event stop_;
  std::atomic<bool> closed_{false};
};

HANDLE NewInstance(const std::wstring& name, bool first, SECURITY_ATTRIBUTES* security) {
  DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
  if (first) openMode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
  return ::CreateNamedPipeW(name.c_str(), openMode, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                            PIPE_UNLIMITED_INSTANCES, kPipeBuffer, kPipeBuffer, 0, security);
}

class PipeServer final : public LocalServer {
 public:
  PipeServer(std::wstring name, HANDLE first) : name_(std::move(name)), waiting_(first) {}
  ~PipeServer() override {
    if (waiting_ != INVALID_HANDLE_VALUE) ::CloseHandle(waiting_);
  }

  std::unique_ptr<LocalConnection> Accept() override {
    while (!stopped_) {
      if (waiting_ == INVALID_HANDLE_VALUE) return nullptr;
      Event done;
      OVERLAPPED ov{};
      ov.hEvent = done.get();
      const BOOL started = ::ConnectNamedPipe(waiting_, &ov);
      bool connected = started != FALSE;
      if (!started) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_PIPE_CONNECTED) {
          connected = true;
        } else if (error == ERROR_IO_PENDING) {
          HANDLE waits[2] = {ov.hEvent, stop_.get()};
          const DWORD which = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
          DWORD unused = 0;
          if (which != WAIT_OBJECT_0) {
            ::CancelIoEx(waiting_, &ov);
            ::GetOverlappedResult(waiting_, &ov, &unused, TRUE);
            return nullptr;
          }
          connected = ::GetOverlappedResult(waiting_, &ov, &unused, FALSE) != FALSE;
        } else if (error == ERROR_NO_DATA) {
          // The client connected and left again before it was seen.
          ::DisconnectNamedPipe(waiting_);
          continue;
        } else {
          return nullptr;
        }
      }
      if (!connected) {
        ::DisconnectNamedPipe(waiting_);
        continue;
      }
      HANDLE client = waiting_;
      // The next instance exists before this one is handed over, so the name
      // never lapses to whoever asks for it next.
      waiting_ = NewInstance(name_, false, security_.get());
      return std::make_unique<PipeConnection>(client, true);
    }
    return nullptr;
  }

  void Shutdown() override {
    stopped_ = true;
    ::SetEvent(stop_.get());
  }

 private:
  std::wstring name_;
  CurrentUserOnly security_;
  HANDLE waiting_;
  Event stop_;
  std::atomic<bool> stopped_{false};
};

}  // namespace

constexpr char kAutomationChannel[] = "automation";

std::string LocalChannelName(const std::filesystem::path& installDir) {
  return LocalChannelName(installDir, kAutomationChannel);
}
LocalListen ListenLocal(const std::filesystem::path& installDir) { return ListenLocal(installDir, kAutomationChannel); }
LocalConnect ConnectLocal(const std::filesystem::path& installDir) {
  return ConnectLocal(installDir, kAutomationChannel);
}

std::string LocalChannelName(const std::filesystem::path& installDir, std::string_view channel) {
  return Narrow(PipeName(installDir, channel));
}

LocalListen ListenLocal(const std::filesystem::path& installDir, std::string_view channel) {
  const std::wstring name = PipeName(installDir, channel);
  // A pipe of that name exists when waiting for it says anything but "not
  // found". FILE_FLAG_FIRST_PIPE_INSTANCE below says the same, where the
  // system honours it (Wine does not always).
  if (::WaitNamedPipeW(name.c_str(), 1) || ::GetLastError() != ERROR_FILE_NOT_FOUND) {
    return {nullptr, "another program listens at " + Narrow(name)};
  }
  CurrentUserOnly security;
  HANDLE first = NewInstance(name, true, security.get());
  if (first == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY) return {nullptr, "another program listens at " + Narrow(name)};
    return {nullptr, SystemError("cannot make " + Narrow(name), error)};
  }
  return {std::make_unique<PipeServer>(name, first), {}};
}

LocalConnect ConnectLocal(const std::filesystem::path& installDir, std::string_view channel) {
  const std::wstring name = PipeName(installDir, channel);
  LocalConnect out;
  for (int attempt = 0; attempt < 10; ++attempt) {
    // Identification only: the server learns who connects but cannot act as
    // this user.
    HANDLE pipe = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      out.connection = std::make_unique<PipeConnection>(pipe, false);
      return out;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
      out.nobodyListens = true;
      out.error = "nothing listens at " + Narrow(name);
      return out;
    }
    if (error != ERROR_PIPE_BUSY) {
      out.error = SystemError("cannot connect to " + Narrow(name), error);
      return out;
    }
    // Between two clients the server has a moment without a free instance.
    ::WaitNamedPipeW(name.c_str(), 2000);
  }
  out.error = "the server at " + Narrow(name) + " stays busy";
  return out;
}

}  // namespace orlin::platform
