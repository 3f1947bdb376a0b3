#pragma once
// How the account code reaches the Tarn server: one form post, answered or
// not. The login and the kept-versions setting take it as a collaborator so
// tests can play the server.
//
// Threads: Post blocks the calling thread (the login worker, the settings
// apply worker); an object serves one thread at a time.

#include <string>

namespace orlin {

struct TarnReply {
  // False when no answer came: no route, refused, time-out, TLS failure,
  // unsupported URL. `status` and `body` are then meaningless, and
  // `errorText` holds the transport's description.
  bool answered = false;
  int status = 0;
  std::wstring body;
  std::wstring errorText;
};

class TarnTransport {
 public:
  virtual ~TarnTransport() = default;
  // POSTs `form` (already form-encoded) to `url` as
  // "application/x-www-form-urlencoded; charset=UTF-8".
  virtual TarnReply Post(const std::wstring& url, const std::wstring& form) = 0;
};

// The transport over the blocking HTTP client: certificates from unknown
// authorities are accepted (Tarn servers use self-signed ones), the connect
// time-out is 30 s. A new client is made for every post.
class HttpTarnTransport final : public TarnTransport {
 public:
  explicit HttpTarnTransport(std::wstring userAgent);
  TarnReply Post(const std::wstring& url, const std::wstring& form) override;

 private:
  std::wstring userAgent_;
};

}  // namespace orlin
