#include "monitor/config_pause.h"

#include <cJSON.h>
#include <json/json.h>

#include <memory>
#include <string>

namespace orlin {
namespace {

struct JsonDeleter {
  void operator()(cJSON* json) const { cJSON_Delete(json); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

// cJSON keeps numbers as doubles and prints them with at most 17
// significant digits, so an integer beyond 2^53 (or one printed in its
// shortest form) would come back changed. The same text read by jsoncpp
// keeps every integer exact: those numbers are put back as raw text.
// The exact decimal text of an integer number, or "" for anything else.
std::string ExactInteger(const cJSON* item, const Json::Value& exact) {
  if (!cJSON_IsNumber(item) || !exact.isIntegral()) return {};
  if (exact.isUInt64()) return std::to_string(exact.asUInt64());
  if (exact.isInt64()) return std::to_string(exact.asInt64());
  return {};
}

void KeepIntegersExact(cJSON* item, const Json::Value& exact) {
  if (cJSON_IsObject(item) && exact.isObject()) {
    cJSON* child = item->child;
    while (child != nullptr) {
      cJSON* next = child->next;
      if (child->string != nullptr && exact.isMember(child->string)) {
        const Json::Value& value = exact[child->string];
        if (const std::string text = ExactInteger(child, value); !text.empty()) {
          const std::string key = child->string;
          cJSON_ReplaceItemInObjectCaseSensitive(item, key.c_str(), cJSON_CreateRaw(text.c_str()));
        } else {
          KeepIntegersExact(child, value);
        }
      }
      child = next;
    }
  } else if (cJSON_IsArray(item) && exact.isArray()) {
    Json::ArrayIndex index = 0;
    cJSON* child = item->child;
    while (child != nullptr && index < exact.size()) {
      cJSON* next = child->next;
      const Json::Value& value = exact[index++];
      if (const std::string text = ExactInteger(child, value); !text.empty()) {
        cJSON_ReplaceItemViaPointer(item, child, cJSON_CreateRaw(text.c_str()));
      } else {
        KeepIntegersExact(child, value);
      }
      child = next;
    }
  }
}

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
  Json::Value exact;
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  if (reader->parse(configuration.data(), configuration.data() + configuration.size(), &exact, nullptr)) {
    KeepIntegersExact(root.get(), exact);
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
