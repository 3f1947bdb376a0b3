#pragma once
// Orlin's ties into the desktop besides its windows: starting with the user's
// session, and an "Orlin" entry in the file manager's computer view that
// opens Orlin.
//
// Both live in the registry below HKEY_CURRENT_USER (the Run value "Orlin";
// the namespace entry of the file manager under Orlin's CLSID). On POSIX the
// registry is Orlin's own store, so the session's real mechanisms are kept in
// step with it (platform/autostart.h): an XDG autostart entry, and a
// file-manager place for the sync folder, which is the nearest thing those
// file managers have to an entry in the computer view.
//
// Threads: any one thread at a time (the settings apply worker, the start-up
// thread). The controller keeps the flags in its settings record; this class
// only reads and changes the desktop.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/autostart.h"
#include "platform/registry.h"

namespace orlin {

inline constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kRunValueName[] = L"Orlin";
inline constexpr wchar_t kNamespaceClsid[] = L"{A5F4E1C4-B6E2-4E9A-8865-BDBC5DEE6598}";
inline constexpr wchar_t kNamespaceKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MyComputer\\NameSpace\\"
    L"{A5F4E1C4-B6E2-4E9A-8865-BDBC5DEE6598}";
inline constexpr wchar_t kClsidKey[] = L"SOFTWARE\\Classes\\CLSID\\{A5F4E1C4-B6E2-4E9A-8865-BDBC5DEE6598}";
inline constexpr wchar_t kEntryName[] = L"Orlin";

// Longest executable path the entries are made for.
inline constexpr std::size_t kMaxExecutablePathChars = 260;

// Opens HKEY_CURRENT_USER; each operation opens it afresh.
using CurrentUserOpener = std::function<std::unique_ptr<platform::Registry>()>;

struct DesktopIntegrationConfig {
  // Where the registry lives (tests use a scratch store); used when
  // `openCurrentUser` is empty.
  platform::RegistryLocation registry;
  // Opens the registry; empty = a CRegistry at `registry`.
  CurrentUserOpener openCurrentUser;
  // Where the session's autostart entry and file-manager places live.
  platform::SessionLocation session;
  // The full path of the running executable; empty = platform::ExecutablePath().
  std::filesystem::path executable;
};

// Outcome of creating the namespace entry. On failure `failedKey` names the
// key that could not be made (the CLSID string, "DefaultIcon", "Shell" or
// "Command"; "bookmarks" for the POSIX file-manager place), or is empty when
// the executable path itself was unavailable; the steps after it were
// skipped.
struct NamespaceEntryResult {
  bool ok = false;
  std::wstring failedKey;
};

class DesktopIntegration {
 public:
  explicit DesktopIntegration(DesktopIntegrationConfig config = {});

  const std::filesystem::path& Executable() const { return executable_; }

  // True when the Run value "Orlin" exists and equals the executable's full
  // path exactly (case-sensitive), and the session's own autostart entry, if
  // the platform has one, starts it. A moved executable, or a path too long
  // to read back, reads as off.
  bool AutostartEnabled() const;
  // Writes or deletes the Run value (and the session entry). Failures are
  // silent: the next AutostartEnabled shows the real state.
  void SetAutostart(bool enabled) const;

  // True when both the CLSID's Shell\Open\Command key and the namespace key
  // can be opened (and, where the platform has one, the file-manager place
  // exists).
  bool NamespaceEntryPresent() const;
  // Creates the entry; `syncFolder` is what the POSIX file-manager place
  // shows (Windows ignores it). Stops at the first key that cannot be made.
  NamespaceEntryResult CreateNamespaceEntry(const std::filesystem::path& syncFolder) const;
  // Deletes the namespace key and the CLSID key with their sub-keys; failures
  // are reported on the console only.
  void RemoveNamespaceEntry() const;

 private:
  CurrentUserOpener openCurrentUser_;
  platform::SessionLocation session_;
  std::filesystem::path executable_;
};

}  // namespace orlin
