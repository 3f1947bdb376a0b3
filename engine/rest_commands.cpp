#include "engine/rest_commands.h"

#include <json/json.h>

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
  if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors)) return std::nullopt;
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

EngineCommands::EngineCommands(platform::CHttpClient& http, MessagePresenter& presenter, EngineCommandHooks hooks,
                               std::string restBase, std::string diagnosticBase)
    : http_(http),
      presenter_(presenter),
      hooks_(std::move(hooks)),
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

std::wstring EngineCommands::KeyHeader() const { return L"X-API-Key: " + Utf8ToWide(ApiKey()); }

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
    http_.Get(Utf8ToWide(restBase_ + "system/status"), KeyHeader(), answer);
  }
  return ParseDeviceId(answer);
}

void EngineCommands::Pause(std::int32_t parameter) {
  if (parameter == kSettingsPause) {
    pauseReason.store(kSettingsPause);
    if (hooks_.settingsPauseBegins) hooks_.settingsPauseBegins();
    if (OwnerWindow* owner = owner_.load()) owner->Post(kMsgToolbarLock, 0, 0);
  }
  previousStateWord.store(stateWord.load());
  stateWord.store(1);
  currentCommand.store(kKindPause);
  if (hooks_.submitConfigFetch) hooks_.submitConfigFetch(kKindPause, parameter);
}

void EngineCommands::Resume() {
  previousStateWord.store(stateWord.load());
  currentCommand.store(kKindResume);
  if (hooks_.submitConfigFetch) hooks_.submitConfigFetch(kKindResume, 0);
}

void EngineCommands::FetchFolderIdentifier(std::int32_t parameter) {
  if (hooks_.folderId && !hooks_.folderId().empty()) return;
  currentCommand.store(kKindFolderDiscovery);
  if (hooks_.submitConfigFetch) hooks_.submitConfigFetch(kKindFolderDiscovery, parameter);
}

int EngineCommands::Post(const std::string& url, std::wstring& answer) {
  std::lock_guard lock(httpMutex_);
  return http_.JsonPost(Utf8ToWide(url), KeyHeader(), L"", answer);
}

void EngineCommands::Restart() {
  std::wstring answer;
  Post(restBase_ + "system/restart", answer);
}

void EngineCommands::Reset() {
  std::wstring answer;
  Post(restBase_ + "system/reset", answer);
}

void EngineCommands::Rescan() {
  std::wstring answer;
  Post(restBase_ + "db/scan", answer);
}

void EngineCommands::Refresh(std::int32_t parameter) {
  Restart();
  Reset();
  Rescan();
  if (hooks_.resetPollerPositions) hooks_.resetPollerPositions();
  if (parameter != kQuietRefresh) {
    if (OwnerWindow* owner = owner_.load()) owner->Send(kMsgRefreshDone, 0, 0);
  }
  if (hooks_.reprime) hooks_.reprime();
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
  const std::string folder = hooks_.folderId ? hooks_.folderId() : std::string();
  if (folder.empty()) return Outcome::kNothingToDo;
  std::wstring answer;
  if (Post(restBase_ + "db/revert?folder=" + folder, answer) != platform::kHttpSuccess) {
    ShowFailure(answer);
    return Outcome::kFailed;
  }
  if (!hooks_.localChangeCount) return Outcome::kDone;
  return WaitFor([this] { return hooks_.localChangeCount() <= 0; }, stop, limit);
}

EngineCommands::Outcome EngineCommands::Override(std::stop_token stop, std::chrono::milliseconds limit) {
  const std::string folder = hooks_.folderId ? hooks_.folderId() : std::string();
  if (folder.empty()) return Outcome::kNothingToDo;
  std::wstring answer;
  if (Post(restBase_ + "db/override?folder=" + folder, answer) != platform::kHttpSuccess) {
    ShowFailure(answer);
    return Outcome::kFailed;
  }
  Outcome outcome = Outcome::kDone;
  if (hooks_.folderStateText) {
    outcome = WaitFor([this] { return hooks_.folderStateText() != "outofsync"; }, stop, limit);
  }
  FetchFolderIdentifier(0);
  return outcome;
}

std::string EngineCommands::AddTestFolder(const std::string& workDir) {
  std::wstring answer;
  {
    std::lock_guard lock(httpMutex_);
    http_.Get(Utf8ToWide(diagnosticBase_ + "svc/random/string?length=10"), KeyHeader(), answer);
  }
  const auto random = ParseJson(WideToUtf8(answer));
  if (!random || !random->isObject() || !(*random)["random"].isString()) return {};
  const std::string text = (*random)["random"].asString();
  if (text.size() < 10) return {};
  const std::string folderId = text.substr(0, 5) + "-" + text.substr(5, 5);

  std::wstring configAnswer;
  {
    std::lock_guard lock(httpMutex_);
    http_.Get(Utf8ToWide(diagnosticBase_ + "system/config"), KeyHeader(), configAnswer);
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
    http_.JsonPost(Utf8ToWide(diagnosticBase_ + "system/config"), KeyHeader(), Utf8ToWide(body), postAnswer);
  }
  return folderId;
}

}  // namespace orlin
