// The desktop shell on Windows: ShellExecuteW for opening, the shell's own
// "open the folder and select these items" for showing a file.

#include "platform/shell.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <system_error>
#include <vector>

namespace orlin::platform {
namespace {

std::filesystem::path Absolute(const std::filesystem::path& p) {
  std::error_code ec;
  auto abs = std::filesystem::absolute(p, ec);
  return ec ? p : abs.lexically_normal();
}

bool ShellOpen(const std::wstring& target) {
  // ShellExecuteW reports success with a value above 32.
  const auto result = reinterpret_cast<INT_PTR>(
      ::ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

// The shell's selection needs COM on this thread; a thread that already has
// it in another apartment model still may call the shell.
class ComScope {
 public:
  ComScope() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT result_;
};

}  // namespace

std::string FileUri(const std::filesystem::path& absolutePath) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "file:///";
  const std::u8string utf8 = absolutePath.generic_u8string();
  for (char8_t ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '_' || c == '.' || c == '~' || c == '/' || c == ':';
    if (keep) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

bool OpenFolder(const std::filesystem::path& folder) { return ShellOpen(Absolute(folder).wstring()); }

bool ShowItemInFolder(const std::filesystem::path& item) {
  const std::filesystem::path path = Absolute(item);
  // Explorer of the Windows directory, in its folder view with the item
  // selected. The command line starts with the program's own name, as
  // programs read their command lines, and the path is quoted: Explorer
  // splits its switches at commas and blanks, so a name holding either
  // would otherwise select something else.
  wchar_t windows[MAX_PATH + 1] = {};
  const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
  if (length > 0 && length <= MAX_PATH) {
    const std::wstring explorer = std::wstring(windows, length) + L"\\explorer.exe";
    const std::wstring line = L"\"" + explorer + L"\" /e, /select, \"" + path.wstring() + L"\"";
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (::CreateProcessW(explorer.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                         &info)) {
      ::CloseHandle(info.hThread);
      ::CloseHandle(info.hProcess);
      return true;
    }
  }
  {
    ComScope com;
    if (PIDLIST_ABSOLUTE pidl = ::ILCreateFromPathW(path.wstring().c_str())) {
      const HRESULT shown = ::SHOpenFolderAndSelectItems(pidl, 0, nullptr, 0);
      ::ILFree(pidl);
      if (SUCCEEDED(shown)) return true;
    }
  }
  return ShellOpen(path.parent_path().wstring());
}

bool OpenUrl(const std::string& url) {
  auto startsWith = [&url](const char* scheme) {
    const std::size_t n = std::strlen(scheme);
    if (url.size() <= n) return false;
    for (std::size_t i = 0; i < n; ++i) {
      char c = url[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != scheme[i]) return false;
    }
    return true;
  };
  if (!startsWith("https://") && !startsWith("http://")) return false;
  for (unsigned char c : url) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, url.data(), static_cast<int>(url.size()),
                                           nullptr, 0);
  if (length <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, url.data(), static_cast<int>(url.size()), wide.data(), length);
  return ShellOpen(wide);
}

bool StartProgram(const std::filesystem::path& program, const std::vector<std::wstring>& arguments,
                  const std::filesystem::path& workingDirectory) {
  // Each word quoted so the program's command-line parsing gives it back
  // whole (a path with blanks stays one argument; "C:\" keeps its backslash).
  std::wstring parameters;
  for (const auto& argument : arguments) {
    if (!parameters.empty()) parameters.push_back(L' ');
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
      parameters += argument;
      continue;
    }
    parameters.push_back(L'"');
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
      if (c == L'\\') {
        ++backslashes;
        continue;
      }
      parameters.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
      backslashes = 0;
      parameters.push_back(c);
    }
    parameters.append(backslashes * 2, L'\\');
    parameters.push_back(L'"');
  }
  const auto result = reinterpret_cast<INT_PTR>(
      ::ShellExecuteW(nullptr, L"open", program.wstring().c_str(), parameters.empty() ? nullptr : parameters.c_str(),
                      workingDirectory.empty() ? nullptr : workingDirectory.wstring().c_str(), SW_SHOW));
  return result > 32;
}

}  // namespace orlin::platform
