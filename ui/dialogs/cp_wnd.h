#pragma once
// The copy progress window: copies a file or a folder's content into a
// folder (the sync folder, or the new sync folder of a move) on a worker of
// its own and shows the file being copied, its progress and the overall
// count. Cancel stops the running file at once and nothing half-written
// stays behind (app/copy_worker.h).
//
// The window ends by itself: with 1 once every file arrived, with 2 once a
// cancel has stopped the copy. When some files could not be copied it stays
// open, so the user sees the count, and OK or Cancel ends it.
//
// Threads: made and run modally on the thread that asks (the UI thread for
// a path from the file manager, the settings apply worker for a folder move).
// The copy worker updates the controls directly; the window is destroyed
// only after the worker has ended (the destructor stops and joins it).

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/controller/controller.h"
#include "app/copy_worker.h"
#include "common/message_presenter.h"
#include "ui/dui/window_impl_base.h"

namespace orlin {

class CCPWnd : public dui::WindowImplBase, private CopyProgressSink {
 public:
  static constexpr wchar_t kClassName[] = L"UICPWnd";
  static constexpr wchar_t kSkin[] = L"cpwnd.xml";
  // WS_POPUP | WS_VISIBLE | WS_CAPTION; the skin draws the title bar.
  static constexpr std::uint32_t kStyle = 0x90C00000u;
  static constexpr int kMaxDpi = 192;

  // Copies `source` into `destination`. The controller gives the DPI and
  // keeps a DPI the screen changes to; it must outlive the window.
  CCPWnd(Controller& controller, std::wstring source, std::wstring destination,
         CopyWorkerOptions options = {});
  ~CCPWnd() override;

  std::wstring GetWindowClassName() const override { return kClassName; }
  std::wstring GetSkinFile() override { return kSkin; }
  void InitWindow() override;
  void Notify(dui::TNotifyUI& msg) override;
  std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                                    bool& handled) override;
  std::optional<std::wstring> QueryControlText(const std::wstring& id, const std::wstring& type) override;

  // After the modal run: how the copy ended (nullopt when it never ran).
  std::optional<CopySummary> Summary() const;

 private:
  void OnCopyProgress(const CopyProgress& progress) override;
  void RunCopy();
  void ApplyDpiAndCaption(int dpi);

  Controller& controller_;
  std::wstring source_;
  std::wstring destination_;
  CopyWorkerOptions options_;
  std::unique_ptr<CopyWorker> worker_;
  std::jthread thread_;
  std::atomic<bool> finished_{false};
  mutable std::mutex summaryMutex_;
  std::optional<CopySummary> summary_;
  dui::Rect skinCaption_;
};

// What the main window does with a path to copy into the sync folder (a path
// the file-manager extension hands over): refuses a path that does not
// exist ("Invalid_directory_Msg") and one that is the sync folder or holds
// it ("SyncFolder_Error_Msg"), runs the copy window over `owner` and tells
// whether every file arrived. A second copy while one runs is dropped (false,
// nothing shown). lang.xml of the instance folder chooses the title.
bool CopyIntoSyncFolder(Controller& controller, dui::WindowImplBase* owner, MessagePresenter& presenter,
                        const std::wstring& source);

// The copy window for a folder move: the content of `from` into `to`, over
// `owner`. True when every file arrived. Refuses (false) while another copy
// window is open.
bool CopyFolderWithWindow(Controller& controller, dui::WindowImplBase* owner, const std::wstring& from,
                          const std::wstring& to);

}  // namespace orlin
