#include "engine/rest_commands.h"

#include <json/json.h>

#include <exception>
#include <fstream>
#include <memory>
#include <thread>

#include "common/message_presenter.h"
#include "common/owner_window.h"
#include "common/text.h"
#include "platform/http_client.h"

namespace orlin {
namespace {

constexpr auto kWaitStep = std::chrono::milliseconds(100);

std::optional<Json::Value> ParseJson(std::string_view text) {
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  try {
    if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors)) return std::nullopt;
  } catch (const std::exception&) {
    // The reader throws instead of failing when arrays or objects nest
    // deeper than its stack limit; such an answer is as unusable as garbage.
    return std::nullopt;
  }
  return value;
}

std::string WriteJson(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  return Json::writeString(builder, value);
}

// Two device entries of the diagnostic folder (well-formed placeholders).
constexpr const char* kTestFolderDevices[] = {
    "AAAAAAA-BBBBBBB-CCCCCCC-DDDDDDD-EEEEEEE-FFFFFFF-GGGGGGG-HHHHHHH",
    "IIIIIII-JJJJJJJ-KKKKKKK-LLLLLLL-MMMMMMM-NNNNNNN-OOOOOOO-PPPPPPP",
};

}  // namespace

EngineCommands::EngineCommands(platform::CHttpClient& http, MessagePresenter& presenter, PollerControl& poller,
                               std::string restBase, std::string diagnosticBase)
    : http_(http),
      presenter_(presenter),
      poller_(poller),
      restBase_(std::move(restBase)),
      diagnosticBase_(std::move(diagnosticBase)) {}

void EngineCommands::SetApiKey(std::string apiKey) {
  std::lock_guard lock(mutex_);
  apiKey_ = std::move(apiKey);
}

std::string EngineCommands::ApiKey() const {
  std::lock_guard lock(mutex_);
  return apiKey_;
}

std::wstring EngineCommands::KeyHeader() const { return Utf8ToWide(rest::KeyHeader(ApiKey())); }

std::optional<std::wstring> EngineCommands::ParseDeviceId(std::wstring_view answer) {
  const auto brace = answer.find(L'{');
  if (brace == std::wstring_view::npos) return std::nullopt;
  const auto json = ParseJson(WideToUtf8(answer.substr(brace)));
  if (!json || !json->isObject()) return std::nullopt;
  const Json::Value& id = (*json)["myID"];
  if (!id.isString()) return std::nullopt;
  return Utf8ToWide(id.asString());
}

std::optional<std::wstring> EngineCommands::QueryDeviceId() {
  std::wstring answer;
  {
    std::lock_guard lock(httpMutex_);
    http_.Get(Utf8ToWide(rest::Url(rest::kSystemStatus, restBase_)), KeyHeader(), answer);
  }
  return ParseDeviceId(answer);
}

void EngineCommands::Pause(std::int32_t parameter) {
  if (parameter == kSettingsPause) {
    poller_.SettingsPauseBegins();
    if (OwnerWindow* owner = owner_.load()) owner->Post(kMsgToolbarLock, 0, 0);
  }
  poller_.SubmitConfigFetch(kKindPause, parameter);
}

void EngineCommands::Resume() { poller_.SubmitConfigFetch(kKindResume, 0); }

void EngineCommands::FetchFolderIdentifier(std::int32_t parameter) {
  if (!poller_.FolderId().empty()) return;
  poller_.SubmitConfigFetch(kKindFolderDiscovery, parameter);
}

int EngineCommands::Post(const std::string& url, std::wstring& answer) {
  std::lock_guard lock(httpMutex_);
  return http_.JsonPost(Utf8ToWide(url), KeyHeader(), L"", answer);
}

void EngineCommands::Restart() {
  std::wstring answer;
  Post(rest::Url(rest::kSystemRestart, restBase_), answer);
}

void EngineCommands::Reset() {
  std::wstring answer;
  Post(rest::Url(rest::kSystemReset, restBase_), answer);
}

void EngineCommands::Rescan() {
  std::wstring answer;
  Post(rest::Url(rest::kDbScan, restBase_), answer);
}

void EngineCommands::Refresh(std::int32_t parameter) {
  Restart();
  Reset();
  Rescan();
  if (parameter != kQuietRefresh) {
    if (OwnerWindow* owner = owner_.load()) owner->Send(kMsgRefreshDone, 0, 0);
  }
  // The window has been told above; the poller's Re-prime must not tell it
  // a second time.
  poller_.Reprime(kQuietRefresh);
}

void EngineCommands::ShowFailure(const std::wstring& answer) {
  presenter_.ShowMessage(L"Orlin Override", answer, true);
}

EngineCommands::Outcome EngineCommands::WaitFor(const std::function<bool()>& done, std::stop_token stop,
                                                std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (stop.stop_requested() || std::chrono::steady_clock::now() >= deadline) return Outcome::kGaveUp;
    std::this_thread::sleep_for(kWaitStep);
  }
  return Outcome::kDone;
}

EngineCommands::Outcome EngineCommands::Revert(std::stop_token stop, std::chrono::milliseconds limit) {
  const std::string folder = poller_.FolderId();
  if (folder.empty()) return Outcome::kNothingToDo;
  std::wstring answer;
  if (Post(rest::FolderUrl(rest::kDbRevert, folder, restBase_), answer) != platform::kHttpSuccess) {
    ShowFailure(answer);
    return Outcome::kFailed;
  }
  return WaitFor([this] { return poller_.LocalChangeCount() <= 0; }, stop, limit);
}

EngineCommands::Outcome EngineCommands::Override(std::stop_token stop, std::chrono::milliseconds limit) {
  const std::string folder = poller_.FolderId();
  if (folder.empty()) return Outcome::kNothingToDo;
  std::wstring answer;
  if (Post(rest::FolderUrl(rest::kDbOverride, folder, restBase_), answer) != platform::kHttpSuccess) {
    ShowFailure(answer);
    return Outcome::kFailed;
  }
  const Outcome outcome = WaitFor([this] { return poller_.FolderStateText() != "outofsync"; }, stop, limit);
  FetchFolderIdentifier(0);
  return outcome;
}

std::string EngineCommands::AddTestFolder(const std::string& workDir) {
  std::wstring answer;
  {
    std::lock_guard lock(httpMutex_);
    http_.Get(Utf8ToWide(rest::Url(rest::kRandomString, diagnosticBase_) + "?length=10"), KeyHeader(), answer);
  }
  const auto random = ParseJson(WideToUtf8(answer));
  if (!random || !random->isObject() || !(*random)["random"].isString()) return {};
  const std::string text = (*random)["random"].asString();
  if (text.size() < 10) return {};
  const std::string folderId = text.substr(0, 5) + "-" + text.substr(5, 5);

  std::wstring configAnswer;
  {
    std::lock_guard lock(httpMutex_);
    http_.Get(Utf8ToWide(rest::Url(rest::kSystemConfig, diagnosticBase_)), KeyHeader(), configAnswer);
  }
  std::string body = WideToUtf8(configAnswer);
  auto config = ParseJson(body);
  if (config && config->isObject()) {
    Json::Value folder(Json::objectValue);
    folder["id"] = folderId;
    folder["label"] = "test2";
    folder["path"] = "d:\\test2";
    folder["type"] = "sendreceive";
    folder["rescanIntervalS"] = 3600;
    folder["fsWatcherEnabled"] = true;
    folder["fsWatcherDelayS"] = 10;
    folder["ignorePerms"] = true;
    folder["autoNormalize"] = true;
    folder["filesystemType"] = "basic";
    Json::Value devices(Json::arrayValue);
    for (const char* id : kTestFolderDevices) {
      Json::Value device(Json::objectValue);
      device["deviceID"] = id;
      device["introducedBy"] = "";
      devices.append(device);
    }
    folder["devices"] = devices;
    Json::Value minDiskFree(Json::objectValue);
    minDiskFree["value"] = 50;
    minDiskFree["unit"] = "%";
    folder["minDiskFree"] = minDiskFree;
    Json::Value versioning(Json::objectValue);
    versioning["type"] = "";
    versioning["params"] = Json::Value(Json::objectValue);
    folder["versioning"] = versioning;
    folder["copiers"] = 0;
    folder["pullers"] = 0;
    folder["hashers"] = 0;
    folder["order"] = "alphabetic";
    folder["ignoreDelete"] = false;
    folder["scanProgressIntervalS"] = 0;
    folder["pullerPauseS"] = 0;
    folder["maxConflicts"] = -1;
    folder["disableSparseFiles"] = false;
    folder["disableTempIndexes"] = false;
    folder["paused"] = false;
    folder["weakHashThresholdPct"] = 25;
    folder["markerName"] = ".stfolder";
    Json::Value folders = (*config)["folders"];
    if (!folders.isArray()) folders = Json::Value(Json::arrayValue);
    folders.append(folder);
    (*config)["folders"] = folders;
    body = WriteJson(*config);
  }
  std::ofstream(workDir + "/customconfig.json", std::ios::binary | std::ios::trunc) << body;
  std::wstring postAnswer;
  {
    std::lock_guard lock(httpMutex_);
    http_.JsonPost(Utf8ToWide(rest::Url(rest::kSystemConfig, diagnosticBase_)), KeyHeader(), Utf8ToWide(body),
                   postAnswer);
  }
  return folderId;
}

}  // namespace orlin
