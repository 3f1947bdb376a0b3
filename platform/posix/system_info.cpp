#include "platform/system_info.h"

#include "common/utf/utf.h"

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

namespace orlin::platform {
namespace {

// The value of PRETTY_NAME in an os-release file (shell-style assignment,
// optionally quoted, with backslash escapes inside double quotes).
std::string PrettyNameFrom(const char* file) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    constexpr std::string_view kKey = "PRETTY_NAME=";
    if (line.compare(0, kKey.size(), kKey) != 0) continue;
    std::string value = line.substr(kKey.size());
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r')) value.pop_back();
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      const char quote = value.front();
      std::string unquoted;
      for (std::size_t i = 1; i + 1 < value.size(); ++i) {
        if (quote == '"' && value[i] == '\\' && i + 2 < value.size()) ++i;
        unquoted.push_back(value[i]);
      }
      value = unquoted;
    }
    return value;
  }
  return {};
}

}  // namespace

OsIdentity QueryOsIdentity() {
  OsIdentity id;
  std::string name = PrettyNameFrom("/etc/os-release");
  if (name.empty()) name = PrettyNameFrom("/usr/lib/os-release");
  id.name = Utf8ToWide(name);
  return id;
}

std::wstring ComputerName() {
  char buffer[kComputerNameBufferChars + 1] = {};
  // gethostname cuts a long name silently on some systems: ask for one byte
  // more than the room and treat a name that fills it as too long.
  if (::gethostname(buffer, sizeof buffer) != 0) return {};
  buffer[sizeof buffer - 1] = '\0';
  const std::size_t len = std::strlen(buffer);
  if (len == 0 || len >= kComputerNameBufferChars) return {};
  return Utf8ToWide(std::string(buffer, len));
}

}  // namespace orlin::platform
