// Pausing and resuming rewrite the engine's whole configuration
// (system/config): `paused` set on every folder, everything else posted
// back as the engine sent it, integers exact.
#include <json/json.h>

#include <memory>

#include "fuzz/fuzz_support.h"
#include "monitor/config_pause.h"

namespace orlin::fuzz {
namespace {

// Standard JSON; with `uniqueKeys` also no name twice in an object (JSON
// allows that, but cJSON keeps both where jsoncpp keeps the last, so the
// exact comparison needs unique names).
bool ParseExact(std::string_view text, Json::Value& out, bool uniqueKeys = true) {
  Json::CharReaderBuilder builder;
  Json::CharReaderBuilder::strictMode(&builder.settings_);
  builder["rejectDupKeys"] = uniqueKeys;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  try {
    return reader->parse(text.data(), text.data() + text.size(), &out, nullptr);
  } catch (const std::exception&) {
    return false;
  }
}

// cJSON holds strings as C strings, so a string with a NUL in it (raw or as
// \u0000) comes back cut at the NUL; and raw control characters, which JSON
// does not allow in strings, are read differently by the two readers. The
// engine sends neither, so the exact comparison leaves such texts out.
bool BothReadersAgreeOn(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
  }
  return text.find("\\u0000") == std::string_view::npos;
}

void Run(std::string_view configuration, bool paused) {
  const PauseEditResult edit = SetFoldersPaused(configuration, "default", paused);
  if (edit.outcome != PauseEdit::kEdited) {
    FUZZ_CHECK(edit.document.empty(), "nothing to post unless edited");
    return;
  }
  Json::Value posted;
  FUZZ_CHECK(ParseExact(edit.document, posted, /*uniqueKeys=*/false), "the posted configuration is JSON");
  FUZZ_CHECK(posted.isObject() && posted["folders"].isArray(), "the posted configuration keeps its folders");
  for (const Json::Value& folder : posted["folders"]) {
    FUZZ_CHECK(folder["paused"].isBool() && folder["paused"].asBool() == paused, "every folder has the flag");
  }
  // The rest is what the engine sent: the same edit on the input, read
  // exactly, gives the same document.
  Json::Value sent;
  if (BothReadersAgreeOn(configuration) && ParseExact(configuration, sent) && sent.isObject() &&
      sent["folders"].isArray()) {
    for (Json::Value& folder : sent["folders"]) folder["paused"] = paused;
    FUZZ_CHECK(sent == posted, "every other member is posted back unchanged");
  }
  // The other direction works on what was posted.
  const PauseEditResult back = SetFoldersPaused(edit.document, "default", !paused);
  FUZZ_CHECK(back.outcome == PauseEdit::kEdited, "a posted configuration can be resumed");
}

}  // namespace
}  // namespace orlin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orlin::fuzz::Run(orlin::fuzz::Bytes(data, size), size % 2 == 0);
  return 0;
}
