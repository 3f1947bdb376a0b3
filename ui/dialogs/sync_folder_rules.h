#pragma once
// What the login window and the sync folder location window ask about sync
// folders before an account is signed in: the location a user chose at an
// earlier login on this computer, and whether a folder is already synced for
// another account. Both are answered from userconfig.xml.
//
// Both questions name the user typed into the login window. The signed-in
// account the controller knows is not that user yet (before a first login it
// is nobody), so asking with it would refuse a returning user's own earlier
// folder as "used by another account".
//
// Threads: any thread (the login window's worker, the UI thread of the sync
// folder window). Failure messages are shown modally on the calling thread.

#include <memory>
#include <optional>
#include <string>

#include "app/store/state_files.h"
#include "common/install_layout.h"
#include "common/message_presenter.h"

namespace orlin {

class SyncFolderRules {
 public:
  virtual ~SyncFolderRules() = default;
  // The entry of `userName`: the folder they chose and whether they keep it
  // as their default location. nullopt when they have none, and when
  // userconfig.xml cannot be read ("UserConfig_Failed_Msg" shown, without
  // Cancel); the login then asks for a folder as for a new user.
  virtual std::optional<UserEntry> SavedLocation(const std::wstring& userName) = 0;
  // True when an entry of another name than `userName` has exactly `path`.
  // False otherwise, and when userconfig.xml cannot be read
  // ("Userconfig_Failed_Msg" shown, with Cancel).
  virtual bool TakenByAnotherAccount(const std::wstring& path, const std::wstring& userName) = 0;
};

// The rules over userconfig.xml of an install directory. Only reads.
class UserConfigFolderRules final : public SyncFolderRules {
 public:
  // `presenter` must outlive this object.
  UserConfigFolderRules(InstallLayout layout, MessagePresenter& presenter);

  std::optional<UserEntry> SavedLocation(const std::wstring& userName) override;
  bool TakenByAnotherAccount(const std::wstring& path, const std::wstring& userName) override;

 private:
  StateFiles files_;
};

// The form in which a chosen folder is compared and kept: trailing
// separators removed (except the root's), so "/home/ann/Sync/" and
// "/home/ann/Sync" are one folder. Empty stays empty.
std::wstring NormalizeFolderPath(std::wstring path);

}  // namespace orlin
