#include "monitor/loop_request_sink.h"

#include <memory>

#include "common/text.h"
#include "engine/request_loop.h"
#include "platform/http_client.h"

namespace orlin {

LoopRequestSink::LoopRequestSink(RequestLoop& loop, std::string apiKey, std::string restBase)
    : loop_(loop), restBase_(std::move(restBase)), apiKey_(std::move(apiKey)) {}

void LoopRequestSink::SetAnswerCallback(AnswerCallback callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  callback_ = std::move(callback);
}

void LoopRequestSink::SetApiKey(std::string apiKey) {
  std::lock_guard<std::mutex> lock(mutex_);
  apiKey_ = std::move(apiKey);
}

std::string LoopRequestSink::ApiKey() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return apiKey_;
}

std::string LoopRequestSink::ToWire(const std::string& url) const {
  if (url.compare(0, rest::kBase.size(), rest::kBase) != 0) return url;
  return restBase_ + url.substr(rest::kBase.size());
}

std::string LoopRequestSink::FromWire(const std::string& url) const {
  if (url.compare(0, restBase_.size(), restBase_) != 0) return url;
  return std::string(rest::kBase) + url.substr(restBase_.size());
}

void LoopRequestSink::Submit(const PollRequest& request) {
  auto rest = std::make_unique<RestRequest>();
  rest->url = ToWire(request.url);
  rest->apiKey = ApiKey();
  rest->kind = request.kind;
  rest->parameter = request.parameter;
  rest->onComplete = [this, original = request](RestRequest& done, const std::string& effectiveUrl) {
    AnswerCallback callback;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      callback = callback_;
    }
    if (!callback) return;
    PollAnswer answer;
    answer.request = original;
    answer.effectiveUrl = effectiveUrl.empty() ? std::string() : FromWire(effectiveUrl);
    // Whatever part of a failed transfer arrived is no answer.
    if (done.status == RestTransferStatus::kAnswered) answer.body = std::move(done.response);
    // An answer too large to keep still came from a running engine.
    answer.reachedEngine =
        done.status == RestTransferStatus::kAnswered || done.status == RestTransferStatus::kTooLarge;
    callback(answer);
  };
  if (!loop_.Submit(std::move(rest))) refused_.fetch_add(1);
}

bool LoopRequestSink::RunAfter(std::chrono::milliseconds delay, std::function<void()> task) {
  return loop_.RunAfter(delay, std::move(task));
}

void LoopRequestSink::PostJson(const std::string& url, const std::string& body) {
  platform::CHttpClient client(platform::kHttpUserAgent);
  std::wstring answer;
  client.JsonPost(Utf8ToWide(ToWire(url)), Utf8ToWide(rest::KeyHeader(ApiKey())), Utf8ToWide(body), answer);
}

}  // namespace orlin
