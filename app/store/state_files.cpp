#include "app/store/state_files.h"

#include <cerrno>
#include <charconv>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/store/state_cipher.h"
#include "app/store/xml_util.h"
#include "common/atomic_file.h"
#include "common/text.h"

namespace orlin {
namespace fs = std::filesystem;

namespace {

constexpr wchar_t kTitle[] = L"Orlin";
constexpr wchar_t kUserConfigReadFailed[] = L"UserConfig_Failed_Msg";
constexpr wchar_t kUserConfigWriteFailed[] = L"Userconfig_Failed_Msg";
constexpr wchar_t kUserConfigDamaged[] = L"UserConfig_Damaged_Msg";
constexpr wchar_t kLangFailed[] = L"Lang_Failed_Msg";
constexpr wchar_t kSettingFailed[] = L"Setting_Failed_Msg";
constexpr unsigned kCredentialFileMode = 0600;
constexpr char kIgnoreFileName[] = ".stignore";

std::wstring AttributeText(const tinyxml2::XMLElement* element, const char* name) {
  const char* value = element->Attribute(name);
  return value ? Utf8ToWide(value) : std::wstring{};
}

bool HasName(const tinyxml2::XMLElement* entry, const std::wstring& userName) {
  const char* name = entry->Attribute("name");
  return name && Utf8ToWide(name) == userName;
}

// Every element directly below the root counts as a user entry, whatever its
// element name.
tinyxml2::XMLElement* FindUser(tinyxml2::XMLDocument& doc, const std::wstring& userName) {
  for (auto* entry = doc.RootElement()->FirstChildElement(); entry; entry = entry->NextSiblingElement()) {
    if (HasName(entry, userName)) return entry;
  }
  return nullptr;
}

std::string_view TrimBlanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<int> ParseInt(const char* text) {
  if (!text) return std::nullopt;
  const std::string_view digits = TrimBlanks(text);
  int value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

int ClampDpi(int dpi) {
  return dpi < StateFiles::kMinDpi ? StateFiles::kMinDpi : (dpi > StateFiles::kMaxDpi ? StateFiles::kMaxDpi : dpi);
}

std::error_code LastFileError() {
  if (errno != 0) return {errno, std::generic_category()};
  return std::make_error_code(std::errc::io_error);
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find('\n', start);
    std::string line(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

}  // namespace

std::optional<std::wstring> ReadLanguageFile(const fs::path& installDir) {
  StateXmlDocument doc;
  if (!LoadXmlFile(InstallLayout{installDir}.LangFile(), doc)) return std::nullopt;
  const auto* lang = doc.RootElement()->FirstChildElement("lang");
  if (!lang) return std::nullopt;
  const char* text = lang->GetText();
  return text ? Utf8ToWide(text) : std::wstring{};
}

std::wstring NormalizeIgnoreText(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size() + 1);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring_view::npos) end = text.size();
    if (end > start) {
      out.append(text.substr(start, end - start));
      out.push_back(L'\n');
    }
    start = end + 1;
  }
  return out;
}

StateFiles::StateFiles(InstallLayout layout, MessagePresenter& presenter, OwnerWindow* mainWindow)
    : layout_(std::move(layout)), presenter_(presenter), mainWindow_(mainWindow) {}

void StateFiles::Show(const wchar_t* key, bool showCancel) { presenter_.ShowMessage(kTitle, key, showCancel); }

void StateFiles::ShowUserConfigFailure(const wchar_t* key, bool showCancel) {
  // Only a file that can be read but not parsed is damaged; a missing one,
  // or one that parses (the save failed), keeps the message it had.
  std::string content;
  StateXmlDocument doc;
  const bool damaged = ReadWholeFile(layout_.UserConfig(), content) && !LoadXmlFile(layout_.UserConfig(), doc);
  Show(damaged ? kUserConfigDamaged : key, showCancel);
}

void StateFiles::ShowText(const std::wstring& text, bool showCancel) {
  presenter_.ShowMessage(kTitle, text, showCancel);
}

// --- account archive ---------------------------------------------------------

AccountArchive StateFiles::ReadAccountArchive() const { return ReadAccountArchiveFile(layout_.AccountArchive()); }

bool StateFiles::WriteAccountArchive(const AccountArchive& account) {
  return !WriteAccountArchiveFile(layout_.AccountArchive(), account);
}

// --- userconfig.xml ------------------------------------------------------------

std::optional<UserEntry> StateFiles::ReadUserEntry(const std::wstring& userName) {
  StateXmlDocument doc;
  if (!LoadXmlFile(layout_.UserConfig(), doc)) {
    ShowUserConfigFailure(kUserConfigReadFailed, false);
    return std::nullopt;
  }
  const auto* entry = FindUser(doc, userName);
  if (!entry) return std::nullopt;
  return UserEntry{AttributeText(entry, "path"), entry->BoolAttribute("default", false)};
}

bool StateFiles::WriteUserEntry(const std::wstring& userName, const UserEntry& entry) {
  bool ok = false;
  {
    std::lock_guard lock(fileMutex_);
    StateXmlDocument doc;
    if (LoadXmlFile(layout_.UserConfig(), doc)) {
      auto* user = FindUser(doc, userName);
      if (!user) user = doc.RootElement()->InsertNewChildElement("user");
      const std::string name = WideToUtf8(userName);
      const std::string path = WideToUtf8(entry.path);
      user->SetAttribute("name", name.c_str());
      user->SetAttribute("path", path.c_str());
      user->SetAttribute("default", entry.isDefault);
      ok = !SaveXmlFile(doc, layout_.UserConfig());
    }
  }
  if (!ok) ShowUserConfigFailure(kUserConfigWriteFailed, true);
  return ok;
}

bool StateFiles::WriteUserPath(const std::wstring& userName, const std::wstring& path) {
  bool ok = false;
  {
    std::lock_guard lock(fileMutex_);
    StateXmlDocument doc;
    if (LoadXmlFile(layout_.UserConfig(), doc)) {
      ok = true;
      if (auto* user = FindUser(doc, userName)) {
        user->SetAttribute("path", WideToUtf8(path).c_str());
        ok = !SaveXmlFile(doc, layout_.UserConfig());
      }
    }
  }
  if (!ok) ShowUserConfigFailure(kUserConfigWriteFailed, true);
  return ok;
}

bool StateFiles::WriteUserDefault(const std::wstring& userName, bool isDefault) {
  bool ok = false;
  {
    std::lock_guard lock(fileMutex_);
    StateXmlDocument doc;
    if (LoadXmlFile(layout_.UserConfig(), doc)) {
      ok = true;
      if (auto* user = FindUser(doc, userName)) {
        user->SetAttribute("default", isDefault);
        ok = !SaveXmlFile(doc, layout_.UserConfig());
      }
    }
  }
  if (!ok) ShowUserConfigFailure(kUserConfigWriteFailed, true);
  return ok;
}

bool StateFiles::IsPathTakenByAnotherUser(const std::wstring& path, const std::wstring& currentUserName) {
  StateXmlDocument doc;
  if (!LoadXmlFile(layout_.UserConfig(), doc)) {
    ShowUserConfigFailure(kUserConfigWriteFailed, true);
    return false;
  }
  for (const auto* entry = doc.RootElement()->FirstChildElement(); entry; entry = entry->NextSiblingElement()) {
    const char* entryPath = entry->Attribute("path");
    if (!entryPath || Utf8ToWide(entryPath) != path) continue;
    if (!HasName(entry, currentUserName)) return true;
  }
  return false;
}

bool StateFiles::UserHasDefault(const std::wstring& userName) {
  StateXmlDocument doc;
  if (!LoadXmlFile(layout_.UserConfig(), doc)) {
    ShowUserConfigFailure(kUserConfigReadFailed, false);
    return false;
  }
  const auto* entry = FindUser(doc, userName);
  return entry && entry->BoolAttribute("default", false);
}

// --- lang.xml ------------------------------------------------------------------

std::optional<std::wstring> StateFiles::ReadLanguage() {
  StateXmlDocument doc;
  if (!LoadXmlFile(layout_.LangFile(), doc)) {
    Show(kLangFailed, true);
    return std::nullopt;
  }
  const auto* lang = doc.RootElement()->FirstChildElement("lang");
  if (!lang) return std::nullopt;
  const char* text = lang->GetText();
  return text ? Utf8ToWide(text) : std::wstring{};
}

bool StateFiles::WriteLanguage(const std::wstring& language) {
  bool ok = false;
  {
    std::lock_guard lock(fileMutex_);
    StateXmlDocument doc;
    if (LoadXmlFile(layout_.LangFile(), doc)) {
      ok = true;
      if (auto* lang = doc.RootElement()->FirstChildElement("lang")) {
        lang->SetText(WideToUtf8(language).c_str());
        ok = !SaveXmlFile(doc, layout_.LangFile());
      }
    }
  }
  if (!ok) {
    Show(kLangFailed, true);
    return false;
  }
  // The main window reloads every text of its own and of its open windows.
  if (mainWindow_) mainWindow_->Send(kLanguageChangedMessage, language != L"en" ? 1 : 0, 0);
  return true;
}

// --- setting.xml -----------------------------------------------------------------

int StateFiles::ReadDpi(int currentDpi) {
  StateXmlDocument doc;
  if (!LoadXmlFile(layout_.SettingFile(), doc)) {
    Show(kSettingFailed, false);
    return kMinDpi;
  }
  const auto* dpi = FirstChild(FirstChild(doc.RootElement(), "General"), "DPI");
  if (!dpi) return currentDpi;
  const auto value = ParseInt(dpi->GetText());
  return value ? ClampDpi(*value) : currentDpi;
}

bool StateFiles::WriteDpi(int dpi, bool notify) {
  if (dpi < kMinDpi || dpi > kMaxDpi) return false;
  bool ok = false;
  {
    std::lock_guard lock(fileMutex_);
    StateXmlDocument doc;
    if (LoadXmlFile(layout_.SettingFile(), doc)) {
      ok = true;
      if (auto* element = FirstChild(FirstChild(doc.RootElement(), "General"), "DPI")) {
        element->SetText(dpi);
        ok = !SaveXmlFile(doc, layout_.SettingFile());
      }
    }
  }
  if (!ok) {
    Show(kSettingFailed, false);
    return false;
  }
  if (notify && mainWindow_) {
    // Sent first so the main window has rescaled before this returns; the
    // posted copy lets it relayout once the current message is finished.
    mainWindow_->Send(kDpiChangedMessage, static_cast<std::uintptr_t>(dpi), 0);
    mainWindow_->Post(kDpiChangedMessage, static_cast<std::uintptr_t>(dpi), 1);
  }
  return true;
}

bool StateFiles::ReadTaskbarStyle(bool current) {
  StateXmlDocument doc;
  if (!LoadXmlFile(layout_.SettingFile(), doc)) {
    Show(kSettingFailed, false);
    return current;
  }
  const auto* style = FirstChild(FirstChild(doc.RootElement(), "General"), "WndStyles");
  if (!style) return false;
  bool hide = false;
  return style->QueryBoolText(&hide) == tinyxml2::XML_SUCCESS && hide;
}

bool StateFiles::WriteTaskbarStyle(bool hideFromTaskbar) {
  bool ok = false;
  {
    std::lock_guard lock(fileMutex_);
    StateXmlDocument doc;
    if (LoadXmlFile(layout_.SettingFile(), doc)) {
      ok = true;
      if (auto* style = FirstChild(FirstChild(doc.RootElement(), "General"), "WndStyles")) {
        style->SetText(hideFromTaskbar);
        ok = !SaveXmlFile(doc, layout_.SettingFile());
      }
    }
  }
  if (!ok) {
    Show(kSettingFailed, false);
    return false;
  }
  if (taskbarStyleHandler_) taskbarStyleHandler_(hideFromTaskbar);
  return true;
}

// --- .stignore --------------------------------------------------------------------

std::optional<std::wstring> StateFiles::ReadIgnoreText(const fs::path& syncFolder) {
  if (syncFolder.empty()) return std::nullopt;
  const fs::path file = syncFolder / kIgnoreFileName;
  std::error_code ec;
  std::string bytes;
  {
    std::lock_guard lock(fileMutex_);
    if (!fs::exists(file, ec)) ec = WriteFileAtomically(file, {});
    if (!ec) {
      errno = 0;
      if (!ReadWholeFile(file, bytes)) ec = LastFileError();
    }
  }
  if (ec) {
    ShowText(Utf8ToWide(ec.message()), false);
    return std::nullopt;
  }
  std::string_view content = bytes;
  // Hand-edited files may start with a byte-order mark; the engine does not
  // want one and it must not stick to the first pattern.
  if (content.starts_with("\xEF\xBB\xBF")) content.remove_prefix(3);
  return NormalizeIgnoreText(Utf8ToWide(content));
}

bool StateFiles::WriteIgnoreText(const fs::path& syncFolder, const std::wstring& text) {
  const fs::path file = syncFolder / kIgnoreFileName;
  std::error_code ec;
  {
    std::lock_guard lock(fileMutex_);
    if (syncFolder.empty() || !fs::is_regular_file(file, ec)) {
      if (!ec) ec = std::make_error_code(std::errc::no_such_file_or_directory);
    } else {
      ec = WriteFileAtomically(file, WideToUtf8(NormalizeIgnoreText(text)));
    }
  }
  if (ec) {
    ShowText(Utf8ToWide(ec.message()), false);
    return false;
  }
  return true;
}

// --- credentials marker --------------------------------------------------------------

bool StateFiles::MarkerExists() const {
  std::error_code ec;
  return fs::exists(layout_.Marker(), ec);
}

bool StateFiles::CreateMarker(const MarkerLines& lines) {
  const std::string content = StateCipher::Scramble(lines.server, StateCipher::kServerKey) + "\r\n" +
                              StateCipher::Scramble(lines.userName, StateCipher::kUserKey) + "\r\n" +
                              StateCipher::Scramble(lines.password, StateCipher::kPasswordKey);
  return !WriteFileAtomically(layout_.Marker(), content, AtomicWriteOptions{kCredentialFileMode});
}

std::optional<MarkerLines> StateFiles::ReadMarker() const {
  std::string content;
  if (!ReadWholeFile(layout_.Marker(), content)) return std::nullopt;
  const std::vector<std::string> lines = SplitLines(content);
  if (lines.size() < 3) return std::nullopt;
  auto server = StateCipher::Unscramble(lines[0], StateCipher::kServerKey);
  auto user = StateCipher::Unscramble(lines[1], StateCipher::kUserKey);
  auto password = StateCipher::Unscramble(lines[2], StateCipher::kPasswordKey);
  if (!server || !user || !password) return std::nullopt;
  return MarkerLines{std::move(*server), std::move(*user), std::move(*password)};
}

// --- the server's certificate ------------------------------------------------------

bool StateFiles::WriteServerFingerprint(const std::string& fingerprint) {
  std::error_code ec;
  if (fingerprint.empty()) {
    fs::remove(layout_.ServerCertificate(), ec);
    return !ec;
  }
  return !WriteFileAtomically(layout_.ServerCertificate(), fingerprint + "\n",
                              AtomicWriteOptions{kCredentialFileMode});
}

std::string StateFiles::ReadServerFingerprint() const {
  std::string content;
  if (!ReadWholeFile(layout_.ServerCertificate(), content)) return {};
  const std::string_view fingerprint = TrimBlanks(content);
  // Anything but a fingerprint, even nothing at all, must still refuse every
  // certificate.
  return fingerprint.empty() ? std::string("damaged") : std::string(fingerprint);
}

}  // namespace orlin
