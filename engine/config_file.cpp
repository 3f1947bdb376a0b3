#include "engine/config_file.h"

#include <tinyxml2.h>

#include <array>
#include <charconv>
#include <cstring>
#include <optional>
#include <utility>

#include "common/atomic_file.h"
#include "common/message_presenter.h"
#include "common/text.h"

namespace orlin {
namespace {

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;

constexpr const wchar_t* kTitle = L"Orlin";
constexpr const wchar_t* kLoadFailedKey = L"SyncConfig_Failed_Msg";
constexpr const wchar_t* kDamagedKey = L"SyncConfig_Damaged_Msg";

constexpr std::array<const char*, 3> kFolderTypes = {"sendreceive", "sendonly", "receiveonly"};
constexpr std::array<const char*, 6> kPullOrders = {"random",       "alphabetic", "smallestFirst",
                                                    "largestFirst", "oldestFirst", "newestFirst"};

// The engine's own file is parsed as every state file is: entities
// processed, whitespace inside text kept.
class ConfigDocument : public XMLDocument {
 public:
  ConfigDocument() : XMLDocument(/*processEntities=*/true, tinyxml2::PRESERVE_WHITESPACE) {}
};

// False when the file cannot be read, is not well-formed XML or has no root.
bool Load(const std::filesystem::path& file, ConfigDocument& doc) {
  std::string data;
  if (!ReadWholeFile(file, data)) return false;
  if (doc.Parse(data.data(), data.size()) != tinyxml2::XML_SUCCESS) return false;
  return doc.RootElement() != nullptr;
}

bool Save(const ConfigDocument& doc, const std::filesystem::path& file) {
  tinyxml2::XMLPrinter printer(nullptr, /*compact=*/false);
  if (doc.HasBOM()) printer.PushHeader(/*writeBOM=*/true, /*writeDeclaration=*/false);
  // Text outside the root element is no content of the configuration.
  // tinyxml2 reads such text when a tag follows it but not when it ends the
  // file, which is where it would be printed: a save would make a readable
  // file unreadable. It is left out.
  for (const tinyxml2::XMLNode* node = doc.FirstChild(); node != nullptr; node = node->NextSibling()) {
    if (node->ToText() == nullptr) node->Accept(&printer);
  }
  // CStrSize() counts the terminating NUL.
  const std::string_view text(printer.CStr(), static_cast<std::size_t>(printer.CStrSize() - 1));
  return !WriteFileAtomically(file, text);
}

XMLElement* Child(XMLElement* parent, const char* name) {
  return parent ? parent->FirstChildElement(name) : nullptr;
}

// Reads count as engine configuration only what the engine itself writes:
// a root with `folder`, `options` and `gui`. Anything else (a truncated
// file, some other XML) is reported instead of half-read.
XMLElement* ConfigRoot(ConfigDocument& doc) {
  XMLElement* root = doc.RootElement();
  if (!Child(root, "folder") || !Child(root, "options") || !Child(root, "gui")) return nullptr;
  return root;
}

// A whole decimal 32-bit integer, surrounding blanks allowed; nothing else.
std::optional<std::int32_t> ParseInt(const char* text) {
  if (!text) return std::nullopt;
  std::string_view s(text);
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

template <std::size_t N>
std::optional<std::int32_t> IndexOf(const std::array<const char*, N>& names, const char* word) {
  if (!word) return std::nullopt;
  for (std::size_t i = 0; i < N; ++i) {
    if (std::strcmp(names[i], word) == 0) return static_cast<std::int32_t>(i);
  }
  return std::nullopt;
}

template <typename Char>
bool WellFormedDeviceId(std::basic_string_view<Char> id) {
  constexpr std::size_t kGroups = 8;
  constexpr std::size_t kGroupLength = 7;
  if (id.size() != kGroups * kGroupLength + kGroups - 1) return false;
  for (std::size_t i = 0; i < id.size(); ++i) {
    const Char c = id[i];
    if (i % (kGroupLength + 1) == kGroupLength) {
      if (c != Char('-')) return false;
    } else if (!((c >= Char('A') && c <= Char('Z')) || (c >= Char('2') && c <= Char('7')))) {
      return false;
    }
  }
  return true;
}

XMLElement* FindDeviceChild(XMLElement* parent, const std::string& deviceId) {
  for (XMLElement* d = parent->FirstChildElement("device"); d; d = d->NextSiblingElement("device")) {
    const char* id = d->Attribute("id");
    if (id && deviceId == id) return d;
  }
  return nullptr;
}

// The message for a file that could not be used: damaged when it is there
// and readable, "does not exist" otherwise.
const wchar_t* LoadFailureKey(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::exists(file, error)) return kLoadFailedKey;
  std::string data;
  return ReadWholeFile(file, data) ? kDamagedKey : kLoadFailedKey;
}

}  // namespace

bool IsWellFormedDeviceId(std::string_view id) { return WellFormedDeviceId(id); }
bool IsWellFormedDeviceId(std::wstring_view id) { return WellFormedDeviceId(id); }

ConfigFileState InspectConfigFile(const std::filesystem::path& configPath) {
  std::error_code error;
  if (!std::filesystem::exists(configPath, error)) return ConfigFileState::kMissing;
  std::string data;
  if (!ReadWholeFile(configPath, data)) return ConfigFileState::kUnreadable;
  ConfigDocument doc;
  if (doc.Parse(data.data(), data.size()) != tinyxml2::XML_SUCCESS || !doc.RootElement() || !ConfigRoot(doc)) {
    return ConfigFileState::kDamaged;
  }
  return ConfigFileState::kReadable;
}

std::string ReadFolderIdentifier(const std::filesystem::path& configPath) {
  ConfigDocument doc;
  if (!Load(configPath, doc)) return {};
  XMLElement* folder = Child(doc.RootElement(), "folder");
  const char* id = folder ? folder->Attribute("id") : nullptr;
  return id ? std::string(id) : std::string();
}

EngineConfigFile::EngineConfigFile(std::filesystem::path configPath, MessagePresenter& presenter)
    : configPath_(std::move(configPath)), presenter_(presenter) {}

namespace {

// Shared frame of the reads: load, check, let `read` pick the values into a
// scratch copy, and hand them over only when everything was readable.
template <typename Value, typename ReadFn>
bool ReadInto(const std::filesystem::path& path, MessagePresenter& presenter, Value& target, ReadFn read) {
  ConfigDocument doc;
  XMLElement* root = Load(path, doc) ? ConfigRoot(doc) : nullptr;
  Value scratch = target;
  if (!root || !read(root, scratch)) {
    presenter.ShowMessage(kTitle, root ? kDamagedKey : LoadFailureKey(path), /*showCancel=*/false);
    return false;
  }
  target = std::move(scratch);
  return true;
}

}  // namespace

bool EngineConfigFile::ReadRateLimits(SyncSettings& settings) const {
  return ReadInto(configPath_, presenter_, settings, [](XMLElement* root, SyncSettings& s) {
    XMLElement* options = Child(root, "options");
    if (XMLElement* send = Child(options, "maxSendKbps")) {
      const auto value = ParseInt(send->GetText());
      if (!value) return false;
      s.sendLimit = *value;
    }
    if (XMLElement* recv = Child(options, "maxRecvKbps")) {
      const auto value = ParseInt(recv->GetText());
      if (!value) return false;
      s.receiveLimit = *value;
    }
    return true;
  });
}

bool EngineConfigFile::ReadVersioning(SyncSettings& settings) const {
  return ReadInto(configPath_, presenter_, settings, [](XMLElement* root, SyncSettings& s) {
    XMLElement* versioning = Child(Child(root, "folder"), "versioning");
    const char* type = versioning ? versioning->Attribute("type") : nullptr;
    if (!type || std::strcmp(type, "simple") != 0) return true;
    XMLElement* param = Child(versioning, "param");
    const char* val = param ? param->Attribute("val") : nullptr;
    if (!val) {
      s.versionsKept = 0;
      return true;
    }
    const auto value = ParseInt(val);
    if (!value) return false;
    s.versionsKept = *value;
    return true;
  });
}

bool EngineConfigFile::ReadFolderPath(SyncSettings& settings) const {
  return ReadInto(configPath_, presenter_, settings, [](XMLElement* root, SyncSettings& s) {
    if (const char* path = Child(root, "folder")->Attribute("path")) s.syncFolderPath = Utf8ToWide(path);
    return true;
  });
}

bool EngineConfigFile::ReadFolderType(SyncSettings& settings) const {
  return ReadInto(configPath_, presenter_, settings, [](XMLElement* root, SyncSettings& s) {
    if (auto type = IndexOf(kFolderTypes, Child(root, "folder")->Attribute("type"))) s.folderType = *type;
    return true;
  });
}

bool EngineConfigFile::ReadPullOrder(SyncSettings& settings, bool loginNeeded) const {
  ConfigDocument doc;
  XMLElement* root = Load(configPath_, doc) ? ConfigRoot(doc) : nullptr;
  if (!root) {
    presenter_.ShowMessage(kTitle, LoadFailureKey(configPath_), /*showCancel=*/false);
    return false;
  }
  XMLElement* order = Child(Child(root, "folder"), "order");
  if (order) {
    if (auto value = IndexOf(kPullOrders, order->GetText())) settings.pullOrder = *value;
  }
  if (!loginNeeded) return true;
  // Before the first login the engine fetches small files first, so the
  // user sees many files arrive early.
  settings.pullOrder = kPullSmallestFirst;
  if (!order) return true;
  order->SetText(kPullOrders[kPullSmallestFirst]);
  return Save(doc, configPath_);
}

bool EngineConfigFile::ReadApiKey(std::string& apiKey) const {
  return ReadInto(configPath_, presenter_, apiKey, [](XMLElement* root, std::string& key) {
    if (XMLElement* element = Child(Child(root, "gui"), "apikey")) {
      const char* text = element->GetText();
      key = text ? text : "";
    }
    return true;
  });
}

namespace {

// Shared frame of the writes: load (message on failure), let `edit` change
// the document (false: an element it needs is missing), save.
template <typename EditFn>
bool Edit(const std::filesystem::path& path, MessagePresenter& presenter, EditFn edit) {
  ConfigDocument doc;
  if (!Load(path, doc)) {
    presenter.ShowMessage(kTitle, LoadFailureKey(path), /*showCancel=*/false);
    return false;
  }
  if (!edit(doc.RootElement())) return false;
  return Save(doc, path);
}

}  // namespace

bool EngineConfigFile::WriteVersioning(const SyncSettings& settings) const {
  return Edit(configPath_, presenter_, [&](XMLElement* root) {
    XMLElement* versioning = Child(Child(root, "folder"), "versioning");
    if (!versioning) return false;
    versioning->DeleteChildren();
    if (settings.versionsKept > 0) {
      versioning->SetAttribute("type", "simple");
      XMLElement* param = versioning->GetDocument()->NewElement("param");
      param->SetAttribute("val", settings.versionsKept);
      param->SetAttribute("key", "keep");
      versioning->InsertEndChild(param);
    } else {
      versioning->DeleteAttribute("type");
    }
    return true;
  });
}

bool EngineConfigFile::WriteFolderType(const SyncSettings& settings) const {
  if (settings.folderType < 0 || settings.folderType >= static_cast<std::int32_t>(kFolderTypes.size())) return false;
  return Edit(configPath_, presenter_, [&](XMLElement* root) {
    XMLElement* folder = Child(root, "folder");
    if (!folder) return false;
    folder->SetAttribute("type", kFolderTypes[static_cast<std::size_t>(settings.folderType)]);
    return true;
  });
}

bool EngineConfigFile::WritePullOrder(const SyncSettings& settings) const {
  if (settings.pullOrder < 0 || settings.pullOrder >= static_cast<std::int32_t>(kPullOrders.size())) return false;
  return Edit(configPath_, presenter_, [&](XMLElement* root) {
    XMLElement* order = Child(Child(root, "folder"), "order");
    if (!order) return false;
    order->SetText(kPullOrders[static_cast<std::size_t>(settings.pullOrder)]);
    return true;
  });
}

bool EngineConfigFile::WriteRateLimits(const SyncSettings& settings) const {
  return Edit(configPath_, presenter_, [&](XMLElement* root) {
    XMLElement* options = Child(root, "options");
    if (!options) return false;
    if (XMLElement* send = Child(options, "maxSendKbps")) send->SetText(settings.sendLimit);
    if (XMLElement* recv = Child(options, "maxRecvKbps")) recv->SetText(settings.receiveLimit);
    return true;
  });
}

bool EngineConfigFile::WriteFolderPath(const SyncSettings& settings) const {
  return Edit(configPath_, presenter_, [&](XMLElement* root) {
    XMLElement* folder = Child(root, "folder");
    if (!folder) return false;
    folder->SetAttribute("path", WideToUtf8(settings.syncFolderPath).c_str());
    return true;
  });
}

RegistrationResult EngineConfigFile::RegisterServer(const std::wstring& userName,
                                                    const std::string& serverDeviceId) const {
  // A malformed device entry would stop the engine from starting at all.
  if (!IsWellFormedDeviceId(serverDeviceId)) return RegistrationResult::kInvalidDeviceId;

  ConfigDocument doc;
  if (!Load(configPath_, doc)) {
    return LoadFailureKey(configPath_) == kDamagedKey ? RegistrationResult::kConfigDamaged
                                                      : RegistrationResult::kConfigUnreadable;
  }
  XMLElement* root = doc.RootElement();
  XMLElement* folder = Child(root, "folder");
  // Without a folder there is nothing to share with the server; creating the
  // login marker anyway would claim an account that can never sync.
  if (!folder) return RegistrationResult::kConfigUnreadable;

  folder->SetAttribute("id", (WideToUtf8(userName) + serverDeviceId).c_str());

  if (!FindDeviceChild(folder, serverDeviceId)) {
    XMLElement* sharer = doc.NewElement("device");
    sharer->SetAttribute("id", serverDeviceId.c_str());
    sharer->SetAttribute("introducedBy", "");
    XMLElement* lastDevice = nullptr;
    for (XMLElement* d = folder->FirstChildElement("device"); d; d = d->NextSiblingElement("device")) lastDevice = d;
    if (lastDevice) {
      folder->InsertAfterChild(lastDevice, sharer);
    } else {
      folder->InsertEndChild(sharer);
    }
  }

  if (!FindDeviceChild(root, serverDeviceId)) {
    XMLElement* device = doc.NewElement("device");
    device->SetAttribute("id", serverDeviceId.c_str());
    device->SetAttribute("name", "Orlin");
    device->SetAttribute("compression", "metadata");
    device->SetAttribute("introducer", "true");
    device->SetAttribute("skipIntroductionRemovals", "false");
    device->SetAttribute("introducedBy", "");
    device->InsertNewChildElement("address")->SetText("dynamic");
    device->InsertNewChildElement("paused")->SetText("false");
    root->InsertAfterChild(folder, device);
  }

  if (!Save(doc, configPath_)) return RegistrationResult::kSaveFailed;
  // The login marker is not made here: the login writes it once, whole, with
  // the credentials. An empty marker made first would, if the login ended
  // right after it, stand for a signed-in account whose credentials cannot be
  // read.
  return RegistrationResult::kRegistered;
}

}  // namespace orlin
