#pragma once
// The user-adjustable settings as one plain value. The controller keeps one,
// the main window and the settings window work on copies; comparing two
// records tells the settings apply what changed.

#include <cstdint>
#include <string>

namespace orlin {

// Folder types as stored in config.xml ("sendreceive", "sendonly", "receiveonly").
inline constexpr std::int32_t kFolderSendReceive = 0;
inline constexpr std::int32_t kFolderSendOnly = 1;
inline constexpr std::int32_t kFolderReceiveOnly = 2;

// Pull orders as stored in config.xml ("random", "alphabetic", "smallestFirst",
// "largestFirst", "oldestFirst", "newestFirst").
inline constexpr std::int32_t kPullRandom = 0;
inline constexpr std::int32_t kPullAlphabetic = 1;
inline constexpr std::int32_t kPullSmallestFirst = 2;
inline constexpr std::int32_t kPullLargestFirst = 3;
inline constexpr std::int32_t kPullOldestFirst = 4;
inline constexpr std::int32_t kPullNewestFirst = 5;

struct SyncSettings {
  std::wstring language;        // "en" or "zh_cn" (lang.xml)
  std::wstring syncFolderPath;  // full path of the synchronised folder
  std::wstring ignoreText;      // content of .stignore in the sync folder
  std::wstring deviceId;        // this computer's engine device ID (63 characters when valid)
  std::int32_t receiveLimit = 0;  // options/maxRecvKbps, kbit/s, 0 = unlimited
  std::int32_t sendLimit = 0;     // options/maxSendKbps, kbit/s, 0 = unlimited
  std::int32_t versionsKept = 0;  // the versioning "keep" parameter, 0 = no versioning
  std::int32_t folderType = kFolderSendReceive;
  std::int32_t dpi = 0;  // 96 to 192 once read from setting.xml
  std::int32_t pullOrder = kPullLargestFirst;
  bool autostart = true;           // start with the user's session
  bool defaultLocation = true;     // the user's `default` flag in userconfig.xml
  bool showInMyComputer = false;   // namespace entry in the file manager
  bool hideFromTaskbar = false;    // `WndStyles` of setting.xml

  bool operator==(const SyncSettings&) const = default;
};

}  // namespace orlin
