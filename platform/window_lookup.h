#pragma once
// Reaching the running Orlin's main window from another process, as Ravel
// (the file-manager extension) does: find the window, tell whether Orlin
// shows its login window, and hand it a path with WM_COPYDATA, waiting until
// the window has answered. The receiving end (MainWindowMailbox) is what the
// program opens so that such a path reaches its main window.
//
// Windows: the window is found with FindWindowW by its class and title, the
// login window by its class; the path travels as WM_COPYDATA through
// SendMessageW, and the window procedure receives it. The mailbox does
// nothing there.
// POSIX: no desktop-wide window list exists, so the install directory's
// local channel "window" (platform/local_socket.h) stands for the window:
// the main window "exists" while the program listens on it, the login
// question and the path are requests on it, and the mailbox turns a path
// into the same WM_COPYDATA handling on the window's UI thread. A path
// crosses as its UTF-16 code units, as WM_COPYDATA carries it, so nothing
// that the window would receive on Windows is lost or changed.
//
// Threads: FindMainWindow and the link's calls block the calling thread
// (SendCopyData until the window answered, which is after its copy window
// closed). The mailbox's handlers run on the UI thread through the post
// function the program gives it.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/utf/utf.h"

namespace orlin::platform {

// What identifies the main window and its login window.
struct MainWindowQuery {
  std::wstring windowClass;  // "UIOrlinFrameWnd"
  std::wstring title;        // "Orlin"
  std::wstring loginClass;   // "UILoginWnd"
  // POSIX: whose channel. Windows: not used (window classes are
  // desktop-wide).
  std::filesystem::path installDir;
  // POSIX: the channel of the install directory that stands for the window:
  // "window" is the main window's, the updater's window is "updater".
  std::string channel = "window";
};

// The payload of WM_COPYDATA, laid out as the system's COPYDATASTRUCT.
struct CopyDataMessage {
  std::uintptr_t dwData = 0;
  std::uint32_t cbData = 0;  // bytes at lpData
  const void* lpData = nullptr;
};

// A main window found by FindMainWindow.
class MainWindowLink {
 public:
  virtual ~MainWindowLink() = default;
  // True while Orlin shows its login window: a path must not be handed over
  // then.
  virtual bool LoginWindowShows() = 0;
  // Sends WM_COPYDATA with wParam 0 and a COPYDATASTRUCT of dwData 0 and
  // `path` as UTF-16 with its terminating NUL (cbData counting it). Returns
  // once the window has handled it: true then; false when the window went
  // away first.
  virtual bool SendCopyData(std::wstring_view path) = 0;
  // Sends a window message of the contract (common/window_messages.h), as
  // SendMessageW does: returns the window's result once it has handled it;
  // nullopt when the window went away first or does not take the message
  // from another program.
  virtual std::optional<std::intptr_t> SendWindowMessage(unsigned message, std::uintptr_t wParam,
                                                         std::intptr_t lParam) {
    return std::nullopt;
  }
};

// The main window of a running Orlin, or null when none runs.
std::unique_ptr<MainWindowLink> FindMainWindow(const MainWindowQuery& query);

// The receiving end in the program.
struct MailboxHandlers {
  // Queues a task for the UI thread. Any thread; never runs it before
  // returning.
  std::function<void(std::function<void()>)> postToUi;
  // On the UI thread: the login window shows.
  std::function<bool()> loginWindowShows;
  // On the UI thread: WM_COPYDATA as the main window handles it; its result
  // is the message result. The message's data lives until it returns.
  std::function<std::intptr_t(const CopyDataMessage&)> copyData;
  // On the UI thread: a window message another program sends (the exit
  // request 2024 of the updater and the uninstaller, the language switch
  // 2026 to the updater's window). Its result is the message result; nullopt
  // refuses the message. Null: every such message is refused.
  std::function<std::optional<std::intptr_t>(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)>
      windowMessage;
};

class MainWindowMailbox {
 public:
  virtual ~MainWindowMailbox() = default;  // Stop
  // Stops receiving and lets every waiting sender go (their window "went
  // away"); a task still queued for the UI thread does nothing when it runs.
  // Returns within about a second; may be called on the UI thread.
  virtual void Stop() = 0;
};

struct MailboxOpen {
  std::unique_ptr<MainWindowMailbox> mailbox;  // null on failure
  std::string error;                           // why, for the log
};

// Opens the mailbox of the main window of `installDir` (POSIX: on
// `channel`, the one a MainWindowQuery of that window names). On Windows it
// receives nothing itself and always opens.
MailboxOpen OpenMainWindowMailbox(const std::filesystem::path& installDir, MailboxHandlers handlers,
                                  std::string_view channel = "window");

// The path a WM_COPYDATA payload carries: UTF-16 up to its first NUL, and
// never past cbData, whatever the sender wrote there (a payload without a
// terminator is read to its end, not beyond).
inline std::wstring CopyDataPath(const CopyDataMessage& message) {
  if (!message.lpData) return {};
  const auto* bytes = static_cast<const unsigned char*>(message.lpData);
  std::u16string units;
  for (std::size_t i = 0; i + 1 < message.cbData; i += 2) {
    // Byte by byte: the sender's buffer need not be aligned. Little-endian,
    // as the system lays out UTF-16.
    const auto unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (unit == 0) break;
    units.push_back(unit);
  }
  return Utf16ToWide(units);
}

}  // namespace orlin::platform
