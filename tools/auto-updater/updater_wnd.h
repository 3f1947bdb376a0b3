#pragma once
// The updater's window: class "UIAutoUpdaterWnd", always titled "Tarn
// AutoUpdater" (Orlin finds it so to tell it the language). It shows this
// version and the newest one, what is happening in the language of lang.xml
// (and of every 2026 Orlin sends later: wParam 0 English, 1 Chinese), a
// progress bar while the package downloads, Update and Cancel.
//
// As it opens it asks the server; Update downloads, checks and installs
// (updater.h). Cancel stops a download (nothing is kept) and otherwise
// closes the window, as the close button does; while Orlin is being ended
// and the installer runs, neither interrupts it.
//
// Threads: made and run modally on the UI thread. The steps run on the
// window's worker, which updates the controls directly; the window is
// destroyed only after the worker has ended (the destructor cancels and
// joins it).

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "tools/auto-updater/updater.h"
#include "ui/dui/resource_manager.h"
#include "ui/dui/window_impl_base.h"

namespace orlin::update {

// The window's own texts: "Current_Version_Label", "Newest_Version_Label",
// "Update_Btn", "Cancel_Btn", "Close_Btn".
const dui::TextTable& UpdaterTextTable();

class CAutoUpdaterWnd : public dui::WindowImplBase {
 public:
  static constexpr wchar_t kSkin[] = L"updater.xml";
  // WS_POPUP | WS_VISIBLE | WS_CAPTION; the skin draws the title bar.
  static constexpr std::uint32_t kStyle = 0x90C00000u;

  enum class Stage { kChecking, kChecked, kDownloading, kInstalling, kFinished };

  // `language` is the language at the start ("en", "zh_cn").
  CAutoUpdaterWnd(Updater& updater, std::string currentVersion, std::wstring language);
  ~CAutoUpdaterWnd() override;

  std::wstring GetWindowClassName() const override;
  std::wstring GetSkinFile() override { return kSkin; }
  void InitWindow() override;
  void Notify(dui::TNotifyUI& msg) override;
  std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                                    bool& handled) override;
  std::optional<std::wstring> QueryControlText(const std::wstring& id, const std::wstring& type) override;

  Stage CurrentStage() const { return stage_.load(); }
  // The message key the window shows now.
  std::wstring StatusKey() const;
  std::wstring Language() const;

 private:
  void RunCheck();
  void RunUpdate();
  void ShowStatus(const std::wstring& key);
  void SetLanguage(std::wstring language);
  void SetButtons(bool updateEnabled, bool cancelEnabled);
  void StartWorker(void (CAutoUpdaterWnd::*step)());

  Updater& updater_;
  std::string currentVersion_;
  mutable std::mutex mutex_;  // status key and language
  std::wstring statusKey_;
  std::wstring language_;
  std::atomic<Stage> stage_{Stage::kChecking};
  std::jthread worker_;
};

}  // namespace orlin::update
