#pragma once
// How the account code reaches the Tarn server: one form post, answered or
// not. The login and the kept-versions setting take it as a collaborator so
// tests can play the server.
//
// The server's certificate: Tarn servers use self-signed certificates, so
// the login takes whichever certificate the server shows (the name must
// still match) and reports its fingerprint; the login keeps it. Every later
// post to that server while the account stays signed in names that
// fingerprint, and a server showing another certificate then gets nothing:
// not the form, and with it not the password.
//
// Threads: Post blocks the calling thread (the login worker, the settings
// apply worker); an object serves one thread at a time.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace orlin {

struct TarnReply {
  // False when no answer came: no route, refused, time-out, TLS failure,
  // refused redirection or certificate, unsupported URL. `status` and `body`
  // are then meaningless, and `errorText` holds the transport's description.
  bool answered = false;
  int status = 0;
  std::wstring body;
  std::wstring errorText;
  // The server showed a certificate other than the trusted one: nothing was
  // sent.
  bool certificateRefused = false;
  // CertificateFingerprint() of the certificate the server showed; empty for
  // plain http.
  std::string certificateFingerprint;
};

// The fingerprint kept for a server certificate: SHA-256 of its DER form in
// 64 lower-case hexadecimal digits; empty for no certificate.
std::string CertificateFingerprint(std::string_view certificateDer);

// A certificate check for the blocking HTTP client
// (platform::CHttpClient::SetCertificateCheck) that lets only the
// certificate of `trustedFingerprint` pass: what every request to the Tarn
// server after the login uses (the kept-versions setting here, downloads of
// updates too).
std::function<bool(std::string_view certificateDer)> TrustedCertificateCheck(std::string trustedFingerprint);

class TarnTransport {
 public:
  virtual ~TarnTransport() = default;
  // POSTs `form` (already form-encoded) to `url` as
  // "application/x-www-form-urlencoded; charset=UTF-8". With a
  // `trustedFingerprint`, the server must show the certificate of that
  // fingerprint (plain http shows none and is refused too); empty takes any
  // certificate, as the login does.
  virtual TarnReply Post(const std::wstring& url, const std::wstring& form, const std::string& trustedFingerprint) = 0;
};

struct TarnTransportLimits {
  // The whole exchange (0: the blocking client's default for form posts).
  std::chrono::milliseconds overall{0};
};

// The transport over the blocking HTTP client: certificates from unknown
// authorities are accepted (Tarn servers use self-signed ones), the connect
// time-out is 30 s and the whole exchange ends within the client's form post
// deadline. A new client is made for every post.
class HttpTarnTransport final : public TarnTransport {
 public:
  explicit HttpTarnTransport(std::wstring userAgent, TarnTransportLimits limits = {});
  TarnReply Post(const std::wstring& url, const std::wstring& form, const std::string& trustedFingerprint) override;

 private:
  std::wstring userAgent_;
  TarnTransportLimits limits_;
};

}  // namespace orlin
