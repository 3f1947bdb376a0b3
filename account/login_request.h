#pragma once
// What Orlin sends to the Tarn server and how it reads the answers: the
// registration (login) request and the kept-versions setting. Pure rules, no
// I/O; the login flow and the settings apply do the sending.
//
// Both requests are form posts ("application/x-www-form-urlencoded;
// charset=UTF-8") whose values are percent-encoded from their UTF-8 bytes, so
// any user name or password arrives intact.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlin {

inline constexpr wchar_t kRegisterObject[] = L"/apps/orlin/register.php?";
inline constexpr wchar_t kSettingsObject[] = L"/apps/orlin/settings.php?";

// The form encoding of `text`: its UTF-8 bytes, with ASCII letters, digits,
// '-', '_', '.' and '~' unchanged and every other byte as '%' and two
// upper-case hexadecimal digits. The result is plain ASCII.
std::string FormEncode(std::wstring_view text);

// The address kept for later requests: a leading "http:" (7 characters, i.e.
// "http://") or "https:" ("https://") removed, anything else unchanged.
std::wstring StoredServerAddress(std::wstring_view typed);

// The registration URL from the address as typed: without "http:" or
// "https:" anywhere in it, "https://" + address + kRegisterObject; otherwise
// address + kRegisterObject.
std::wstring RegistrationUrl(std::wstring_view typed);

struct RegistrationFields {
  std::wstring userName;
  std::wstring password;
  std::wstring deviceId;      // this computer's engine device ID
  std::wstring osName;        // app/os_name.h; may be empty
  std::wstring computerName;  // platform::ComputerName(); may be empty
};

// The fields for this computer: the operating system and computer names are
// those of the running system.
RegistrationFields RegistrationFieldsForThisComputer(std::wstring userName, std::wstring password,
                                                     std::wstring deviceId);

// "username=U&password=P&deviceid=D&os=O&devicename=N", each value
// form-encoded; plain ASCII.
std::wstring RegistrationBody(const RegistrationFields& fields);

// Every line feed and carriage return removed.
std::wstring RemoveLineBreaks(std::wstring_view text);

// At most this many characters of a server's answer or a transport's error
// text are shown after "Login_Failed_msg"; the whole answer goes to the run
// log.
inline constexpr std::size_t kMaxShownDetailChars = 200;

// `text` made fit for the message window: an HTML page's markup, scripts and
// styles removed and its common entities decoded, control characters
// dropped, every run of white space one blank (a trailing blank stays, as
// the transport's error texts end with one), and cut to
// kMaxShownDetailChars characters followed by "...".
std::wstring ShownDetail(std::wstring_view text);

// True when `id` is an engine device ID the engine will accept: 63
// characters, eight groups of seven from A-Z and 2-7 joined by "-", whose
// 14th, 28th, 42nd and 56th characters (dashes not counted) are the check
// characters of the 13 before them.
bool IsValidDeviceId(std::wstring_view id);

enum class RegistrationVerdict {
  kAccepted,          // the server's device ID
  kRefused,           // begins with "Failed", or is not 63 characters long
  kMalformedDeviceId  // 63 characters but not a device ID the engine accepts
};

struct RegistrationAnswer {
  RegistrationVerdict verdict = RegistrationVerdict::kRefused;
  std::string serverDeviceId;  // set only when accepted; ASCII
};

// Reads the server's answer (line breaks are removed first). Only an accepted
// answer may be written into the engine configuration: a malformed device ID
// there stops the engine from starting.
RegistrationAnswer ParseRegistrationAnswer(std::wstring_view answer);

// ---- What the login does when it fails ---------------------------------------

enum class LoginFailure {
  kTransport,          // no connection, time-out, HTTP status other than 200, unsupported address
  kRefused,            // a refusal, including an answer that is no valid device ID
  kConfigUnreadable,   // the engine configuration cannot take the server, or the account cannot be recorded
  kConfigDamaged,      // the engine configuration exists but is damaged (cut short, not the engine's XML)
};

struct LoginFailureRule {
  LoginFailure failure;
  const wchar_t* messageKey;  // shown over the login window, title "Orlin"; nullptr = no message
  bool withTransportText;     // the request's answer or error text follows the message
  bool showCancel;
  bool writesAccountFiles;    // marker lines, account archive and user entry
  int loginResult;            // what the login operation returns
};

// One row per LoginFailure; nothing is written in any of them, and the
// controller keeps the typed user name, password, address and settings.
const std::vector<LoginFailureRule>& LoginFailureTable();
const LoginFailureRule& LoginFailureRuleFor(LoginFailure failure);

// ---- Kept versions on the server ---------------------------------------------

// At most this many sends while the server does not answer with status 200.
inline constexpr int kVersioningMaxSends = 5;

// "https://" + stored server address + kSettingsObject.
std::wstring VersioningUrl(std::wstring_view storedServer);

struct VersioningFields {
  std::wstring userName;
  std::wstring password;
  std::int32_t versionsKept = 0;
  std::wstring folderId;  // the id of the engine configuration's first folder
};

// "username=U&password=P&versions=V&folderid=F", V in decimal ("%i"), values
// form-encoded; plain ASCII.
std::wstring VersioningBody(const VersioningFields& fields);

// True when the answer, line breaks removed, is exactly "Success".
bool IsVersioningAccepted(std::wstring_view answer);

enum class VersioningExchange {
  kNoCredentials,  // the login marker cannot be read: nothing is sent
  kNoStatus200,    // every send answered with another status
  kInternetError,  // no route, time-out, TLS failure
  kAnswered,       // status 200 and an answer
  kCertificateChanged,  // the server showed another certificate than at login: nothing was sent
};

// The message keys shown, in order, after an exchange (title "Orlin", no
// Cancel).
std::vector<std::wstring> VersioningMessageKeys(VersioningExchange exchange, std::wstring_view answer);

}  // namespace orlin
