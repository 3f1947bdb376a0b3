// The blocking HTTP(S) client over WinInet, with the connection and request
// flags, headers and read sizes the product has always used.

#include "platform/http_client.h"

#include "common/utf/utf.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

namespace orlin::platform {
namespace {

constexpr DWORD kReadChunkBytes = 1024;
constexpr std::size_t kMaxErrorTextChars = 1024;

// The system's message for a WinInet error, cut to 1024 characters.
std::wstring ErrorText(DWORD code) {
  wchar_t buffer[kMaxErrorTextChars + 1] = {};
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                             ::GetModuleHandleW(L"wininet.dll"), code, 0, buffer, kMaxErrorTextChars, nullptr);
  if (n == 0) {
    n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                         kMaxErrorTextChars, nullptr);
  }
  if (n == 0) return L"WinInet error " + std::to_wstring(code);
  std::wstring text(buffer, n);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  return text;
}

HttpExchange::Outcome OutcomeOf(DWORD code) {
  switch (code) {
    case ERROR_INTERNET_TIMEOUT: return HttpExchange::Outcome::kTimedOut;
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_CONNECTION_ABORTED: return HttpExchange::Outcome::kConnectFailed;
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID: return HttpExchange::Outcome::kTlsFailed;
    default: return HttpExchange::Outcome::kTransferFailed;
  }
}

enum class Verb { kGet, kFormPost, kJsonPost };

// The header block split into its lines (CR LF or LF separated), empty lines
// dropped.
std::vector<std::wstring> HeaderLines(const std::wstring& block) {
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  while (start < block.size()) {
    std::size_t end = block.find(L'\n', start);
    if (end == std::wstring::npos) end = block.size();
    std::wstring line = block.substr(start, end - start);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// The announced body length, when the answer has a Content-Length header.
std::optional<unsigned long long> AnnouncedLength(HINTERNET request) {
  wchar_t text[32] = {};
  DWORD size = sizeof text;
  if (!::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return std::nullopt;
  wchar_t* end = nullptr;
  const unsigned long long length = std::wcstoull(text, &end, 10);
  if (end == text) return std::nullopt;
  return length;
}

// Closes the handle it holds on every path out of a request.
struct InetHandle {
  HINTERNET h = nullptr;
  ~InetHandle() {
    if (h != nullptr) ::InternetCloseHandle(h);
  }
};

}  // namespace

struct CHttpClient::Session {
  InetHandle internet;
  std::chrono::milliseconds connectTimeout{0};
  std::chrono::milliseconds receiveTimeout{0};

  int Request(Verb verb, const std::wstring& url, const std::wstring& headers, const std::wstring& body,
              std::wstring& answer, HttpExchange& last);
};

CHttpClient::CHttpClient(std::wstring userAgent) : session_(std::make_unique<Session>()) {
  session_->internet.h = ::InternetOpenW(userAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
}

CHttpClient::~CHttpClient() = default;

int CHttpClient::Get(const std::wstring& url, const std::wstring& headers, std::wstring& answer) {
  return session_->Request(Verb::kGet, url, headers, headers, answer, last_);
}

int CHttpClient::FormPost(const std::wstring& url, const std::wstring& form, std::wstring& answer) {
  return session_->Request(Verb::kFormPost, url, {}, form, answer, last_);
}

int CHttpClient::JsonPost(const std::wstring& url, const std::wstring& headers, const std::wstring& json,
                          std::wstring& answer) {
  return session_->Request(Verb::kJsonPost, url, headers, json, answer, last_);
}

void CHttpClient::SetConnectTimeout(std::chrono::milliseconds timeout) { session_->connectTimeout = timeout; }

void CHttpClient::SetReceiveTimeout(std::chrono::milliseconds timeout) { session_->receiveTimeout = timeout; }

int CHttpClient::Session::Request(Verb verb, const std::wstring& url, const std::wstring& headers,
                                  const std::wstring& body, std::wstring& answer, HttpExchange& last) {
  last = HttpExchange{};
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  wchar_t host[256] = {};
  std::vector<wchar_t> path(url.size() + 2, L'\0');
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path.data();
  parts.dwUrlPathLength = static_cast<DWORD>(path.size());
  wchar_t extra[2048] = {};
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = 2048;
  if (!::InternetCrackUrlW(url.c_str(), 0, 0, &parts) ||
      (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
    return kHttpFailure;  // not attempted: the answer stays as it was
  }
  const bool https = parts.nScheme == INTERNET_SCHEME_HTTPS;
  const std::wstring object = std::wstring(path.data()) + extra;

  const auto connectLimit = connectTimeout.count() > 0 ? connectTimeout
                            : verb == Verb::kFormPost  ? CHttpClient::kFormPostConnectTimeout
                                                       : CHttpClient::kDefaultConnectTimeout;
  const auto receiveLimit = receiveTimeout.count() > 0 ? receiveTimeout : CHttpClient::kDefaultReceiveTimeout;

  // Wine reports a send or read that waited out the whole stall limit as an
  // aborted connection where Windows reports a time-out; both count as one.
  auto waitStarted = std::chrono::steady_clock::now();
  auto fail = [&](DWORD code, std::optional<HttpExchange::Outcome> outcome = std::nullopt) {
    if (code == ERROR_INTERNET_CONNECTION_ABORTED && !outcome &&
        std::chrono::steady_clock::now() - waitStarted >= receiveLimit) {
      code = ERROR_INTERNET_TIMEOUT;
    }
    last.outcome = outcome ? *outcome : OutcomeOf(code);
    last.errorText = ErrorText(code);
    answer = verb == Verb::kGet ? std::wstring(L"CInternetException\n") : last.errorText + L" ";
    return code == ERROR_INTERNET_TIMEOUT ? kHttpTimeout : kHttpFailure;
  };
  if (internet.h == nullptr) return fail(::GetLastError());

  DWORD value = static_cast<DWORD>(connectLimit.count());
  ::InternetSetOptionW(internet.h, INTERNET_OPTION_CONNECT_TIMEOUT, &value, sizeof value);
  value = static_cast<DWORD>(receiveLimit.count());
  ::InternetSetOptionW(internet.h, INTERNET_OPTION_RECEIVE_TIMEOUT, &value, sizeof value);
  ::InternetSetOptionW(internet.h, INTERNET_OPTION_SEND_TIMEOUT, &value, sizeof value);

  const DWORD connectionFlags = INTERNET_FLAG_KEEP_CONNECTION | (https ? INTERNET_FLAG_SECURE : 0);
  InetHandle connection;
  connection.h = ::InternetConnectW(internet.h, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP,
                                    connectionFlags, 1);
  if (connection.h == nullptr) return fail(::GetLastError());

  DWORD requestFlags = connectionFlags;
  if (verb != Verb::kFormPost) {
    requestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    if (https) requestFlags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
  }
  InetHandle request;
  request.h = ::HttpOpenRequestW(connection.h, verb == Verb::kGet ? L"GET" : L"POST", object.c_str(), nullptr,
                                 nullptr, nullptr, requestFlags, 1);
  if (request.h == nullptr) return fail(::GetLastError());
  // The stall limits are set on the request as well: Wine's WinInet does not
  // pass the session's receive and send limits on to its requests.
  value = static_cast<DWORD>(receiveLimit.count());
  ::InternetSetOptionW(request.h, INTERNET_OPTION_RECEIVE_TIMEOUT, &value, sizeof value);
  ::InternetSetOptionW(request.h, INTERNET_OPTION_SEND_TIMEOUT, &value, sizeof value);

  std::wstring headerText;
  if (verb == Verb::kFormPost) {
    DWORD security = 0;
    DWORD size = sizeof security;
    if (::InternetQueryOptionW(request.h, INTERNET_OPTION_SECURITY_FLAGS, &security, &size)) {
      security |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
      ::InternetSetOptionW(request.h, INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security);
    }
    headerText = L"Content-Type: application/x-www-form-urlencoded; charset=UTF-8\r\n";
  } else if (verb == Verb::kJsonPost) {
    headerText = L"Accept: */*,application/json\r\nContent-Type:application/json\r\n" + headers;
  } else {
    headerText = headers;
  }
  // One line at a time: a line refused because its header is already there
  // (the caller's Content-Type after ours) must not drop the lines after it,
  // which WinInet does when it is handed the whole block.
  for (const std::wstring& line : HeaderLines(headerText)) {
    ::HttpAddRequestHeadersW(request.h, line.c_str(), static_cast<DWORD>(line.size()), HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  }

  std::string bodyBytes = WideToUtf8(body);
  waitStarted = std::chrono::steady_clock::now();
  if (!::HttpSendRequestW(request.h, nullptr, 0, bodyBytes.empty() ? nullptr : bodyBytes.data(),
                          static_cast<DWORD>(bodyBytes.size()))) {
    return fail(::GetLastError());
  }

  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::HttpQueryInfoW(request.h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    return fail(::GetLastError());
  }
  if (status == 0) {
    // A connection closed before a status line arrived: WinInet may take
    // that for a bare answer without headers. It is no answer at all.
    return fail(ERROR_HTTP_INVALID_SERVER_RESPONSE, HttpExchange::Outcome::kTransferFailed);
  }
  last.httpStatus = static_cast<int>(status);
  if (verb != Verb::kFormPost) {
    std::printf("HTTP_STATUS_code:%d\n", static_cast<int>(status));
    std::fflush(stdout);
  }

  std::string bytes;
  char buffer[kReadChunkBytes + 1];
  for (;;) {
    std::fill(buffer, buffer + sizeof buffer, '\0');
    DWORD read = 0;
    waitStarted = std::chrono::steady_clock::now();
    if (!::InternetReadFile(request.h, buffer, kReadChunkBytes, &read)) return fail(::GetLastError());
    if (read == 0) break;
    if (bytes.size() + read > CHttpClient::kMaxAnswerBytes) {
      last.outcome = HttpExchange::Outcome::kTooLarge;
      last.errorText = L"answer too large";
      answer = verb == Verb::kGet ? std::wstring(L"CInternetException\n") : last.errorText + L" ";
      return kHttpFailure;
    }
    bytes.append(buffer, read);
  }
  // WinInet ends the read quietly when the server closes early; an answer
  // shorter than it announced is a broken transfer, not a short success.
  if (const auto announced = AnnouncedLength(request.h); announced && bytes.size() < *announced) {
    return fail(ERROR_INTERNET_CONNECTION_ABORTED, HttpExchange::Outcome::kTransferFailed);
  }
  answer = Utf8ToWide(bytes);
  last.outcome = HttpExchange::Outcome::kAnswered;
  return status == 200 ? kHttpSuccess : kHttpFailure;
}

}  // namespace orlin::platform
