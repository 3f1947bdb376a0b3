// The Orlin program from its start to its exit; see program.h. Nothing here
// names a toolkit or a system: the window system comes from the system's
// main (qt/main.cpp, win32/main.cpp).

#include "app/program/program.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "app/controller/engine_controller.h"
#include "app/user_install.h"
#include "common/clock.h"
#include "common/text.h"
#include "common/install_layout.h"
#include "common/message_presenter.h"
#include "platform/crash_dump.h"
#include "platform/executable_path.h"
#include "platform/install_directory.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/program_start.h"
#include "platform/single_instance.h"
#include "platform/window_lookup.h"
#include "shellext/file_manager_entries.h"
#include "shellext/hand_over.h"
#include "shellext/ravel_texts.h"
#include "tools/monitoring/watchdog.h"
#include "ui/dialogs/cp_wnd.h"
#include "ui/dialogs/login_wnd.h"
#include "ui/dialogs/window_message_presenter.h"
#include "ui/dui/automation/automation_server.h"
#include "ui/dui/backend.h"
#include "ui/dui/missing_resources.h"
#include "ui/main/main_window_parts.h"
#include "ui/main/orlin_frame_wnd.h"

namespace orlin::program {
namespace {

// The controller is made before the window that shows its messages exists;
// its messages go to whatever presenter the program has by then.
class ProgramPresenter final : public MessagePresenter {
 public:
  MessagePresenter* target = nullptr;
  int ShowMessage(const std::wstring& title, const std::wstring& key, bool showCancel) override {
    return target ? target->ShowMessage(title, key, showCancel) : kModalCancel;
  }
  void ShowLoginFailure(const std::wstring& detail, bool showCancel) override {
    if (target) target->ShowLoginFailure(detail, showCancel);
  }
};

// Sibling programs carry the program's own extension (".exe" on Windows).
std::wstring Sibling(const std::filesystem::path& program, const std::wstring& name) {
  return name + program.extension().wstring();
}

// The watchdog beside the program, started without arguments; a failure is
// only noted. It is named by its full path, not relative to the current
// directory: an Orlin started by the autostart entry or from another
// folder would otherwise look for it in the wrong place and run unwatched.
void StartWatchdog(const std::filesystem::path& program) {
  const std::filesystem::path watchdog = program.parent_path() / Sibling(program, L"Monitoring");
  if (!platform::StartProgramHidden(watchdog)) std::puts("Monitoring 失败");
}

// The path Orlin was started with, to copy into the sync folder (Ravel
// starts it so when no Orlin runs). Ravel hands it over as one word; an
// older caller's unquoted path arrives as several, which are joined again.
std::wstring StartPath(const std::vector<std::string>& arguments) {
  std::string path;
  for (const auto& word : arguments) {
    if (!path.empty()) path += ' ';
    path += word;
  }
  if (path.empty()) return {};
  // A path given by hand is taken from where it was given.
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(PathFromWide(Utf8ToWide(path)), ec).lexically_normal();
  if (ec) return Utf8ToWide(path);
  if (!absolute.has_filename() && absolute != absolute.root_path()) absolute = absolute.parent_path();
  return WideFromPath(absolute);
}

// A second start with a path hands it to the Orlin that runs, as Ravel
// would: the first start may still be on its way to its main window.
void HandToRunningOrlin(const std::filesystem::path& installDir, const std::wstring& path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    if (auto window = platform::FindMainWindow(ravel::OrlinMainWindow(installDir))) {
      if (!window->LoginWindowShows()) window->SendCopyData(path);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

// "Using Orlin to Synchronize" in the file managers of this user, when
// `ravel` lies beside the program; the language of lang.xml.
void InstallFileManagerEntries(const std::filesystem::path& installDir) {
  const std::filesystem::path ravelProgram = installDir / "ravel";
  std::error_code ec;
  if (!std::filesystem::is_regular_file(ravelProgram, ec)) return;
  const auto run =
      ravel::InstallFileManagerEntries(ravel::EntryPlaces::FromEnvironment(), ravelProgram,
                                       installDir / "res" / "icons" / "128.png",
                                       ravel::ReadLanguage(installDir / "lang.xml"));
  for (const auto& failure : run.failures) std::fprintf(stderr, "orlin: %s\n", failure.c_str());
}

}  // namespace

int RunOrlin(const std::vector<std::string>& arguments, ProgramWindowSystem& windowSystem) {
  const std::filesystem::path program = platform::ExecutablePath();
  const std::filesystem::path installDir = platform::InstallDirectory();
  if (installDir != program.parent_path()) {
    // Installed for every user: the first start lays out this user's
    // directory, later ones bring it up to date with the programs.
    const UserInstallResult laidOut = LayOutUserInstall(program.parent_path(), installDir);
    for (const auto& failure : laidOut.failures) std::fprintf(stderr, "orlin: %s\n", failure.c_str());
    if (!laidOut.ok) return 1;
  }
  platform::InstallCrashHandler(installDir / "dmp");

  // Held for the whole run; a second start finds it taken and ends silently.
  platform::SingleInstanceGuard instance(platform::kInstanceEventName, installDir);
  const std::wstring startPath = StartPath(arguments);
  if (instance.AnotherInstanceRuns()) {
    if (!startPath.empty()) HandToRunningOrlin(installDir, startPath);
    return 0;
  }
  InstallFileManagerEntries(installDir);

  platform::SystemProcessTable processes;
  StartWatchdog(program);

  windowSystem.Start(installDir / "res" / "icons" / "128.png");
  dui::CPaintManagerUI::SetInstance(installDir);
  dui::CPaintManagerUI::SetResourcePath(installDir);

  SystemClock clock;
  ProgramPresenter presenter;

  COrlinFrameWnd* frameWindow = nullptr;
  // What the windows miss of their skins is named in the run log: a window
  // program on Windows has no standard error anybody reads. Reports cross to
  // the UI thread, where the main window's controller lives; those from
  // before the controller exists wait for it.
  std::vector<std::string> runLogWaiting;
  const auto postToUi = windowSystem.UiThreadPost();
  const auto flushRunLog = [&frameWindow, &runLogWaiting] {
    auto* controller = frameWindow ? dynamic_cast<EngineController*>(frameWindow->GetController()) : nullptr;
    if (!controller) return;
    for (const auto& line : runLogWaiting) controller->WriteRunLog(line);
    runLogWaiting.clear();
  };
  dui::SetMissingResourceHandler([postToUi, flushRunLog, &runLogWaiting](const std::string& line) {
    postToUi([line, flushRunLog, &runLogWaiting] {
      runLogWaiting.push_back(line);
      flushRunLog();
    });
  });

  FrameServices services;
  services.makeController = [&](COrlinFrameWnd& window) -> std::unique_ptr<Controller> {
    EngineControllerOptions options;
    options.statusView = &window;
    // A settings apply moving the sync folder copies with the copy window.
    options.folderTakeover = &window;
    // The run log's waiting lines, once the window holds this controller.
    postToUi(flushRunLog);
    return std::make_unique<EngineController>(InstallLayout{installDir}, processes, presenter, clock, &window,
                                              options);
  };
  services.makeLists = [](COrlinFrameWnd& window) {
    return MakeStatusListsPart(window, window, [](const std::filesystem::path& item) {
      return platform::ShowItemInFolder(item);
    });
  };
  services.makeTray = [](COrlinFrameWnd& window) { return MakeTrayMenuPart(window, window); };
  services.runLogin = [](Controller& controller) { return RunLogin(controller); };
  services.presenter = &presenter;
  services.processes = &processes;
  services.installDir = installDir;
  services.updaterFile = Sibling(program, L"AutoUpdater");
  services.startPath = startPath;

  // Messages about the open settings window go over that window (or its child).
  services.showOver = [&frameWindow](dui::WindowImplBase* owner, const std::wstring& key) {
    return ShowMessageWindow(frameWindow, owner, L"Orlin", key, 0);
  };
  // A path from the file manager: the copy window over the main window.
  services.copyIntoSyncFolder = [&frameWindow, &presenter](Controller& controller, const std::wstring& path) {
    return CopyIntoSyncFolder(controller, frameWindow, presenter, path);
  };
  auto frame = std::make_unique<COrlinFrameWnd>(std::move(services));
  frameWindow = frame.get();
  WindowMessagePresenter windowPresenter(frame.get(), frame.get());
  presenter.target = &windowPresenter;
  if (!frame->Create(nullptr, kMainWindowTitle, dui::kWsPopup, 0)) {
    std::fputs("orlin: cannot build the main window from orlin.xml\n", stderr);
    dui::SetMissingResourceHandler(nullptr);
    return 1;
  }
  frame->CenterWindow();

  // orlin-ctl's other end, only when the environment asks for it.
  std::unique_ptr<automation::AutomationServer> automationServer;
  if (automation::AutomationRequested()) {
    automationServer =
        std::make_unique<automation::AutomationServer>(windowSystem.UiThreadPost(), windowSystem.WindowPicture());
    std::string error;
    if (!automationServer->Start(installDir, &error)) {
      std::fprintf(stderr, "orlin: no automation: %s\n", error.c_str());
      automationServer.reset();
    }
  }

  // Where Ravel's paths come in (on Windows WM_COPYDATA reaches the window
  // itself and this receives nothing).
  platform::MailboxHandlers mailboxHandlers;
  mailboxHandlers.postToUi = windowSystem.UiThreadPost();
  mailboxHandlers.loginWindowShows = [] { return dui::WindowImplBase::FindWindow(L"UILoginWnd", L"") != nullptr; };
  mailboxHandlers.copyData = [&frame](const platform::CopyDataMessage& message) {
    return frame->SendMessageW(dui::kWmCopyData, 0, reinterpret_cast<std::intptr_t>(&message));
  };
  // The updater and the uninstaller ask Orlin to exit as its tray's Exit
  // does; no other message is taken from another program.
  mailboxHandlers.windowMessage = [&frame](unsigned message, std::uintptr_t,
                                           std::intptr_t) -> std::optional<std::intptr_t> {
    if (message != kMsgQuit) return std::nullopt;
    return frame->SendMessageW(kMsgQuit, 0, 0);
  };
  platform::MailboxOpen mailbox = platform::OpenMainWindowMailbox(installDir, std::move(mailboxHandlers));
  if (!mailbox.mailbox) std::fprintf(stderr, "orlin: no paths from the file manager: %s\n", mailbox.error.c_str());

  dui::CPaintManagerUI::MessageLoop();
  dui::SetMissingResourceHandler(nullptr);
  // Every way out through here is on purpose (the exit command, a cancelled
  // sign-in, a start-up that gave up): the watchdog must not start Orlin
  // again. The exit command has ended the watchdogs already.
  watchdog::SayCleanExit(installDir);

  if (mailbox.mailbox) mailbox.mailbox->Stop();
  if (automationServer) automationServer->Stop();
  presenter.target = nullptr;
  frame.reset();
  dui::UiBackend::Install(nullptr);
  return 0;
}

}  // namespace orlin::program
