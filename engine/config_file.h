#pragma once
// Every read and edit Orlin makes to the engine's config.xml.
//
// The engine owns the file and creates it on its first run; Orlin never
// writes it from scratch. Each operation loads the whole file, reads or
// changes the few elements named below, and (when it changed something)
// saves the whole file indented, through a temporary file and a rename, so
// the engine never sees half a file. Nothing is locked: the caller pauses the
// engine before it edits (the engine may rewrite the file while it runs).
//
// Elements used (below the root; "folder" is the first `folder`):
//   folder@id, folder@path, folder@type, folder/order,
//   folder/versioning@type with its first param@val (key "keep"),
//   folder/device (the server, added at login), the root `device` of the
//   server, options/maxSendKbps, options/maxRecvKbps, gui/apikey.
//
// Threads: an EngineConfigFile holds no state besides the path and the
// presenter; any thread may call it. Reads run on the controller's start-up
// thread, writes on the settings-apply worker, the registration on the login
// worker.

#include <filesystem>
#include <string>
#include <string_view>

#include "engine/sync_settings.h"

namespace orlin {

class MessagePresenter;

// True when `id` has the shape of an engine device ID: 63 characters, eight
// groups of seven characters from A-Z and 2-7 joined by "-". The engine
// refuses to start with a device entry of any other shape.
bool IsWellFormedDeviceId(std::string_view id);
bool IsWellFormedDeviceId(std::wstring_view id);

// The `id` of the first `folder` of the configuration at `configPath`, or ""
// when the file is missing, cannot be parsed or has no `folder`. No message.
std::string ReadFolderIdentifier(const std::filesystem::path& configPath);

// What state the configuration file is in, as far as Orlin can tell without
// the engine.
enum class ConfigFileState {
  kMissing,     // no such file (the engine writes it on its first run)
  kUnreadable,  // it exists but cannot be opened or read
  kDamaged,     // cut short, not well-formed XML, or not the engine's configuration
  kReadable,    // an engine configuration with `folder`, `options` and `gui`
};
ConfigFileState InspectConfigFile(const std::filesystem::path& configPath);

enum class RegistrationResult {
  kRegistered,         // saved (whether or not anything had to be added) and marker created
  kInvalidDeviceId,    // the server's device ID is not well formed: nothing written
  kConfigUnreadable,   // missing or without `folder`: nothing written
  kConfigDamaged,      // there, but damaged (see ConfigFileState): nothing written
  kSaveFailed,         // config.xml or the marker could not be written
};

class EngineConfigFile {
 public:
  // `presenter` shows "SyncConfig_Failed_Msg" when the file cannot be loaded;
  // it must outlive this object.
  EngineConfigFile(std::filesystem::path configPath, MessagePresenter& presenter);

  const std::filesystem::path& path() const { return configPath_; }

  // ---- Reads. Each copies what it read into `settings` (or `apiKey`) and
  // returns true. When the file is missing or cannot be read it shows
  // "SyncConfig_Failed_Msg"; when it is damaged (not an engine configuration
  // with `folder`, `options` and `gui`, or a value that is not a number where
  // one is needed) "SyncConfig_Damaged_Msg" (title "Orlin", no Cancel). Then
  // it leaves the values as they were and returns false.

  // options/maxSendKbps -> sendLimit, options/maxRecvKbps -> receiveLimit;
  // each only when its element exists.
  bool ReadRateLimits(SyncSettings& settings) const;
  // versionsKept := first param@val when folder/versioning@type is "simple"
  // (0 when the parameter is missing); unchanged for any other type.
  bool ReadVersioning(SyncSettings& settings) const;
  // syncFolderPath := folder@path.
  bool ReadFolderPath(SyncSettings& settings) const;
  // folderType := folder@type; an unknown word leaves it unchanged.
  bool ReadFolderType(SyncSettings& settings) const;
  // pullOrder := folder/order; an unknown word leaves it unchanged. While
  // `loginNeeded`, the order is forced to smallest first, in the record and
  // in the file (saved).
  bool ReadPullOrder(SyncSettings& settings, bool loginNeeded) const;
  // apiKey := gui/apikey.
  bool ReadApiKey(std::string& apiKey) const;

  // ---- Writes. Each returns true when the file was saved. A file that
  // cannot be loaded shows "SyncConfig_Failed_Msg" (or, when it is there but
  // damaged, "SyncConfig_Damaged_Msg"; no Cancel), is left as it is, and the
  // write returns false; a missing element returns false without a message and without
  // creating the element.

  // Replaces the children of folder/versioning: for versionsKept > 0,
  // type="simple" and <param val="N" key="keep"/>; otherwise no attributes
  // and no children.
  bool WriteVersioning(const SyncSettings& settings) const;
  bool WriteFolderType(const SyncSettings& settings) const;  // false for a type outside 0..2
  bool WritePullOrder(const SyncSettings& settings) const;   // false for an order outside 0..5
  // Sets the existing options/maxSendKbps and options/maxRecvKbps.
  bool WriteRateLimits(const SyncSettings& settings) const;
  bool WriteFolderPath(const SyncSettings& settings) const;

  // Adds the Tarn server (device ID `serverDeviceId`) as a device of the
  // engine and a sharer of the folder, and names the folder `userName` +
  // `serverDeviceId`; then creates the empty login marker
  // "<config path>.configured". Adding the same server again adds nothing.
  // No message in any case.
  RegistrationResult RegisterServer(const std::wstring& userName, const std::string& serverDeviceId) const;

 private:
  std::filesystem::path configPath_;
  MessagePresenter& presenter_;
};

}  // namespace orlin
