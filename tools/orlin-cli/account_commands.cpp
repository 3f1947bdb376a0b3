// login and logoff.

#include <filesystem>
#include <optional>
#include <iostream>

#include "cli.h"
#include "common/text.h"
#include "platform/console.h"

namespace orlin::cli {

namespace {

// The login window only offers folders that exist; here the folder is made
// when it does not. Nothing when it cannot be a folder.
std::optional<std::filesystem::path> PrepareFolder(const std::string& folder, std::ostream& err) {
  std::error_code error;
  const auto folderPath = std::filesystem::absolute(PathFromWide(Utf8ToWide(folder)), error);
  std::filesystem::create_directories(folderPath, error);
  if (!std::filesystem::is_directory(folderPath, error)) {
    err << "orlin-cli login: cannot use the folder " << WideToUtf8(WideFromPath(folderPath)) << "\n";
    return std::nullopt;
  }
  return folderPath;
}

bool RequiredWordsGiven(const std::vector<std::string>& args, std::ostream& err) {
  for (const char* name : {"--server", "--user", "--folder"}) {
    if (OptionValue(args, name).empty()) {
      err << "orlin-cli login: --server, --user and --folder are required\n";
      return false;
    }
  }
  return true;
}

}  // namespace

bool LoginWordsValid(const std::vector<std::string>& args, std::ostream& err) {
  return RequiredWordsGiven(args, err) && PrepareFolder(OptionValue(args, "--folder"), err).has_value();
}

bool ReadLoginPassword(std::vector<std::string>& args, std::ostream& err) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "--password") return true;
  }
  const auto password = platform::ReadSecretLine("Password for " + OptionValue(args, "--user") + ": ");
  if (!password) {
    err << "orlin-cli login: no password: type it when asked, or hand it over standard input\n";
    return false;
  }
  args.push_back("--password");
  args.push_back(*password);
  return true;
}

int Login(Context& context) {
  const std::string server = OptionValue(context.args, "--server");
  const std::string user = OptionValue(context.args, "--user");
  const std::string password = OptionValue(context.args, "--password");
  const std::string folder = OptionValue(context.args, "--folder");
  if (!RequiredWordsGiven(context.args, context.err)) return kExitFailed;
  const auto folderPath = PrepareFolder(folder, context.err);
  if (!folderPath) return kExitFailed;

  LoginRequest request;
  request.server = Utf8ToWide(server);
  request.userName = Utf8ToWide(user);
  request.password = Utf8ToWide(password);
  request.syncFolder = WideFromPath(*folderPath);
  request.makeDefault = HasFlag(context.args, "--default");

  const LoginOutcome outcome = context.controller.Login(request);
  if (outcome.result != 1) return kExitFailed;
  context.out << "logged in as " << user << " on " << WideToUtf8(outcome.storedServer) << "; server device "
              << outcome.serverDeviceId << "\n";
  return kExitOk;
}

int LogOff(Context& context) {
  if (!context.controller.LogOff()) {
    context.err << "orlin-cli logoff: the engine's files could not all be removed\n";
    return kExitFailed;
  }
  context.out << "logged off\n";
  return kExitOk;
}

}  // namespace orlin::cli
