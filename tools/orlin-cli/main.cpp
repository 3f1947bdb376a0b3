// orlin-cli [--install-dir DIR] <command> [options]
//
// Runs the engine controller's start-up as the program does (the engine is
// stopped, restarted and its settings read), then one command. Messages the
// program would show in its message window are printed on standard error in
// the current language. Exit code 0 on success, 1 on failure.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <sstream>

#include "app/controller/engine_controller.h"
#include "app/user_install.h"
#include "cli.h"
#include "common/install_layout.h"
#include "common/text.h"
#include "engine/engine_process.h"
#include "platform/install_directory.h"
#include "platform/process.h"
#include "platform/program_start.h"
#include "platform/single_instance.h"
#include "ui/dialogs/console_message_presenter.h"

namespace {

using namespace orlin;

constexpr auto kStartUpLimit = std::chrono::minutes(3);

void Usage(std::ostream& out) {
  out << "usage: orlin-cli [--install-dir DIR] COMMAND [OPTIONS]\n"
         "commands:\n"
         "  login --server ADDR --user NAME --folder PATH [--default] [--password PASS]\n"
         "              the password is read from standard input (asked for, and not\n"
         "              shown, at a terminal) when --password is not given; a password\n"
         "              on the command line can be read by every user of this computer\n"
         "  logoff      log off: stop the engine and forget the registration\n"
         "  pause       pause synchronisation\n"
         "  resume      resume synchronisation\n"
         "  refresh     restart, reset and rescan the engine\n"
         "  revert      revert local changes of a receive-only folder\n"
         "  override    override remote changes from a send-only folder\n"
         "  status [--json] [--wait KEY | --for SECONDS] [--timeout SECONDS] [--changes]\n"
         "              poll the engine and print the status, devices and lists;\n"
         "              --wait polls until the status key is KEY (\"Up to date\", say);\n"
         "              --changes prints each change of the status key as it happens;\n"
         "              an engine that ends meanwhile is started again, and a run that\n"
         "              ends while no engine answers fails\n";
}

// The HTTP client writes its debug lines to standard output. The results of
// a command (a JSON document, say) must stay parseable there, so the debug
// lines are moved to standard error and the results keep the original
// standard output for themselves.
class ResultChannel {
 public:
  ResultChannel() {
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    if (saved >= 0) {
      file_ = ::fdopen(saved, "w");
      ::dup2(STDERR_FILENO, STDOUT_FILENO);
    }
  }
  ~ResultChannel() {
    const std::string text = buffer_.str();
    std::FILE* out = file_ != nullptr ? file_ : stdout;
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
    if (file_ != nullptr) std::fclose(file_);
  }
  std::ostream& stream() { return buffer_; }

 private:
  std::FILE* file_ = nullptr;
  std::ostringstream buffer_;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words = platform::ProgramArguments(argc, argv);
  std::filesystem::path installDir = platform::InstallDirectory();
  if (words.size() >= 2 && words[0] == "--install-dir") {
    installDir = std::filesystem::absolute(PathFromWide(Utf8ToWide(words[1])));
    words.erase(words.begin(), words.begin() + 2);
  } else if (installDir != platform::ProgramDirectory()) {
    // Installed for every user: this user's directory may not be laid out yet.
    for (const auto& failure : LayOutUserInstall(platform::ProgramDirectory(), installDir).failures) {
      std::fprintf(stderr, "orlin-cli: %s\n", failure.c_str());
    }
  }
  if (words.empty() || words[0] == "--help" || words[0] == "-h") {
    Usage(words.empty() ? std::cerr : std::cout);
    return words.empty() ? cli::kExitFailed : cli::kExitOk;
  }

  const std::map<std::string, int (*)(cli::Context&)> commands = {
      {"login", cli::Login},   {"logoff", cli::LogOff},   {"pause", cli::Pause},       {"resume", cli::Resume},
      {"refresh", cli::Refresh}, {"revert", cli::Revert}, {"override", cli::Override},
      {"status", cli::Status},
  };
  const auto command = commands.find(words[0]);
  if (command == commands.end()) {
    std::cerr << "orlin-cli: unknown command \"" << words[0] << "\"\n";
    Usage(std::cerr);
    return cli::kExitFailed;
  }

  std::vector<std::string> commandWords(words.begin() + 1, words.end());
  if (words[0] == "login" && !cli::LoginWordsValid(commandWords, std::cerr)) return cli::kExitFailed;
  if (words[0] == "status" && !cli::StatusWordsValid(commandWords, std::cerr)) return cli::kExitFailed;

  platform::SingleInstanceGuard instance(platform::kInstanceEventName, installDir);
  if (instance.AnotherInstanceRuns()) {
    std::cerr << "orlin-cli: Orlin is already running for " << WideToUtf8(WideFromPath(installDir)) << "\n";
    return cli::kExitFailed;
  }
  // Asked before the start-up, which may take a while, not after it.
  if (words[0] == "login" && !cli::ReadLoginPassword(commandWords, std::cerr)) return cli::kExitFailed;

  ResultChannel results;  // outlives the controller, which may still print
  InstallLayout layout{installDir};
  ConsoleMessagePresenter presenter(installDir, std::cerr);
  platform::SystemProcessTable processes;
  SystemClock clock;
  EngineControllerOptions options;
  options.stopEngineOnShutdown = false;  // the engine keeps syncing after we end
  EngineController controller(layout, processes, presenter, clock, nullptr, options);

  controller.Start();
  if (!controller.WaitReady(kStartUpLimit)) {
    std::cerr << "orlin-cli: the engine did not start\n";
    controller.Shutdown();
    return cli::kExitFailed;
  }

  cli::Context context{controller, commandWords, results.stream(), std::cerr};
  const int code = command->second(context);
  controller.Shutdown();
  return code;
}
