#include "platform/window_lookup.h"

#include <windows.h>

#include <cstddef>

namespace orlin::platform {
namespace {

// The window procedure hands the window layer WM_COPYDATA's lParam as it is:
// the portable payload must be the system's structure.
static_assert(sizeof(CopyDataMessage) == sizeof(COPYDATASTRUCT));
static_assert(offsetof(CopyDataMessage, dwData) == offsetof(COPYDATASTRUCT, dwData));
static_assert(offsetof(CopyDataMessage, cbData) == offsetof(COPYDATASTRUCT, cbData));
static_assert(offsetof(CopyDataMessage, lpData) == offsetof(COPYDATASTRUCT, lpData));

class WindowLink final : public MainWindowLink {
 public:
  WindowLink(HWND window, std::wstring loginClass) : window_(window), loginClass_(std::move(loginClass)) {}

  bool LoginWindowShows() override {
    return !loginClass_.empty() && ::FindWindowW(loginClass_.c_str(), nullptr) != nullptr;
  }

  bool SendCopyData(std::wstring_view path) override {
    // The path with its terminator, in a buffer of its own: the receiver
    // reads up to the NUL.
    std::wstring text(path);
    COPYDATASTRUCT data{};
    data.dwData = 0;
    data.cbData = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    data.lpData = text.data();
    // Synchronous: returns once the window has handled the message, which
    // is after its copy window closed. A window that went meanwhile fails
    // the call.
    ::SetLastError(0);
    ::SendMessageW(window_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    return ::GetLastError() != ERROR_INVALID_WINDOW_HANDLE;
  }

  std::optional<std::intptr_t> SendWindowMessage(unsigned message, std::uintptr_t wParam,
                                                 std::intptr_t lParam) override {
    // A hung window is not waited for without end; a window that works
    // (Orlin's exit sequence, which ends the engine) has a minute.
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(window_, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam),
                               SMTO_ABORTIFHUNG, 60000, &result)) {
      return std::nullopt;
    }
    return static_cast<std::intptr_t>(result);
  }

 private:
  HWND window_;
  std::wstring loginClass_;
};

// WM_COPYDATA reaches the window procedure itself; nothing to receive here.
class WindowProcedureMailbox final : public MainWindowMailbox {
 public:
  void Stop() override {}
};

}  // namespace

std::unique_ptr<MainWindowLink> FindMainWindow(const MainWindowQuery& query) {
  HWND window = ::FindWindowW(query.windowClass.c_str(), query.title.empty() ? nullptr : query.title.c_str());
  if (!window) return nullptr;
  return std::make_unique<WindowLink>(window, query.loginClass);
}

MailboxOpen OpenMainWindowMailbox(const std::filesystem::path&, MailboxHandlers, std::string_view) {
  return {std::make_unique<WindowProcedureMailbox>(), {}};
}

}  // namespace orlin::platform
