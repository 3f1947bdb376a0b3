#pragma once
// The full path of the running executable; its directory is the install
// directory.

#include <filesystem>

namespace orlin::platform {

std::filesystem::path ExecutablePath();

}  // namespace orlin::platform
