#include <json/json.h>

#include <memory>

#include "cli.h"
#include "common/text.h"
#include "engine/config_file.h"
#include "platform/http_client.h"

namespace orlin::cli {
namespace {

constexpr auto kWatchInterval = std::chrono::milliseconds(250);

}  // namespace

FolderWatch::FolderWatch(EngineController& controller) : controller_(controller) {
  controller_.model().folder.SetFolderId(ReadFolderIdentifier(controller_.layout().EngineConfig()));
  thread_ = std::jthread([this](std::stop_token stop) {
    while (!stop.stop_requested()) {
      Refresh();
      std::this_thread::sleep_for(kWatchInterval);
    }
  });
}

FolderWatch::~FolderWatch() {
  thread_.request_stop();
  if (thread_.joinable()) thread_.join();
}

bool FolderWatch::Refresh() {
  const std::string folderId = controller_.model().folder.FolderId();
  if (folderId.empty()) return false;
  platform::CHttpClient http(platform::kHttpUserAgent);
  std::wstring answer;
  const std::wstring url = L"http://localhost:18384/rest/db/status?folder=" + Utf8ToWide(folderId);
  if (http.Get(url, L"X-API-Key: " + Utf8ToWide(controller_.ApiKey()), answer) != platform::kHttpSuccess) {
    return false;
  }
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  const std::string text = WideToUtf8(answer);
  Json::Value status;
  std::string errors;
  if (!reader->parse(text.data(), text.data() + text.size(), &status, &errors) || !status.isObject()) return false;
  const Json::Value& state = status["state"];
  const Json::Value& changed = status["receiveOnlyTotalItems"];
  const Json::Value& needed = status["needTotalItems"];
  if (state.isString()) {
    // As the poller names it: an idle folder that still needs items is out
    // of sync. The engine carries out an override after answering its POST,
    // so the override waits for this to change.
    std::string text = state.asString();
    if (text == "idle" && needed.isIntegral() && needed.asUInt64() > 0) text = "outofsync";
    controller_.model().folder.SetFolderStateText(text);
  }
  if (changed.isIntegral()) controller_.model().folder.lastRequestedChangeCount.store(changed.asUInt64());
  return true;
}

}  // namespace orlin::cli
