// The engine's config.xml as Orlin reads and edits it: every read, and every
// write followed by the read of what was written.
#include <tinyxml2.h>

#include "common/text.h"
#include "engine/config_file.h"
#include "fuzz/fuzz_support.h"

namespace orlin::fuzz {
namespace {

constexpr char kServerId[] = "VGOIN6S-EJR3IFB-B3XCKNF-MUYE24S-COOLHIR-MG7FUID-A3IKI4M-XBMKGAC";

int CountDevices(const std::filesystem::path& file, bool inFolder) {
  std::string text;
  FUZZ_CHECK(ReadWholeFile(file, text), "the saved file reads");
  tinyxml2::XMLDocument doc;
  FUZZ_CHECK(doc.Parse(text.data(), text.size()) == tinyxml2::XML_SUCCESS, "the saved file parses");
  tinyxml2::XMLElement* parent = doc.RootElement();
  if (inFolder) parent = parent->FirstChildElement("folder");
  int count = 0;
  for (auto* d = parent->FirstChildElement("device"); d; d = d->NextSiblingElement("device")) {
    const char* id = d->Attribute("id");
    if (id && std::string_view(id) == kServerId) ++count;
  }
  return count;
}

void Run(std::string_view bytes, std::size_t variant) {
  const std::filesystem::path file = ScratchDir() / "config.xml";
  WriteInput(file, bytes);
  QuietPresenter presenter;
  EngineConfigFile config(file, presenter);

  const ConfigFileState state = InspectConfigFile(file);
  SyncSettings read;
  std::string apiKey;
  int failures = 0;
  failures += !config.ReadRateLimits(read);
  failures += !config.ReadVersioning(read);
  failures += !config.ReadFolderPath(read);
  failures += !config.ReadFolderType(read);
  failures += !config.ReadPullOrder(read, false);
  const bool keyRead = config.ReadApiKey(apiKey);
  failures += !keyRead;
  FUZZ_CHECK(presenter.shown == failures, "every failed read shows one message");
  FUZZ_CHECK(keyRead == (state == ConfigFileState::kReadable), "the key reads exactly from a readable file");
  if (state != ConfigFileState::kReadable) return;

  // Each write is read back; the key stays what it was.
  SyncSettings wanted = read;
  wanted.folderType = static_cast<std::int32_t>(variant % 3);
  wanted.pullOrder = static_cast<std::int32_t>(variant % 6);
  wanted.versionsKept = static_cast<std::int32_t>(variant % 5);
  wanted.sendLimit = static_cast<std::int32_t>(variant % 1000);
  wanted.receiveLimit = 7;
  wanted.syncFolderPath = L"/home/\u7528\u6237/a&b <\"Sync\">";
  SyncSettings back;
  if (config.WriteFolderType(wanted)) {
    FUZZ_CHECK(config.ReadFolderType(back) && back.folderType == wanted.folderType, "folder type reads back");
  }
  if (config.WritePullOrder(wanted)) {
    FUZZ_CHECK(config.ReadPullOrder(back, false) && back.pullOrder == wanted.pullOrder, "pull order reads back");
  }
  if (config.WriteFolderPath(wanted)) {
    FUZZ_CHECK(config.ReadFolderPath(back) && back.syncFolderPath == wanted.syncFolderPath, "path reads back");
  }
  if (config.WriteVersioning(wanted)) {
    back.versionsKept = -1;
    FUZZ_CHECK(config.ReadVersioning(back), "versioning reads after it was written");
    if (wanted.versionsKept > 0) FUZZ_CHECK(back.versionsKept == wanted.versionsKept, "versions kept read back");
  }
  if (config.WriteRateLimits(wanted)) {
    back = SyncSettings{};
    back.sendLimit = back.receiveLimit = -1;
    FUZZ_CHECK(config.ReadRateLimits(back), "rate limits read after they were written");
    FUZZ_CHECK(back.sendLimit == -1 || back.sendLimit == wanted.sendLimit, "send limit reads back");
    FUZZ_CHECK(back.receiveLimit == -1 || back.receiveLimit == wanted.receiveLimit, "receive limit reads back");
  }
  std::string keyAfter;
  FUZZ_CHECK(config.ReadApiKey(keyAfter) && keyAfter == apiKey, "the key survives the writes");

  // The login's registration, twice: the server is added once, the folder
  // takes its new id, and the file stays the engine's.
  const std::wstring user = variant % 2 ? L"alice" : L"\u7528\u6237&<x>";
  FUZZ_CHECK(config.RegisterServer(user, kServerId) == RegistrationResult::kRegistered, "a readable file registers");
  const int devices = CountDevices(file, false);
  const int sharers = CountDevices(file, true);
  FUZZ_CHECK(devices >= 1 && sharers >= 1, "the server is a device and a sharer of the folder");
  FUZZ_CHECK(config.RegisterServer(user, kServerId) == RegistrationResult::kRegistered, "and registers again");
  FUZZ_CHECK(CountDevices(file, false) == devices && CountDevices(file, true) == sharers, "added once");
  FUZZ_CHECK(ReadFolderIdentifier(file) == WideToUtf8(user) + kServerId, "the folder takes the account's id");
  FUZZ_CHECK(InspectConfigFile(file) == ConfigFileState::kReadable, "a registered file is still readable");
  std::error_code ignored;
  std::filesystem::remove(std::filesystem::path(file) += ".configured", ignored);
}

}  // namespace
}  // namespace orlin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orlin::fuzz::Run(orlin::fuzz::Bytes(data, size), size);
  return 0;
}
