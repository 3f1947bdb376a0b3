#include "account/login_request.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/store/os_name.h"
#include "common/text.h"
#include "platform/system_info.h"

namespace orlin {
namespace {

constexpr std::wstring_view kDeviceIdAlphabet = L"ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
constexpr std::size_t kDeviceIdLength = 63;

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// The engine's check character of a group of 13 (Luhn mod 32 over the
// base-32 alphabet); -1 when a character is outside the alphabet.
int CheckCharacter(std::wstring_view group) {
  int factor = 1;
  int sum = 0;
  for (wchar_t c : group) {
    const auto pos = kDeviceIdAlphabet.find(c);
    if (pos == std::wstring_view::npos) return -1;
    int addend = factor * static_cast<int>(pos);
    factor = factor == 2 ? 1 : 2;
    sum += addend / 32 + addend % 32;
  }
  return (32 - sum % 32) % 32;
}

}  // namespace

std::string FormEncode(std::wstring_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : WideToUtf8(text)) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '_' || c == '.' || c == '~';
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

std::wstring StoredServerAddress(std::wstring_view typed) {
  if (StartsWith(typed, L"http:")) return std::wstring(typed.substr(std::min<std::size_t>(7, typed.size())));
  if (StartsWith(typed, L"https:")) return std::wstring(typed.substr(std::min<std::size_t>(8, typed.size())));
  return std::wstring(typed);
}

std::wstring RegistrationUrl(std::wstring_view typed) {
  const bool hasScheme =
      typed.find(L"http:") != std::wstring_view::npos || typed.find(L"https:") != std::wstring_view::npos;
  return (hasScheme ? L"" : L"https://") + std::wstring(typed) + kRegisterObject;
}

RegistrationFields RegistrationFieldsForThisComputer(std::wstring userName, std::wstring password,
                                                     std::wstring deviceId) {
  return {std::move(userName), std::move(password), std::move(deviceId), OperatingSystemName(),
          platform::ComputerName()};
}

std::wstring RegistrationBody(const RegistrationFields& fields) {
  return Widen("username=" + FormEncode(fields.userName) + "&password=" + FormEncode(fields.password) +
               "&deviceid=" + FormEncode(fields.deviceId) + "&os=" + FormEncode(fields.osName) +
               "&devicename=" + FormEncode(fields.computerName));
}

std::wstring RemoveLineBreaks(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    if (c != L'\n' && c != L'\r') out.push_back(c);
  }
  return out;
}

namespace {

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

bool StartsWithIgnoreCase(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

// The character an entity at the start of `text` stands for, and its length.
std::pair<wchar_t, std::size_t> Entity(std::wstring_view text) {
  static constexpr std::pair<std::wstring_view, wchar_t> kNamed[] = {
      {L"&amp;", L'&'}, {L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&quot;", L'"'}, {L"&apos;", L'\''}, {L"&nbsp;", L' '}};
  for (const auto& [name, c] : kNamed) {
    if (StartsWithIgnoreCase(text, name)) return {c, name.size()};
  }
  if (text.starts_with(L"&#")) {
    const std::size_t end = text.find(L';');
    if (end != std::wstring_view::npos && end > 2 && end < 12) {
      const bool hex = text[2] == L'x' || text[2] == L'X';
      unsigned long value = 0;
      bool digits = true;
      for (const wchar_t c : text.substr(hex ? 3 : 2, end - (hex ? 3 : 2))) {
        int d = -1;
        if (c >= L'0' && c <= L'9') d = c - L'0';
        else if (hex && c >= L'a' && c <= L'f') d = c - L'a' + 10;
        else if (hex && c >= L'A' && c <= L'F') d = c - L'A' + 10;
        if (d < 0) digits = false;
        value = value * (hex ? 16 : 10) + static_cast<unsigned long>(d < 0 ? 0 : d);
      }
      if (digits && value > 0 && value < 0xD800) return {static_cast<wchar_t>(value), end + 1};
    }
  }
  return {L'&', 1};
}

}  // namespace

std::wstring ShownDetail(std::wstring_view text) {
  std::wstring plain;
  plain.reserve(std::min<std::size_t>(text.size(), 4 * kMaxShownDetailChars));
  std::size_t i = 0;
  // Enough plain text is gathered to fill the shown length; the rest of a
  // large page is never looked at.
  while (i < text.size() && plain.size() < 4 * kMaxShownDetailChars) {
    const wchar_t c = text[i];
    if (c == L'<' && i + 1 < text.size() && (IsAsciiLetter(text[i + 1]) || text[i + 1] == L'/' || text[i + 1] == L'!' || text[i + 1] == L'?')) {
      const std::wstring_view rest = text.substr(i + 1);
      std::size_t end = text.find(L'>', i);
      if (end == std::wstring_view::npos) break;  // a tag cut short: the rest is markup
      // Scripts and styles are no text for a reader.
      for (const std::wstring_view element : {std::wstring_view(L"script"), std::wstring_view(L"style")}) {
        if (StartsWithIgnoreCase(rest, element)) {
          const std::wstring closing = L"</" + std::wstring(element);
          std::size_t close = std::wstring::npos;
          for (std::size_t at = end; at + closing.size() <= text.size(); ++at) {
            if (StartsWithIgnoreCase(text.substr(at), closing)) {
              close = at;
              break;
            }
          }
          end = close == std::wstring::npos ? text.size() - 1 : text.find(L'>', close);
          if (end == std::wstring_view::npos) end = text.size() - 1;
          break;
        }
      }
      plain.push_back(L' ');  // a tag separates words
      i = end + 1;
      continue;
    }
    if (c == L'&') {
      const auto [decoded, length] = Entity(text.substr(i));
      plain.push_back(decoded);
      i += length;
      continue;
    }
    plain.push_back(c);
    ++i;
  }

  std::wstring shown;
  bool blank = false;
  for (const wchar_t c : plain) {
    const bool space = c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f' || c == L'\v';
    if (space) {
      blank = !shown.empty();
      continue;
    }
    if (c < 0x20 || c == 0x7F) continue;
    if (blank) shown.push_back(L' ');
    blank = false;
    shown.push_back(c);
  }
  if (shown.size() > kMaxShownDetailChars) {
    shown.resize(kMaxShownDetailChars);
    // A character outside the basic plane must not lose its second half.
    if (sizeof(wchar_t) == 2 && shown.back() >= 0xD800 && shown.back() <= 0xDBFF) shown.pop_back();
    return shown + L"...";
  }
  // The transport's error texts end with a blank, which is part of them.
  if (!shown.empty() && !text.empty() && text.back() == L' ') shown.push_back(L' ');
  return shown;
}

bool IsValidDeviceId(std::wstring_view id) {
  if (id.size() != kDeviceIdLength) return false;
  std::wstring plain;
  for (std::size_t i = 0; i < id.size(); ++i) {
    if (i % 8 == 7) {
      if (id[i] != L'-') return false;
      continue;
    }
    if (kDeviceIdAlphabet.find(id[i]) == std::wstring_view::npos) return false;
    plain.push_back(id[i]);
  }
  // 56 characters: four groups of 13 followed by their check character.
  for (std::size_t g = 0; g < 4; ++g) {
    const std::wstring_view group = std::wstring_view(plain).substr(g * 14, 13);
    const int check = CheckCharacter(group);
    if (check < 0 || plain[g * 14 + 13] != kDeviceIdAlphabet[static_cast<std::size_t>(check)]) return false;
  }
  return true;
}

RegistrationAnswer ParseRegistrationAnswer(std::wstring_view answer) {
  const std::wstring text = RemoveLineBreaks(answer);
  if (StartsWith(text, L"Failed") || text.size() != kDeviceIdLength) return {RegistrationVerdict::kRefused, {}};
  if (!IsValidDeviceId(text)) return {RegistrationVerdict::kMalformedDeviceId, {}};
  return {RegistrationVerdict::kAccepted, std::string(text.begin(), text.end())};
}

const std::vector<LoginFailureRule>& LoginFailureTable() {
  static const std::vector<LoginFailureRule> table = {
      {LoginFailure::kTransport, L"Login_Failed_msg", true, false, false, 0},
      {LoginFailure::kRefused, L"Login_Failed_msg", false, true, false, 0},
      // Without the server in the engine configuration nothing would ever
      // sync, so the login fails instead of recording an account.
      {LoginFailure::kConfigUnreadable, L"SyncConfig_Failed_Msg", false, false, false, 0},
      {LoginFailure::kConfigDamaged, L"SyncConfig_Damaged_Msg", false, false, false, 0},
  };
  return table;
}

const LoginFailureRule& LoginFailureRuleFor(LoginFailure failure) {
  for (const auto& rule : LoginFailureTable()) {
    if (rule.failure == failure) return rule;
  }
  return LoginFailureTable().front();
}

std::wstring VersioningUrl(std::wstring_view storedServer) {
  return L"https://" + std::wstring(storedServer) + kSettingsObject;
}

std::wstring VersioningBody(const VersioningFields& fields) {
  char versions[16];
  std::snprintf(versions, sizeof versions, "%i", static_cast<int>(fields.versionsKept));
  return Widen("username=" + FormEncode(fields.userName) + "&password=" + FormEncode(fields.password) +
               "&versions=" + versions + "&folderid=" + FormEncode(fields.folderId));
}

bool IsVersioningAccepted(std::wstring_view answer) { return RemoveLineBreaks(answer) == L"Success"; }

std::vector<std::wstring> VersioningMessageKeys(VersioningExchange exchange, std::wstring_view answer) {
  switch (exchange) {
    case VersioningExchange::kNoCredentials:
      return {};
    case VersioningExchange::kNoStatus200:
      return {L"Connect_Server_Failed_msg", L"versioning_Failed_msg"};
    case VersioningExchange::kInternetError:
      return {L"versioning_Failed_msg"};
    case VersioningExchange::kAnswered:
      return {IsVersioningAccepted(answer) ? L"versioning_Success_msg" : L"versioning_Failed_msg"};
    case VersioningExchange::kCertificateChanged:
      return {L"ServerCert_Changed_Msg", L"versioning_Failed_msg"};
  }
  return {L"versioning_Failed_msg"};
}

}  // namespace orlin
