#include "shellext/hand_over.h"

#include "common/window_messages.h"

namespace orlin::ravel {

platform::MainWindowQuery OrlinMainWindow(const std::filesystem::path& installDir) {
  return {kMainWindowClass, kMainWindowTitle, L"UILoginWnd", installDir};
}

HandOver HandPathToOrlin(const std::wstring& path, const platform::MainWindowQuery& query,
                         const HandOverDesktop& desktop) {
  if (path.empty()) return HandOver::kNoPath;
  if (auto window = desktop.findMainWindow ? desktop.findMainWindow(query) : nullptr) {
    if (window->LoginWindowShows()) return HandOver::kLoginShows;
    return window->SendCopyData(path) ? HandOver::kSent : HandOver::kWindowWentAway;
  }
  return desktop.startOrlin && desktop.startOrlin(path) ? HandOver::kStarted : HandOver::kStartFailed;
}

}  // namespace orlin::ravel
