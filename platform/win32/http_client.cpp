// The blocking HTTP(S) client over WinInet, with the connection and request
// flags, headers and read sizes the product has always used.

#include "platform/http_client.h"

#include "common/utf/utf.h"

#include <windows.h>
#include <wincrypt.h>
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

enum class Verb { kGet, kFormPost, kJsonPost, kDownload };

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

struct CrackedUrl {
  bool https = false;
  std::wstring host;  // lower case
  INTERNET_PORT port = 0;
  std::wstring object;  // path and query
};

// The parts of an absolute http or https URL; nothing for any other.
std::optional<CrackedUrl> Crack(const std::wstring& url) {
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  wchar_t host[256] = {};
  std::vector<wchar_t> path(url.size() + 2, L'\0');
  std::vector<wchar_t> extra(url.size() + 2, L'\0');
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path.data();
  parts.dwUrlPathLength = static_cast<DWORD>(path.size());
  parts.lpszExtraInfo = extra.data();
  parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
  if (!::InternetCrackUrlW(url.c_str(), 0, 0, &parts) ||
      (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) || host[0] == L'\0') {
    return std::nullopt;
  }
  CrackedUrl cracked;
  cracked.https = parts.nScheme == INTERNET_SCHEME_HTTPS;
  cracked.host = host;
  for (wchar_t& c : cracked.host) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  cracked.port = parts.nPort;
  cracked.object = std::wstring(path.data()) + extra.data();
  return cracked;
}

bool IsRedirectStatus(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The rule of the header: https, and the server the request went to.
bool MayFollow(const CrackedUrl& from, const std::optional<CrackedUrl>& to) {
  return to && to->https && to->host == from.host;
}

// The absolute address a redirection names, resolved against `base`.
std::optional<std::wstring> RedirectTarget(HINTERNET request, const std::wstring& base) {
  DWORD size = 0;
  ::HttpQueryInfoW(request, HTTP_QUERY_LOCATION, nullptr, &size, nullptr);
  if (size == 0) return std::nullopt;
  std::vector<wchar_t> location(size / sizeof(wchar_t) + 1, L'\0');
  if (!::HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location.data(), &size, nullptr)) return std::nullopt;
  DWORD length = static_cast<DWORD>(base.size() + location.size() + 64);
  std::vector<wchar_t> combined(length, L'\0');
  if (!::InternetCombineUrlW(base.c_str(), location.data(), combined.data(), &length, 0)) {
    combined.resize(length + 1, L'\0');
    if (!::InternetCombineUrlW(base.c_str(), location.data(), combined.data(), &length, 0)) return std::nullopt;
  }
  return std::wstring(combined.data());
}

// The DER form of the certificate the server of `request` showed; empty
// when WinInet cannot tell.
std::string ServerCertificateOf(HINTERNET request) {
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  DWORD size = sizeof chain;
  if (!::InternetQueryOptionW(request, INTERNET_OPTION_SERVER_CERT_CHAIN_CONTEXT, &chain, &size) || chain == nullptr) {
    return {};
  }
  std::string der;
  if (chain->cChain > 0 && chain->rgpChain[0]->cElement > 0) {
    const CERT_CONTEXT* certificate = chain->rgpChain[0]->rgpElement[0]->pCertContext;
    der.assign(reinterpret_cast<const char*>(certificate->pbCertEncoded), certificate->cbCertEncoded);
  }
  ::CertFreeCertificateChain(chain);
  return der;
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
  std::chrono::milliseconds overallTimeout{0};
  CertificateCheck certificateCheck;

  int Request(Verb verb, const std::wstring& url, const std::wstring& headers, const std::wstring& body,
              std::wstring& answer, HttpExchange& last, const DownloadSink* download = nullptr);
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

int CHttpClient::Download(const std::wstring& url, const DownloadSink& sink, std::wstring& answer) {
  return session_->Request(Verb::kDownload, url, {}, {}, answer, last_, &sink);
}

void CHttpClient::SetConnectTimeout(std::chrono::milliseconds timeout) { session_->connectTimeout = timeout; }

void CHttpClient::SetReceiveTimeout(std::chrono::milliseconds timeout) { session_->receiveTimeout = timeout; }

void CHttpClient::SetOverallTimeout(std::chrono::milliseconds timeout) { session_->overallTimeout = timeout; }

void CHttpClient::SetCertificateCheck(CertificateCheck check) { session_->certificateCheck = std::move(check); }

int CHttpClient::Session::Request(Verb verb, const std::wstring& url, const std::wstring& headers,
                                  const std::wstring& body, std::wstring& answer, HttpExchange& last,
                                  const DownloadSink* download) {
  last = HttpExchange{};
  // A download talks to the Tarn server as a form post does.
  const bool tarnServer = verb == Verb::kFormPost || verb == Verb::kDownload;
  std::wstring currentUrl = url;
  std::optional<CrackedUrl> current = Crack(url);
  if (!current) return kHttpFailure;  // not attempted: the answer stays as it was

  const auto connectLimit = connectTimeout.count() > 0 ? connectTimeout
                            : tarnServer               ? CHttpClient::kFormPostConnectTimeout
                                                       : CHttpClient::kDefaultConnectTimeout;
  const auto receiveLimit = receiveTimeout.count() > 0 ? receiveTimeout : CHttpClient::kDefaultReceiveTimeout;
  const auto overallLimit = overallTimeout.count() > 0  ? overallTimeout
                            : verb == Verb::kFormPost ? CHttpClient::kFormPostOverallTimeout
                                                      : std::chrono::milliseconds(0);
  const auto deadline = std::chrono::steady_clock::now() + overallLimit;
  // What is left of the overall limit, capped at `limit`; `limit` itself
  // when there is no overall limit.
  auto within = [&](std::chrono::milliseconds limit) {
    if (overallLimit.count() <= 0) return limit;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return std::max(std::chrono::milliseconds(1), std::min(limit, left));
  };
  auto pastDeadline = [&] { return overallLimit.count() > 0 && std::chrono::steady_clock::now() >= deadline; };

  // Wine reports a send or read that waited out the whole stall limit as an
  // aborted connection where Windows reports a time-out; both count as one.
  auto waitStarted = std::chrono::steady_clock::now();
  auto failText = [&](HttpExchange::Outcome outcome, std::wstring text) {
    last.outcome = outcome;
    last.errorText = std::move(text);
    if (last.errorText.size() > kMaxErrorTextChars) last.errorText.resize(kMaxErrorTextChars);
    answer = verb == Verb::kGet ? std::wstring(L"CInternetException\n") : last.errorText + L" ";
    return outcome == HttpExchange::Outcome::kTimedOut ? kHttpTimeout : kHttpFailure;
  };
  auto fail = [&](DWORD code, std::optional<HttpExchange::Outcome> outcome = std::nullopt) {
    if (code == ERROR_INTERNET_CONNECTION_ABORTED && !outcome &&
        (std::chrono::steady_clock::now() - waitStarted >= receiveLimit || pastDeadline())) {
      code = ERROR_INTERNET_TIMEOUT;
    }
    return failText(outcome ? *outcome : OutcomeOf(code), ErrorText(code));
  };
  if (internet.h == nullptr) return fail(::GetLastError());

  const std::string bodyBytes = WideToUtf8(body);
  const std::size_t answerCap = tarnServer ? CHttpClient::kMaxFormAnswerBytes : CHttpClient::kMaxAnswerBytes;

  for (;;) {
    if (pastDeadline()) return fail(ERROR_INTERNET_TIMEOUT, HttpExchange::Outcome::kTimedOut);
    DWORD value = static_cast<DWORD>(within(connectLimit).count());
    ::InternetSetOptionW(internet.h, INTERNET_OPTION_CONNECT_TIMEOUT, &value, sizeof value);
    value = static_cast<DWORD>(within(receiveLimit).count());
    ::InternetSetOptionW(internet.h, INTERNET_OPTION_RECEIVE_TIMEOUT, &value, sizeof value);
    ::InternetSetOptionW(internet.h, INTERNET_OPTION_SEND_TIMEOUT, &value, sizeof value);

    const bool https = current->https;
    const DWORD connectionFlags = INTERNET_FLAG_KEEP_CONNECTION | (https ? INTERNET_FLAG_SECURE : 0);
    InetHandle connection;
    connection.h = ::InternetConnectW(internet.h, current->host.c_str(), current->port, nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, connectionFlags, 1);
    if (connection.h == nullptr) return fail(::GetLastError());

    DWORD requestFlags = connectionFlags;
    if (!tarnServer) {
      requestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
      if (https) requestFlags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
    }
    // Redirections are judged below, one at a time.
    requestFlags |= INTERNET_FLAG_NO_AUTO_REDIRECT;
    InetHandle request;
    const bool get = verb == Verb::kGet || verb == Verb::kDownload;
    request.h = ::HttpOpenRequestW(connection.h, get ? L"GET" : L"POST", current->object.c_str(),
                                   nullptr, nullptr, nullptr, requestFlags, 1);
    if (request.h == nullptr) return fail(::GetLastError());
    // The stall limits are set on the request as well: Wine's WinInet does not
    // pass the session's receive and send limits on to its requests.
    value = static_cast<DWORD>(within(receiveLimit).count());
    ::InternetSetOptionW(request.h, INTERNET_OPTION_RECEIVE_TIMEOUT, &value, sizeof value);
    ::InternetSetOptionW(request.h, INTERNET_OPTION_SEND_TIMEOUT, &value, sizeof value);

    std::wstring headerText;
    if (tarnServer) {
      DWORD security = 0;
      DWORD size = sizeof security;
      if (::InternetQueryOptionW(request.h, INTERNET_OPTION_SECURITY_FLAGS, &security, &size)) {
        security |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        ::InternetSetOptionW(request.h, INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security);
      }
    }
    if (verb == Verb::kFormPost) {
      headerText = L"Content-Type: application/x-www-form-urlencoded; charset=UTF-8\r\n";
    } else if (verb == Verb::kDownload) {
      headerText.clear();
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

    waitStarted = std::chrono::steady_clock::now();
    if (certificateCheck) {
      // The head goes out first; the body (the password of a form) only once
      // the certificate of the connection has passed the check.
      INTERNET_BUFFERSW buffers{};
      buffers.dwStructSize = sizeof buffers;
      buffers.dwBufferTotal = static_cast<DWORD>(bodyBytes.size());
      if (!::HttpSendRequestExW(request.h, &buffers, nullptr, 0, 1)) return fail(::GetLastError());
      const std::string certificate = https ? ServerCertificateOf(request.h) : std::string();
      last.serverCertificate = certificate;
      if (!certificateCheck(certificate)) {
        return failText(HttpExchange::Outcome::kCertificateRefused,
                        L"The server's certificate is not the one this account trusts");
      }
      DWORD written = 0;
      if (!bodyBytes.empty() && (!::InternetWriteFile(request.h, bodyBytes.data(), static_cast<DWORD>(bodyBytes.size()),
                                                      &written) ||
                                 written != bodyBytes.size())) {
        return fail(::GetLastError());
      }
      if (!::HttpEndRequestW(request.h, nullptr, 0, 1)) return fail(::GetLastError());
    } else {
      std::string sendBytes = bodyBytes;
      if (!::HttpSendRequestW(request.h, nullptr, 0, sendBytes.empty() ? nullptr : sendBytes.data(),
                              static_cast<DWORD>(sendBytes.size()))) {
        return fail(::GetLastError());
      }
      if (https) last.serverCertificate = ServerCertificateOf(request.h);
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
    if (!tarnServer) {
      std::printf("HTTP_STATUS_code:%d\n", static_cast<int>(status));
      std::fflush(stdout);
    }

    if (IsRedirectStatus(status)) {
      if (const auto target = RedirectTarget(request.h, currentUrl)) {
        const std::optional<CrackedUrl> next = Crack(*target);
        if (!MayFollow(*current, next) || last.redirectsFollowed >= CHttpClient::kMaxRedirects) {
          last.refusedRedirect = WideToUtf8(*target);
          return failText(HttpExchange::Outcome::kRedirectRefused,
                          L"The server redirected the request to " + target->substr(0, 200) +
                              L"; only redirections to https on the same server are followed");
        }
        ++last.redirectsFollowed;
        currentUrl = *target;
        current = next;
        continue;
      }
    }

    std::string bytes;
    // A download's 200 answer goes to its sink; only the count stays here.
    const bool streamed = download != nullptr && status == 200;
    unsigned long long received = 0;
    char buffer[kReadChunkBytes + 1];
    for (;;) {
      if (pastDeadline()) return fail(ERROR_INTERNET_TIMEOUT, HttpExchange::Outcome::kTimedOut);
      if (overallLimit.count() > 0) {
        value = static_cast<DWORD>(within(receiveLimit).count());
        ::InternetSetOptionW(request.h, INTERNET_OPTION_RECEIVE_TIMEOUT, &value, sizeof value);
      }
      std::fill(buffer, buffer + sizeof buffer, '\0');
      DWORD read = 0;
      waitStarted = std::chrono::steady_clock::now();
      DWORD want = kReadChunkBytes;
      if (overallLimit.count() > 0) {
        // A read waits until its buffer is full; a server trickling its answer
        // would keep it past the deadline. Only what has arrived is read, so
        // the deadline is looked at between the pieces.
        DWORD available = 0;
        if (!::InternetQueryDataAvailable(request.h, &available, 0, 0)) return fail(::GetLastError());
        if (available == 0) break;
        want = std::min<DWORD>(available, kReadChunkBytes);
      }
      if (!::InternetReadFile(request.h, buffer, want, &read)) return fail(::GetLastError());
      if (read == 0) break;
      received += read;
      if (streamed) {
        if (!(*download)(std::string_view(buffer, read))) {
          return failText(HttpExchange::Outcome::kAbandoned, L"The download was stopped");
        }
        continue;
      }
      if (bytes.size() + read > answerCap) {
        return failText(HttpExchange::Outcome::kTooLarge,
                        L"The answer is larger than " + std::to_wstring(answerCap) + L" bytes");
      }
      bytes.append(buffer, read);
    }
    // WinInet ends the read quietly when the server closes early; an answer
    // shorter than it announced is a broken transfer, not a short success.
    if (const auto announced = AnnouncedLength(request.h); announced && received < *announced) {
      return fail(ERROR_INTERNET_CONNECTION_ABORTED, HttpExchange::Outcome::kTransferFailed);
    }
    answer = Utf8ToWide(bytes);
    last.outcome = HttpExchange::Outcome::kAnswered;
    return status == 200 ? kHttpSuccess : kHttpFailure;
  }
}

}  // namespace orlin::platform
