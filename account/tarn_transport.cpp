#include "account/tarn_transport.h"

#include "common/sha256.h"
#include "platform/http_client.h"

namespace orlin {

std::string CertificateFingerprint(std::string_view certificateDer) {
  return certificateDer.empty() ? std::string() : Sha256Hex(certificateDer);
}

std::function<bool(std::string_view)> TrustedCertificateCheck(std::string trustedFingerprint) {
  return [trusted = std::move(trustedFingerprint)](std::string_view der) {
    return CertificateFingerprint(der) == trusted;
  };
}

HttpTarnTransport::HttpTarnTransport(std::wstring userAgent, TarnTransportLimits limits)
    : userAgent_(std::move(userAgent)), limits_(limits) {}

TarnReply HttpTarnTransport::Post(const std::wstring& url, const std::wstring& form,
                                  const std::string& trustedFingerprint) {
  platform::CHttpClient client(userAgent_);
  if (limits_.overall.count() > 0) client.SetOverallTimeout(limits_.overall);
  if (!trustedFingerprint.empty()) client.SetCertificateCheck(TrustedCertificateCheck(trustedFingerprint));
  std::wstring answer;
  client.FormPost(url, form, answer);
  const auto& exchange = client.LastExchange();
  TarnReply reply;
  reply.answered = exchange.outcome == platform::HttpExchange::Outcome::kAnswered;
  reply.status = exchange.httpStatus;
  reply.certificateRefused = exchange.outcome == platform::HttpExchange::Outcome::kCertificateRefused;
  reply.certificateFingerprint = CertificateFingerprint(exchange.serverCertificate);
  if (reply.answered) {
    reply.body = std::move(answer);
  } else {
    // The client's own error text ("<platform text> ") is what the user sees.
    reply.errorText = answer.empty() ? exchange.errorText : answer;
  }
  return reply;
}

}  // namespace orlin
