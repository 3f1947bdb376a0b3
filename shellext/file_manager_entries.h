#pragma once
// "Using Orlin to Synchronize" in the file managers Linux users have: each
// gets an entry that runs `ravel` with the selected path, with the entry
// text in the language of lang.xml and, where the file manager shows one, the
// help text for a file or a folder.
//
//  - Nautilus (GNOME): a script in nautilus/scripts (its Scripts menu); no
//    extension, which would need the Python bindings installed.
//  - Dolphin (KDE): service menus in kio/servicemenus, one for folders and
//    one for files.
//  - Nemo (Cinnamon): actions in nemo/actions, one for folders, one for
//    files.
//  - Thunar (Xfce): two custom actions in Thunar/uca.xml, a file Thunar
//    shares with the user's own actions: only ours are added or changed.
//
// Installed per user by `orlin` at start-up: a missing entry is written, one
// of ours that says something else (the language changed, the install moved)
// is written again, and a file that is not ours is never touched. The
// packages' uninstall removes them with RemoveFileManagerEntries.

#include <filesystem>
#include <string>
#include <vector>

namespace orlin::ravel {

struct EntryPlaces {
  std::filesystem::path dataHome;    // $XDG_DATA_HOME, else ~/.local/share
  std::filesystem::path configHome;  // $XDG_CONFIG_HOME, else ~/.config
  // From the environment; empty paths when neither it nor HOME says.
  static EntryPlaces FromEnvironment();
};

struct EntriesRun {
  std::vector<std::filesystem::path> written;  // files written or changed
  std::vector<std::string> failures;           // what could not be written, for the log
};

// `ravel` is the program the entries run, `icon` the picture they show.
EntriesRun InstallFileManagerEntries(const EntryPlaces& places, const std::filesystem::path& ravel,
                                     const std::filesystem::path& icon, const std::wstring& language);

// Removes every entry of ours, in both languages; leaves everything else.
EntriesRun RemoveFileManagerEntries(const EntryPlaces& places);

}  // namespace orlin::ravel
