// The settings apply's edit of the running engine's configuration
// (system/config): the folder's path, type, order and versioning and the
// rate limits set, every other member kept.
#include <json/json.h>

#include <memory>

#include "common/text.h"
#include "engine/live_settings.h"
#include "fuzz/fuzz_support.h"

namespace orlin::fuzz {
namespace {

bool ParseJson(std::string_view text, Json::Value& out) {
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  try {
    return reader->parse(text.data(), text.data() + text.size(), &out, nullptr);
  } catch (const std::exception&) {
    return false;
  }
}

void Run(std::string_view configuration, std::size_t variant) {
  SyncSettings settings;
  settings.syncFolderPath = L"/home/\u7528\u6237/Tarn \"Sync\"";
  settings.folderType = static_cast<std::int32_t>(variant % 3);
  settings.pullOrder = static_cast<std::int32_t>(variant % 6);
  settings.versionsKept = static_cast<std::int32_t>(variant % 4);
  settings.sendLimit = 100;
  settings.receiveLimit = 2000;
  LiveSettingsFields fields;
  fields.folderPath = (variant & 1) != 0;
  fields.rateLimits = (variant & 2) != 0;
  fields.folderType = (variant & 4) != 0;
  fields.pullOrder = (variant & 8) != 0;
  fields.versioning = (variant & 16) != 0;

  const LiveEditResult edit = EditEngineConfiguration(configuration, "default", settings, fields);
  if (edit.outcome != LiveEdit::kEdited) return;
  Json::Value posted;
  FUZZ_CHECK(ParseJson(edit.document, posted), "the posted configuration is JSON");
  const Json::Value* folder = nullptr;
  for (const Json::Value& f : posted["folders"]) {
    if (f.isObject() && f["id"] == "default") {
      folder = &f;
      break;
    }
  }
  FUZZ_CHECK(folder != nullptr, "the folder is still there");
  if (fields.folderPath) FUZZ_CHECK((*folder)["path"] == WideToUtf8(settings.syncFolderPath), "path set");
  if (fields.versioning) {
    FUZZ_CHECK((*folder)["versioning"]["type"] == (settings.versionsKept > 0 ? "simple" : ""), "versioning set");
  }
  // The same edit again changes nothing more.
  const LiveEditResult again = EditEngineConfiguration(edit.document, "default", settings, fields);
  FUZZ_CHECK(again.outcome == LiveEdit::kEdited && again.document == edit.document, "the edit is settled");
}

}  // namespace
}  // namespace orlin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orlin::fuzz::Run(orlin::fuzz::Bytes(data, size), size);
  return 0;
}
