#pragma once
// The desktop session's own entries that go with the registry values of the
// autostart and file-manager settings.
//
// POSIX (freedesktop.org desktops):
//   - session autostart: the desktop entry $XDG_CONFIG_HOME/autostart/orlin.desktop,
//     which starts Orlin when the user's desktop session starts;
//   - file-manager place: a line "<file URI> Orlin" in the GTK bookmarks file
//     $XDG_CONFIG_HOME/gtk-3.0/bookmarks, which file managers show in their
//     side bar.
// Windows: the registry values are the whole mechanism; these calls do
// nothing, "write" and "remove" succeed, "present" answers true and
// SessionConfigHome is empty.
//
// Threads: any thread; calls on the same files are not serialised.

#include <filesystem>
#include <string>

namespace orlin::platform {

// True where the session keeps entries of its own that the calls below
// manage (POSIX); false where the registry is the whole mechanism (Windows).
bool SessionEntriesSupported();

// Where the session's configuration lives. Empty means $XDG_CONFIG_HOME, or
// ~/.config when it is unset or not absolute.
struct SessionLocation {
  std::filesystem::path configHome;
};

std::filesystem::path SessionConfigHome(const SessionLocation& location);

// Writes (replaces) the autostart entry that starts `executable`.
bool WriteSessionAutostart(const std::filesystem::path& executable, const SessionLocation& location = {});
// Removes the autostart entry; true when it is gone afterwards.
bool RemoveSessionAutostart(const SessionLocation& location = {});
// True when the autostart entry exists, is enabled and starts exactly `executable`.
bool SessionAutostartStarts(const std::filesystem::path& executable, const SessionLocation& location = {});

// Adds (or moves) the file-manager place named `label` so that it shows `folder`.
bool AddFileManagerPlace(const std::filesystem::path& folder, const std::wstring& label,
                         const SessionLocation& location = {});
// Removes every place named `label`; true when none is left afterwards.
bool RemoveFileManagerPlace(const std::wstring& label, const SessionLocation& location = {});
// True when a place named `label` exists.
bool FileManagerPlaceExists(const std::wstring& label, const SessionLocation& location = {});

}  // namespace orlin::platform
