#include "engine/live_settings.h"

#include <json/json.h>

#include <exception>
#include <memory>
#include <thread>

#include "common/text.h"
#include "platform/http_client.h"

namespace orlin {
namespace {

constexpr const char* kFolderTypes[] = {"sendreceive", "sendonly", "receiveonly"};
constexpr const char* kPullOrders[] = {"random", "alphabetic", "smallestFirst", "largestFirst", "oldestFirst",
                                       "newestFirst"};

std::optional<Json::Value> Parse(std::string_view text) {
  Json::CharReaderBuilder builder;
  // Comments would be written back into the configuration posted to the
  // engine, which takes nothing but JSON.
  builder["collectComments"] = false;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  try {
    if (text.empty() || !reader->parse(text.data(), text.data() + text.size(), &value, &errors)) return std::nullopt;
  } catch (const std::exception&) {
    // The reader throws instead of failing when arrays or objects nest
    // deeper than its stack limit; such an answer is as unusable as garbage.
    return std::nullopt;
  }
  return value;
}

std::string Write(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  return Json::writeString(builder, value);
}

}  // namespace

LiveEditResult EditEngineConfiguration(std::string_view configuration, std::string_view folderId,
                                       const SyncSettings& settings, const LiveSettingsFields& fields) {
  LiveEditResult result;
  auto root = Parse(configuration);
  if (!root || !root->isObject() || !(*root)["folders"].isArray()) return result;
  Json::Value* folder = nullptr;
  for (auto& f : (*root)["folders"]) {
    if (f.isObject() && f["id"].isString() && f["id"].asString() == folderId) {
      folder = &f;
      break;
    }
  }
  if (folder == nullptr) {
    result.outcome = LiveEdit::kUnknownFolder;
    return result;
  }
  result.folderPaused = (*folder)["paused"].isBool() && (*folder)["paused"].asBool();

  if (fields.folderPath) (*folder)["path"] = WideToUtf8(settings.syncFolderPath);
  if (fields.folderType && settings.folderType >= 0 && settings.folderType <= 2) {
    (*folder)["type"] = kFolderTypes[settings.folderType];
  }
  if (fields.pullOrder && settings.pullOrder >= 0 && settings.pullOrder <= 5) {
    (*folder)["order"] = kPullOrders[settings.pullOrder];
  }
  if (fields.versioning) {
    Json::Value& versioning = (*folder)["versioning"];
    if (!versioning.isObject()) versioning = Json::Value(Json::objectValue);
    Json::Value params(Json::objectValue);
    if (settings.versionsKept > 0) {
      versioning["type"] = "simple";
      params["keep"] = std::to_string(settings.versionsKept);
    } else {
      versioning["type"] = "";
    }
    versioning["params"] = params;
  }
  if (fields.rateLimits) {
    Json::Value& options = (*root)["options"];
    if (options.isObject()) {
      options["maxSendKbps"] = settings.sendLimit;
      options["maxRecvKbps"] = settings.receiveLimit;
    }
  }
  result.outcome = LiveEdit::kEdited;
  result.document = Write(*root);
  return result;
}

EngineLiveConfigTransport::EngineLiveConfigTransport(std::string apiKey, std::string restBase)
    : apiKey_(std::move(apiKey)), restBase_(std::move(restBase)) {}

std::optional<std::string> EngineLiveConfigTransport::GetConfiguration() {
  platform::CHttpClient client(platform::kHttpUserAgent);
  client.SetConnectTimeout(std::chrono::milliseconds(5000));
  client.SetReceiveTimeout(std::chrono::milliseconds(15000));
  std::wstring answer;
  if (client.Get(Utf8ToWide(rest::Url(rest::kSystemConfig, restBase_)), Utf8ToWide(rest::KeyHeader(apiKey_)),
                 answer) != platform::kHttpSuccess) {
    return std::nullopt;
  }
  return WideToUtf8(answer);
}

bool EngineLiveConfigTransport::PostConfiguration(const std::string& document) {
  platform::CHttpClient client(platform::kHttpUserAgent);
  client.SetConnectTimeout(std::chrono::milliseconds(5000));
  client.SetReceiveTimeout(std::chrono::milliseconds(15000));
  std::wstring answer;
  return client.JsonPost(Utf8ToWide(rest::Url(rest::kSystemConfig, restBase_)), Utf8ToWide(rest::KeyHeader(apiKey_)),
                         Utf8ToWide(document), answer) == platform::kHttpSuccess;
}

std::optional<std::string> QueryEngineStartTime(const std::string& apiKey, const std::string& restBase) {
  platform::CHttpClient client(platform::kHttpUserAgent);
  client.SetConnectTimeout(std::chrono::milliseconds(2000));
  client.SetReceiveTimeout(std::chrono::milliseconds(10000));
  std::wstring answer;
  if (client.Get(Utf8ToWide(rest::Url(rest::kSystemStatus, restBase)), Utf8ToWide(rest::KeyHeader(apiKey)), answer) !=
      platform::kHttpSuccess) {
    return std::nullopt;
  }
  auto status = Parse(WideToUtf8(answer));
  if (!status || !status->isObject() || !(*status)["startTime"].isString()) return std::nullopt;
  return (*status)["startTime"].asString();
}

bool WaitForEngineRestarted(const std::string& apiKey, const std::optional<std::string>& before,
                            std::chrono::milliseconds limit, const std::string& restBase) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::optional<std::string> candidate;
  int steady = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    const auto now = QueryEngineStartTime(apiKey, restBase);
    if (now && now != before) {
      steady = now == candidate ? steady + 1 : 0;
      candidate = now;
      if (steady >= 2) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  return false;
}

LivePush PushSettingsToEngine(LiveConfigTransport& transport, std::string_view folderId, const SyncSettings& settings,
                              const LiveSettingsFields& fields, LivePushOptions options) {
  if (!fields.Any()) return LivePush::kNothingToPush;
  const auto deadline = std::chrono::steady_clock::now() + options.pausedWait;
  for (;;) {
    auto configuration = transport.GetConfiguration();
    if (!configuration) return LivePush::kNoEngine;
    LiveEditResult edit = EditEngineConfiguration(*configuration, folderId, settings, fields);
    if (edit.outcome != LiveEdit::kEdited) return LivePush::kRefused;
    if (!edit.folderPaused && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(options.step);
      continue;
    }
    return transport.PostConfiguration(edit.document) ? LivePush::kPushed : LivePush::kRefused;
  }
}

}  // namespace orlin
