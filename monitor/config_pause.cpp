#include "monitor/config_pause.h"

#include <cJSON.h>

#include <memory>

namespace orlin {
namespace {

struct JsonDeleter {
  void operator()(cJSON* json) const { cJSON_Delete(json); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

}  // namespace

PauseEditResult SetFoldersPaused(std::string_view configuration, std::string_view folderId, bool paused) {
  PauseEditResult result;
  JsonPtr root(cJSON_ParseWithLength(configuration.data(), configuration.size()));
  if (!root || !cJSON_IsObject(root.get())) return result;
  cJSON* folders = cJSON_GetObjectItemCaseSensitive(root.get(), "folders");
  if (!cJSON_IsArray(folders)) return result;

  result.outcome = PauseEdit::kUnknownFolder;
  if (folderId.empty()) return result;
  cJSON* folder = nullptr;
  cJSON_ArrayForEach(folder, folders) {
    const cJSON* id = cJSON_GetObjectItemCaseSensitive(folder, "id");
    if (!cJSON_IsString(id) || id->valuestring == nullptr || folderId != id->valuestring) return result;
  }
  cJSON_ArrayForEach(folder, folders) {
    if (cJSON_GetObjectItemCaseSensitive(folder, "paused") != nullptr) {
      cJSON_ReplaceItemInObjectCaseSensitive(folder, "paused", cJSON_CreateBool(paused));
    } else {
      cJSON_AddBoolToObject(folder, "paused", paused);
    }
  }
  std::unique_ptr<char, decltype(&cJSON_free)> text(cJSON_PrintUnformatted(root.get()), cJSON_free);
  if (!text) {
    result.outcome = PauseEdit::kNotParsable;
    return result;
  }
  result.outcome = PauseEdit::kEdited;
  result.document = text.get();
  return result;
}

}  // namespace orlin
