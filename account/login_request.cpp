#include "account/login_request.h"

#include <cstdio>

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
  }
  return {L"versioning_Failed_msg"};
}

}  // namespace orlin
