#include "account/tarn_transport.h"

#include "platform/http_client.h"

namespace orlin {

HttpTarnTransport::HttpTarnTransport(std::wstring userAgent) : userAgent_(std::move(userAgent)) {}

TarnReply HttpTarnTransport::Post(const std::wstring& url, const std::wstring& form) {
  platform::CHttpClient client(userAgent_);
  std::wstring answer;
  client.FormPost(url, form, answer);
  const auto& exchange = client.LastExchange();
  TarnReply reply;
  reply.answered = exchange.outcome == platform::HttpExchange::Outcome::kAnswered;
  reply.status = exchange.httpStatus;
  if (reply.answered) {
    reply.body = std::move(answer);
  } else {
    // The client's own error text ("<platform text> ") is what the user sees.
    reply.errorText = answer.empty() ? exchange.errorText : answer;
  }
  return reply;
}

}  // namespace orlin
