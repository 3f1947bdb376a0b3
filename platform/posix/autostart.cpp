#include "platform/autostart.h"

#include "common/utf/utf.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file_sync.h"

namespace orlin::platform {
namespace fs = std::filesystem;

namespace {

constexpr const char* kAutostartFile = "orlin.desktop";

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool ReadLines(const fs::path& file, std::vector<std::string>& lines) {
  lines.clear();
  std::error_code ec;
  if (!fs::exists(file, ec)) return !ec;
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return !in.bad();
}

bool ReplaceFile(const fs::path& file, const std::string& data) {
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  if (ec) return false;
  fs::path temp = file;
  temp += ".tmp" + std::to_string(CurrentProcessId());
  if (WriteAndSync(temp, data, 0644)) {
    fs::remove(temp, ec);
    return false;
  }
  fs::rename(temp, file, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    return false;
  }
  return true;
}

// The Exec value of a desktop entry that runs `executable` with no
// arguments: the path is always quoted (with `"`, `` ` ``, `$` and `\`
// escaped inside the quotes), `%` is doubled as a field code escape, and the
// backslashes of the result are escaped once more as the entry's string
// syntax wants.
std::string ExecValue(const std::string& executable) {
  std::string quoted = "\"";
  for (char c : executable) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted.push_back('\\');
    if (c == '%') quoted.push_back('%');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  std::string value;
  for (char c : quoted) {
    if (c == '\\') value.push_back('\\');
    value.push_back(c);
  }
  return value;
}

fs::path AutostartPath(const SessionLocation& location) {
  return SessionConfigHome(location) / "autostart" / kAutostartFile;
}

fs::path BookmarksPath(const SessionLocation& location) {
  return SessionConfigHome(location) / "gtk-3.0" / "bookmarks";
}

std::string FileUri(const fs::path& folder) {
  static const char* kHex = "0123456789ABCDEF";
  std::string uri = "file://";
  for (unsigned char c : fs::absolute(folder).lexically_normal().string()) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '.' || c == '_' || c == '~' || c == '/';
    if (keep) {
      uri.push_back(static_cast<char>(c));
    } else {
      uri.push_back('%');
      uri.push_back(kHex[c >> 4]);
      uri.push_back(kHex[c & 0xF]);
    }
  }
  // A trailing slash of a directory path is not part of the bookmark.
  while (uri.size() > 8 && uri.back() == '/') uri.pop_back();
  return uri;
}

// The label of a bookmark line ("URI" or "URI label").
std::string BookmarkLabel(const std::string& line) {
  const auto space = line.find(' ');
  return space == std::string::npos ? std::string{} : line.substr(space + 1);
}

}  // namespace

bool SessionEntriesSupported() { return true; }

fs::path SessionConfigHome(const SessionLocation& location) {
  if (!location.configHome.empty()) return location.configHome;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    if (const passwd* pw = ::getpwuid(::getuid())) home = pw->pw_dir;
  }
  return fs::path(home ? home : "/tmp") / ".config";
}

bool WriteSessionAutostart(const fs::path& executable, const SessionLocation& location) {
  const std::string exe = executable.string();
  if (exe.empty() || HasLineBreak(exe)) return false;
  std::string entry;
  entry += "[Desktop Entry]\n";
  entry += "Type=Application\n";
  entry += "Version=1.0\n";
  entry += "Name=Orlin\n";
  entry += "Comment=Keeps a folder synchronised with the Tarn server\n";
  entry += "Exec=" + ExecValue(exe) + "\n";
  entry += "Terminal=false\n";
  entry += "X-GNOME-Autostart-enabled=true\n";
  return ReplaceFile(AutostartPath(location), entry);
}

bool RemoveSessionAutostart(const SessionLocation& location) {
  std::error_code ec;
  fs::remove(AutostartPath(location), ec);
  return !ec;
}

bool SessionAutostartStarts(const fs::path& executable, const SessionLocation& location) {
  std::vector<std::string> lines;
  if (!ReadLines(AutostartPath(location), lines) || lines.empty()) return false;
  const std::string wanted = "Exec=" + ExecValue(executable.string());
  bool inEntry = false;
  bool startsIt = false;
  for (const auto& line : lines) {
    if (!line.empty() && line.front() == '[') {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (!inEntry) continue;
    // A session manager skips entries that are hidden or switched off.
    if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false") return false;
    if (line == wanted) startsIt = true;
  }
  return startsIt;
}

bool AddFileManagerPlace(const fs::path& folder, const std::wstring& label, const SessionLocation& location) {
  const std::string name = WideToUtf8(label);
  if (folder.empty() || name.empty() || HasLineBreak(name)) return false;
  std::vector<std::string> lines;
  if (!ReadLines(BookmarksPath(location), lines)) return false;
  std::string data;
  for (const auto& line : lines) {
    if (BookmarkLabel(line) != name) data += line + "\n";
  }
  data += FileUri(folder) + " " + name + "\n";
  return ReplaceFile(BookmarksPath(location), data);
}

bool RemoveFileManagerPlace(const std::wstring& label, const SessionLocation& location) {
  const std::string name = WideToUtf8(label);
  std::vector<std::string> lines;
  if (!ReadLines(BookmarksPath(location), lines)) return false;
  std::string data;
  bool changed = false;
  for (const auto& line : lines) {
    if (BookmarkLabel(line) == name) {
      changed = true;
    } else {
      data += line + "\n";
    }
  }
  return !changed || ReplaceFile(BookmarksPath(location), data);
}

bool FileManagerPlaceExists(const std::wstring& label, const SessionLocation& location) {
  const std::string name = WideToUtf8(label);
  std::vector<std::string> lines;
  if (!ReadLines(BookmarksPath(location), lines)) return false;
  for (const auto& line : lines) {
    if (BookmarkLabel(line) == name) return true;
  }
  return false;
}

}  // namespace orlin::platform
