#pragma once
// The main window's texts: every text id of its skin, toolbar, status area,
// list headers, tray menu and status keys, in English and Simplified
// Chinese. The main window answers the DirectUI text queries from here, and
// orlin-cli prints status keys with it.

#include <optional>
#include <string>
#include <string_view>

namespace orlin {

struct MainTextEntry {
  const wchar_t* id;
  const wchar_t* english;  // nullptr: no text in English
  const wchar_t* chinese;  // nullptr: no text in Chinese
};

// The counts appended to the three composed button texts.
struct MainTextCounts {
  std::wstring unsynced;       // after "UnSync_Btn"
  std::wstring failed;         // after "Error_Btn"
  std::wstring remoteDevices;  // after "Remote_Devices_Btn"
};

class MainTextTable {
 public:
  // The text of `id` (compared without regard to case): English when
  // `language` is exactly "en", Chinese otherwise. nullopt for an id that is
  // not in the table or has no text in that language, so a control keeps its
  // own text.
  static std::optional<std::wstring> Lookup(std::wstring_view id, std::wstring_view language,
                                            const MainTextCounts& counts = {});
  static std::size_t Size();
};

}  // namespace orlin
