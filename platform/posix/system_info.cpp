#include "platform/system_info.h"

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

namespace orlin::platform {
namespace {

// os-release is plain ASCII in practice; other bytes are taken as Latin-1
// rather than dropped so the name stays recognisable.
std::wstring Widen(const std::string& s) {
  std::wstring out;
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    int extra = b0 < 0x80 ? 0 : (b0 & 0xE0) == 0xC0 ? 1 : (b0 & 0xF0) == 0xE0 ? 2 : (b0 & 0xF8) == 0xF0 ? 3 : -1;
    char32_t cp = extra == 0 ? b0 : extra == 1 ? (b0 & 0x1F) : extra == 2 ? (b0 & 0x0F) : (b0 & 0x07);
    bool ok = extra >= 0 && i + static_cast<std::size_t>(extra) < s.size();
    for (int k = 1; ok && k <= extra; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      ok = (b & 0xC0) == 0x80;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (!ok) {
      out.push_back(static_cast<wchar_t>(b0));
      ++i;
      continue;
    }
    out.push_back(static_cast<wchar_t>(cp));
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

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
  id.name = Widen(name);
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
  return Widen(std::string(buffer, len));
}

}  // namespace orlin::platform
