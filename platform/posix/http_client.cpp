// The blocking HTTP(S) client over libcurl's easy interface.

#include "platform/http_client.h"

#include "common/utf/utf.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

namespace orlin::platform {

namespace {

// Answers are read in pieces of at most this size.
constexpr long kReadChunkBytes = 1024;
// The platform's error texts are cut to this length.
constexpr std::size_t kMaxErrorTextChars = 1024;

// --- UTF-8 <-> wide text. The platform layer cannot use common/, so it keeps
// its own small converter with the same rules: malformed input becomes U+FFFD.

// --- Requests

enum class Verb { kGet, kFormPost, kJsonPost, kDownload };

// Header lines of a CR LF (or LF) separated text, in order. A line whose
// name was already added is skipped: a header is only added when new.
void AppendHeaderLines(std::vector<std::string>& lines, std::string_view text) {
  auto nameOf = [](std::string_view line) {
    std::string name(line.substr(0, line.find(':')));
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return name;
  };
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    const std::size_t colon = line.find(':');
    if (line.empty() || colon == std::string_view::npos || colon == 0) continue;
    const std::string name = nameOf(line);
    const bool seen = std::any_of(lines.begin(), lines.end(),
                                  [&](const std::string& l) { return nameOf(l) == name; });
    if (!seen) lines.emplace_back(line);
  }
}

struct AnswerSink {
  std::string bytes;
  std::size_t cap = CHttpClient::kMaxAnswerBytes;
  bool overflowed = false;
  // A download's: the body of a 200 answer goes there instead.
  const CHttpClient::DownloadSink* stream = nullptr;
  CURL* easy = nullptr;
  bool abandoned = false;
};

size_t OnAnswerBytes(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<AnswerSink*>(user);
  const size_t n = size * count;
  if (sink->stream != nullptr) {
    long status = 0;
    curl_easy_getinfo(sink->easy, CURLINFO_RESPONSE_CODE, &status);
    if (status == 200) {
      if ((*sink->stream)(std::string_view(data, n))) return n;
      sink->abandoned = true;
      return 0;
    }
  }
  if (n > sink->cap - std::min(sink->bytes.size(), sink->cap)) {
    sink->overflowed = true;
    return 0;  // libcurl abandons the transfer
  }
  try {
    sink->bytes.append(data, n);
  } catch (const std::bad_alloc&) {
    sink->overflowed = true;
    return 0;
  }
  return n;
}

// The system's proxy settings apply, except to this computer: the engine's
// API key must not travel through a proxy.
std::string NoProxyList() {
  const char* configured = std::getenv("no_proxy");
  if (!configured || !*configured) configured = std::getenv("NO_PROXY");
  std::string list = configured ? configured : "";
  if (list == "*") return list;
  if (!list.empty()) list += ',';
  return list + "localhost,127.0.0.1,::1";
}

struct UrlParts {
  std::string scheme;  // lower case
  std::string host;    // lower case
};

// Scheme and host of an absolute http or https URL; nothing for any other.
std::optional<UrlParts> ParseUrl(const std::string& url) {
  CURLU* parsed = curl_url();
  if (!parsed) return std::nullopt;
  std::optional<UrlParts> parts;
  if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
    char* scheme = nullptr;
    char* host = nullptr;
    if (curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
      UrlParts p{scheme, host};
      for (std::string* text : {&p.scheme, &p.host}) {
        std::transform(text->begin(), text->end(), text->begin(),
                       [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
      }
      if ((p.scheme == "http" || p.scheme == "https") && !p.host.empty()) parts = std::move(p);
    }
    curl_free(scheme);
    curl_free(host);
  }
  curl_url_cleanup(parsed);
  return parts;
}

bool IsRedirectStatus(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The rule of the header comment: https, and the server the request went to.
bool MayFollow(const UrlParts& from, const std::optional<UrlParts>& to) {
  return to && to->scheme == "https" && to->host == from.host;
}

// The DER bytes of the first certificate of a PEM text; empty when there is none.
std::string DerFromPem(std::string_view pem) {
  constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  const std::size_t begin = pem.find(kBegin);
  if (begin == std::string_view::npos) return {};
  const std::size_t end = pem.find(kEnd, begin);
  if (end == std::string_view::npos) return {};
  std::string der;
  unsigned buffer = 0;
  int bits = 0;
  for (const char c : pem.substr(begin + kBegin.size(), end - begin - kBegin.size())) {
    int value;
    if (c >= 'A' && c <= 'Z') value = c - 'A';
    else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
    else if (c >= '0' && c <= '9') value = c - '0' + 52;
    else if (c == '+') value = 62;
    else if (c == '/') value = 63;
    else continue;  // line breaks and padding
    buffer = (buffer << 6) | static_cast<unsigned>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      der.push_back(static_cast<char>((buffer >> bits) & 0xFF));
    }
  }
  return der;
}

// The server's own certificate (the first of the chain libcurl reports).
std::string ServerCertificateOf(CURL* h) {
  curl_certinfo* chain = nullptr;
  if (curl_easy_getinfo(h, CURLINFO_CERTINFO, &chain) != CURLE_OK || chain == nullptr || chain->num_of_certs < 1) {
    return {};
  }
  for (curl_slist* field = chain->certinfo[0]; field != nullptr; field = field->next) {
    const std::string_view text(field->data);
    if (text.rfind("Cert:", 0) == 0) return DerFromPem(text.substr(5));
  }
  return {};
}

// What the pre-request callback needs: it runs inside curl_easy_perform once
// the connection (and its TLS handshake) is up, before a byte of the request
// is sent.
struct PreRequest {
  CURL* easy = nullptr;
  bool https = false;
  const CHttpClient::CertificateCheck* check = nullptr;
  std::string certificate;
  bool refused = false;
};

int OnConnected(void* user, char*, char*, int, int) {
  auto* pre = static_cast<PreRequest*>(user);
  if (pre->https) pre->certificate = ServerCertificateOf(pre->easy);
  if (pre->check != nullptr && *pre->check && !(*pre->check)(pre->certificate)) {
    pre->refused = true;
    return CURL_PREREQFUNC_ABORT;
  }
  return CURL_PREREQFUNC_OK;
}

bool SupportedUrl(const std::string& url) {
  CURLU* parsed = curl_url();
  if (!parsed) return false;
  bool ok = false;
  if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
    char* scheme = nullptr;
    char* host = nullptr;
    if (curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
      const std::string_view s(scheme);
      ok = (s == "http" || s == "https") && host[0] != '\0';
    }
    curl_free(scheme);
    curl_free(host);
  }
  curl_url_cleanup(parsed);
  return ok;
}

HttpExchange::Outcome Classify(CURLcode code, bool overflowed, bool certificateRefused, bool abandoned) {
  using Outcome = HttpExchange::Outcome;
  if (overflowed) return Outcome::kTooLarge;
  if (abandoned) return Outcome::kAbandoned;
  if (certificateRefused) return Outcome::kCertificateRefused;
  switch (code) {
    case CURLE_OK:
      return Outcome::kAnswered;
    case CURLE_OPERATION_TIMEDOUT:
      return Outcome::kTimedOut;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return Outcome::kConnectFailed;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return Outcome::kTlsFailed;
    default:
      return Outcome::kTransferFailed;
  }
}

}  // namespace

struct CHttpClient::Session {
  std::string userAgent;
  // One easy handle for the object's life: it keeps the connection open
  // between requests to the same server.
  CURL* easy = nullptr;
  std::chrono::milliseconds connectTimeout{0};
  std::chrono::milliseconds receiveTimeout{0};
  std::chrono::milliseconds overallTimeout{0};
  CertificateCheck certificateCheck;

  int Request(Verb verb, const std::wstring& url, const std::wstring& headers, const std::wstring* body,
              std::wstring& answer, HttpExchange& exchange, const DownloadSink* download = nullptr);
};

CHttpClient::CHttpClient(std::wstring userAgent) : session_(std::make_unique<Session>()) {
  // Reference-counted by libcurl: paired with the cleanup in the destructor,
  // so it never tears down libcurl under another user.
  curl_global_init(CURL_GLOBAL_ALL);
  session_->userAgent = WideToUtf8(userAgent);
  session_->easy = curl_easy_init();
}

CHttpClient::~CHttpClient() {
  if (session_->easy) curl_easy_cleanup(session_->easy);
  curl_global_cleanup();
}

int CHttpClient::Get(const std::wstring& url, const std::wstring& headers, std::wstring& answer) {
  return session_->Request(Verb::kGet, url, headers, nullptr, answer, last_);
}

int CHttpClient::FormPost(const std::wstring& url, const std::wstring& form, std::wstring& answer) {
  return session_->Request(Verb::kFormPost, url, std::wstring{}, &form, answer, last_);
}

int CHttpClient::JsonPost(const std::wstring& url, const std::wstring& headers, const std::wstring& json,
                          std::wstring& answer) {
  return session_->Request(Verb::kJsonPost, url, headers, &json, answer, last_);
}

int CHttpClient::Download(const std::wstring& url, const DownloadSink& sink, std::wstring& answer) {
  return session_->Request(Verb::kDownload, url, std::wstring{}, nullptr, answer, last_, &sink);
}

void CHttpClient::SetConnectTimeout(std::chrono::milliseconds timeout) { session_->connectTimeout = timeout; }

void CHttpClient::SetReceiveTimeout(std::chrono::milliseconds timeout) { session_->receiveTimeout = timeout; }

void CHttpClient::SetOverallTimeout(std::chrono::milliseconds timeout) { session_->overallTimeout = timeout; }

void CHttpClient::SetCertificateCheck(CertificateCheck check) { session_->certificateCheck = std::move(check); }

int CHttpClient::Session::Request(Verb verb, const std::wstring& url, const std::wstring& headers,
                                  const std::wstring* body, std::wstring& answer, HttpExchange& exchange,
                                  const DownloadSink* download) {
  // A download talks to the Tarn server as a form post does.
  const bool tarnServer = verb == Verb::kFormPost || verb == Verb::kDownload;
  exchange = HttpExchange{};
  std::string currentUrl = WideToUtf8(url);
  std::optional<UrlParts> current = ParseUrl(currentUrl);
  if (!current || !SupportedUrl(currentUrl)) return kHttpFailure;

  CURL* h = easy;
  auto failWith = [&](HttpExchange::Outcome outcome, std::string error) {
    exchange.outcome = outcome;
    exchange.errorText = Utf8ToWide(error);
    if (exchange.errorText.size() > kMaxErrorTextChars) exchange.errorText.resize(kMaxErrorTextChars);
    answer = verb == Verb::kGet ? std::wstring(L"CInternetException\n") : exchange.errorText + L" ";
    return outcome == HttpExchange::Outcome::kTimedOut ? kHttpTimeout : kHttpFailure;
  };
  if (!h) return failWith(HttpExchange::Outcome::kTransferFailed, "cannot create an HTTP session");

  std::vector<std::string> lines;
  std::string payload;
  switch (verb) {
    case Verb::kGet:
      AppendHeaderLines(lines, WideToUtf8(headers));
      // The header text also travels as the body of the GET.
      payload = WideToUtf8(headers);
      break;
    case Verb::kFormPost:
      lines.emplace_back("Content-Type: application/x-www-form-urlencoded; charset=UTF-8");
      payload = WideToUtf8(*body);
      break;
    case Verb::kJsonPost:
      lines.emplace_back("Accept: */*,application/json");
      lines.emplace_back("Content-Type:application/json");
      AppendHeaderLines(lines, WideToUtf8(headers));
      payload = WideToUtf8(*body);
      break;
    case Verb::kDownload:
      break;
  }

  const std::chrono::milliseconds connectLimit =
      connectTimeout.count() > 0 ? connectTimeout : (tarnServer ? kFormPostConnectTimeout : kDefaultConnectTimeout);
  const std::chrono::milliseconds receiveLimit =
      receiveTimeout.count() > 0 ? receiveTimeout : kDefaultReceiveTimeout;
  const std::chrono::milliseconds overallLimit =
      overallTimeout.count() > 0 ? overallTimeout
                                 : (verb == Verb::kFormPost ? kFormPostOverallTimeout : std::chrono::milliseconds(0));
  const auto deadline = std::chrono::steady_clock::now() + overallLimit;
  const std::string noProxy = NoProxyList();

  for (;;) {
    curl_easy_reset(h);
    curl_slist* list = nullptr;
    for (const std::string& line : lines) list = curl_slist_append(list, line.c_str());
    // libcurl would add these on its own; the requests carry exactly the
    // headers above.
    list = curl_slist_append(list, "Expect:");
    if (verb == Verb::kGet) list = curl_slist_append(list, "Content-Type:");

    AnswerSink sink;
    if (tarnServer) sink.cap = kMaxFormAnswerBytes;
    sink.stream = download;
    sink.easy = h;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    PreRequest pre{h, current->scheme == "https", &certificateCheck, {}, false};

    curl_easy_setopt(h, CURLOPT_URL, currentUrl.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirections are judged below, one at a time.
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent.c_str());
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_NOPROXY, noProxy.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReadChunkBytes);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnAnswerBytes);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, OnConnected);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, &pre);
    if (pre.https) {
      curl_easy_setopt(h, CURLOPT_CERTINFO, 1L);
      // A connection kept from an earlier request would skip the handshake
      // and with it the certificate the check must see.
      if (certificateCheck) curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
    }

    std::chrono::milliseconds connectHop = connectLimit;
    if (overallLimit.count() > 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        curl_slist_free_all(list);
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, nullptr);
        return failWith(HttpExchange::Outcome::kTimedOut,
                        "The exchange took longer than " + std::to_string(overallLimit.count()) + " milliseconds");
      }
      curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
      connectHop = std::min(connectHop, left);
    }
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectHop.count()));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME,
                     std::max<long>(1, static_cast<long>((receiveLimit.count() + 999) / 1000)));

    if (tarnServer) {
      // The Tarn server's certificate is self-signed: an unknown authority is
      // accepted, but the certificate must still name the server.
      curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
      curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    } else {
      // The engine's certificate is checked against the known authorities; its
      // name is not (it is reached as localhost).
      curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
      curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    }

    if (verb == Verb::kGet || verb == Verb::kDownload) {
      if (!payload.empty()) {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "GET");
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, payload.data());
      } else {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
      }
    } else {
      curl_easy_setopt(h, CURLOPT_POST, 1L);
      curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
      curl_easy_setopt(h, CURLOPT_POSTFIELDS, payload.data());
    }

    const CURLcode code = curl_easy_perform(h);
    curl_slist_free_all(list);
    // The handle must not keep pointers to this frame's buffers.
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, nullptr);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, nullptr);
    if (pre.https) exchange.serverCertificate = pre.certificate;

    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    exchange.httpStatus = static_cast<int>(status);
    exchange.outcome = Classify(code, sink.overflowed, pre.refused, sink.abandoned);
    if (status != 0 && !tarnServer) std::printf("HTTP_STATUS_code:%d\n", static_cast<int>(status));

    if (exchange.outcome == HttpExchange::Outcome::kAnswered && IsRedirectStatus(status)) {
      char* location = nullptr;
      curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &location);
      if (location != nullptr) {
        const std::string target = location;
        const std::optional<UrlParts> next = ParseUrl(target);
        if (!MayFollow(*current, next) || exchange.redirectsFollowed >= kMaxRedirects) {
          exchange.refusedRedirect = target;
          return failWith(HttpExchange::Outcome::kRedirectRefused,
                          "The server redirected the request to " + target.substr(0, 200) +
                              "; only redirections to https on the same server are followed");
        }
        ++exchange.redirectsFollowed;
        currentUrl = target;
        current = next;
        continue;
      }
    }

    if (exchange.outcome == HttpExchange::Outcome::kAnswered) {
      answer = Utf8ToWide(sink.bytes);
      return status == 200 ? kHttpSuccess : kHttpFailure;
    }

    std::string error;
    if (sink.overflowed) {
      error = "The answer is larger than " + std::to_string(sink.cap) + " bytes";
    } else if (sink.abandoned) {
      error = "The download was stopped";
    } else if (pre.refused) {
      error = "The server's certificate is not the one this account trusts";
    } else if (errorBuffer[0] != '\0') {
      error = errorBuffer;
    } else {
      error = curl_easy_strerror(code);
    }
    return failWith(exchange.outcome, error);
  }
}

}  // namespace orlin::platform
