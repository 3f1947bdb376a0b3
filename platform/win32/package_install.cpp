#include "platform/package_install.h"

namespace orlin::platform {

std::vector<std::wstring> SilentInstallCommand(const std::filesystem::path& package, const std::filesystem::path&) {
  return {package.wstring(), L"/S"};
}

}  // namespace orlin::platform
