#pragma once
// The blocking HTTP(S) client: one request at a time, the calling thread
// waits until the whole answer is in. It serves the Tarn server (login and
// server settings) and the engine commands that need an answer before the
// caller can go on.
//
// Every operation returns one of the result codes below and, whenever a
// request was attempted, replaces `answer` with either the answer text
// (converted from UTF-8) or an error text:
//   - Get:      "CInternetException\n" on a transport error;
//   - FormPost, JsonPost: the platform's error text followed by one blank.
// A URL whose scheme is neither http nor https returns kHttpFailure at once
// and leaves `answer` untouched.
//
// An answer with an HTTP status other than 200 is kHttpFailure, but the
// answer body is still read and returned: callers show it. Get and JsonPost
// print the line "HTTP_STATUS_code:<code>" on standard output.
//
// Redirections are followed by this client itself, never by the platform,
// and only where nothing can leak: at most kMaxRedirects times, and only to
// an https address of the same server (the same host name, any port). The
// request is repeated as it was, a POST with its body, so a login is never
// turned into an unauthenticated GET whose answer would be taken for the
// server's. Any other redirection (to plain http, to another server, too
// many) is refused before anything is sent there: the exchange ends as
// kRedirectRefused. Plain http to https on the same server is followed: that
// is how a server moves its clients onto TLS.
//
// Threads: an object is used by one thread at a time; make one per exchange.
// Objects on different threads share nothing.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace orlin::platform {

inline constexpr int kHttpSuccess = 0;
inline constexpr int kHttpFailure = 1;
inline constexpr int kHttpTimeout = 2;

// The user agent every caller passes.
inline constexpr wchar_t kHttpUserAgent[] =
    L"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 2.0.50727)";

// What happened to the last request, for callers and tests that need more
// than the result code. A time-out is data, never an exception.
struct HttpExchange {
  enum class Outcome {
    kNotAttempted,  // unsupported URL: nothing was sent
    kAnswered,      // a complete answer arrived (any HTTP status)
    kConnectFailed, // refused, unreachable, name not resolved
    kTimedOut,      // connecting, sending or waiting for the answer took too long
    kTlsFailed,     // handshake or certificate failure
    kTooLarge,      // the answer exceeded its cap; the exchange was abandoned
    kTransferFailed, // the connection broke mid-answer, or any other transport error
    kRedirectRefused,   // the server sent the request elsewhere, where it is not followed
    kCertificateRefused, // the certificate check refused the server: nothing was sent to it
    kAbandoned          // the caller stopped a download (its sink refused a piece)
  };
  Outcome outcome = Outcome::kNotAttempted;
  int httpStatus = 0;       // 0 when no status line arrived
  std::wstring errorText;   // the platform's error text, empty on kAnswered
  int redirectsFollowed = 0;
  std::string refusedRedirect;  // the address of a refused redirection
  // The DER form of the certificate the https server showed last (empty for
  // plain http, or when the platform could not tell).
  std::string serverCertificate;
};

class CHttpClient {
 public:
  // Answers larger than this are abandoned as failures. The largest answers
  // the product expects (the engine configuration, lists of 1000 rows) are
  // well below a megabyte; the cap keeps a misbehaving server from growing
  // the client without bound.
  static constexpr std::size_t kMaxAnswerBytes = 16u * 1024u * 1024u;
  // FormPost talks to the Tarn server, whose answers are a line of text; an
  // error page of a few hundred kilobytes still fits.
  static constexpr std::size_t kMaxFormAnswerBytes = 4u * 1024u * 1024u;

  static constexpr int kMaxRedirects = 5;

  // Default time limits. FormPost uses kFormPostConnectTimeout; Get and
  // JsonPost use kDefaultConnectTimeout. An answer that stalls (no bytes at
  // all) for kDefaultReceiveTimeout is a time-out.
  static constexpr std::chrono::milliseconds kFormPostConnectTimeout{30000};
  static constexpr std::chrono::milliseconds kDefaultConnectTimeout{60000};
  static constexpr std::chrono::milliseconds kDefaultReceiveTimeout{60000};
  // The whole of a FormPost (connecting, sending, every redirection and the
  // answer) ends within this, however slowly a server trickles its answer.
  // Get and JsonPost have no overall limit by default: some engine commands
  // (a rescan) answer only when their work is done.
  static constexpr std::chrono::milliseconds kFormPostOverallTimeout{45000};

  // Decides whether an https server may be talked to, given the DER form of
  // the certificate it showed (empty for plain http). Called once the
  // connection is made and before the request is sent; false abandons the
  // exchange as kCertificateRefused with nothing sent.
  using CertificateCheck = std::function<bool(std::string_view certificateDer)>;

  // Opens the session with the system's proxy settings.
  explicit CHttpClient(std::wstring userAgent);
  ~CHttpClient();
  CHttpClient(const CHttpClient&) = delete;
  CHttpClient& operator=(const CHttpClient&) = delete;

  // GET `url`. `headers` holds header lines separated by CR LF (or LF); the
  // same text is also sent as the request body, as the engine tolerates and
  // the engine commands have always sent it.
  int Get(const std::wstring& url, const std::wstring& headers, std::wstring& answer);

  // POST `form` (already URL-encoded) as
  // "application/x-www-form-urlencoded; charset=UTF-8". Accepts a server
  // certificate from an unknown authority (the Tarn server's certificate is
  // self-signed); the host name must still match.
  int FormPost(const std::wstring& url, const std::wstring& form, std::wstring& answer);

  // POST `json` with "Accept: */*,application/json",
  // "Content-Type:application/json" and then `headers`.
  int JsonPost(const std::wstring& url, const std::wstring& headers, const std::wstring& json,
               std::wstring& answer);

  // Receives a download's answer piece by piece, in order, on the calling
  // thread. False stops the transfer at once (kAbandoned).
  using DownloadSink = std::function<bool(std::string_view bytes)>;

  // GET `url` from the Tarn server as FormPost talks to it (a certificate
  // of an unknown authority is accepted, its name must match, the
  // certificate check decides), handing the body of a 200 answer to `sink`
  // as it arrives instead of keeping it: packages are larger than any answer
  // the client holds. Another status is kHttpFailure, with its body (capped
  // as a form post's) in `answer`. Only the stall limit applies unless an
  // overall limit is set. Nothing is printed.
  int Download(const std::wstring& url, const DownloadSink& sink, std::wstring& answer);

  // Overrides the connect time limit of every later request (0 = the
  // operation's default above).
  void SetConnectTimeout(std::chrono::milliseconds timeout);
  // Overrides the stall limit while sending and receiving (0 = default).
  void SetReceiveTimeout(std::chrono::milliseconds timeout);
  // Overrides the limit on the whole exchange (0 = the operation's default).
  void SetOverallTimeout(std::chrono::milliseconds timeout);
  // Every later request of this object asks `check` first (none: any
  // certificate the operation accepts).
  void SetCertificateCheck(CertificateCheck check);

  // Details of the last request made through this object.
  const HttpExchange& LastExchange() const { return last_; }

 private:
  struct Session;
  std::unique_ptr<Session> session_;
  HttpExchange last_;
};

}  // namespace orlin::platform
