// pause, resume, refresh, revert and override.

#include <iostream>

#include "cli.h"
#include "common/text.h"
#include "engine/config_file.h"
#include "monitor/config_pause.h"
#include "platform/http_client.h"

namespace orlin::cli {
namespace {

constexpr const wchar_t kConfigUrl[] = L"http://localhost:18384/rest/system/config";

bool NeedsLogin(Context& context, const char* command) {
  if (!context.controller.LoginNeeded()) return false;
  context.err << "orlin-cli " << command << ": not logged in\n";
  return true;
}

// What the status poller does with a pause or resume: the configuration
// with every folder's `paused` set, posted back.
int SetPaused(Context& context, bool paused, const char* command) {
  if (NeedsLogin(context, command)) return kExitFailed;
  const std::string folderId = ReadFolderIdentifier(context.controller.layout().EngineConfig());
  const std::wstring header = L"X-API-Key: " + Utf8ToWide(context.controller.ApiKey());
  platform::CHttpClient http(platform::kHttpUserAgent);
  std::wstring configuration;
  if (http.Get(kConfigUrl, header, configuration) != platform::kHttpSuccess) {
    context.err << "orlin-cli " << command << ": the engine does not answer\n";
    return kExitFailed;
  }
  const PauseEditResult edit = SetFoldersPaused(WideToUtf8(configuration), folderId, paused);
  if (edit.outcome != PauseEdit::kEdited) {
    context.err << "orlin-cli " << command << ": the engine does not share the folder " << folderId << " yet\n";
    return kExitFailed;
  }
  std::wstring answer;
  if (http.JsonPost(kConfigUrl, header, Utf8ToWide(edit.document), answer) != platform::kHttpSuccess) {
    context.err << "orlin-cli " << command << ": the engine refused: " << WideToUtf8(answer) << "\n";
    return kExitFailed;
  }
  context.out << (paused ? "paused\n" : "resumed\n");
  return kExitOk;
}

int Report(Context& context, EngineCommands::Outcome outcome, const char* command, const char* done) {
  switch (outcome) {
    case EngineCommands::Outcome::kDone:
      context.out << done << "\n";
      return kExitOk;
    case EngineCommands::Outcome::kNothingToDo:
      context.err << "orlin-cli " << command << ": the folder is not known yet\n";
      return kExitFailed;
    case EngineCommands::Outcome::kGaveUp:
      context.err << "orlin-cli " << command << ": the engine did not finish in time\n";
      return kExitFailed;
    case EngineCommands::Outcome::kFailed:
      return kExitFailed;  // the message has been shown
  }
  return kExitFailed;
}

}  // namespace

int Pause(Context& context) { return SetPaused(context, true, "pause"); }
int Resume(Context& context) { return SetPaused(context, false, "resume"); }

int Refresh(Context& context) {
  context.controller.commands().Refresh(0);
  context.out << "refreshed\n";
  return kExitOk;
}

int Revert(Context& context) {
  if (NeedsLogin(context, "revert")) return kExitFailed;
  FolderWatch watch(context.controller);
  watch.Refresh();
  return Report(context, context.controller.commands().Revert(), "revert", "reverted");
}

int Override(Context& context) {
  if (NeedsLogin(context, "override")) return kExitFailed;
  FolderWatch watch(context.controller);
  watch.Refresh();
  return Report(context, context.controller.commands().Override(), "override", "overridden");
}

}  // namespace orlin::cli
