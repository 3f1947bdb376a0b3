#include "platform/package_install.h"

#include <unistd.h>

#include <system_error>

#include "platform/install_directory.h"

namespace orlin::platform {

std::vector<std::wstring> SilentInstallCommand(const std::filesystem::path& package,
                                               const std::filesystem::path& programDir) {
  std::error_code ec;
  if (!std::filesystem::exists(programDir / kPerUserInstallMarker, ec)) return {};
  // An absolute path: apt-get takes a word with a slash for a file.
  const std::wstring file = std::filesystem::absolute(package, ec).wstring();
  std::vector<std::wstring> command;
  if (::geteuid() != 0) command.push_back(L"pkexec");
  for (const wchar_t* word : {L"apt-get", L"install", L"-y"}) command.emplace_back(word);
  command.push_back(file);
  return command;
}

}  // namespace orlin::platform
