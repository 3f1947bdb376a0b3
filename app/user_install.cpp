#include "app/user_install.h"

#include <algorithm>
#include <system_error>

#include "platform/install_directory.h"

namespace orlin {
namespace fs = std::filesystem;

namespace {

bool IsStateFile(const fs::path& name) {
  return std::any_of(std::begin(kUserStateFiles), std::end(kUserStateFiles),
                     [&](const char* file) { return name == file; });
}

std::string Describe(const fs::path& path, const std::error_code& ec) {
  return path.string() + ": " + ec.message();
}

// A link at `link` to `target`, unless something that is not a link is in
// the way (the user's own file wins).
void EnsureLink(const fs::path& link, const fs::path& target, UserInstallResult& result) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(link, ec);
  if (fs::exists(status)) {
    if (!fs::is_symlink(status)) return;
    if (fs::read_symlink(link, ec) == target && !ec) return;
    fs::remove(link, ec);
    if (ec) {
      result.failures.push_back(Describe(link, ec));
      return;
    }
  }
  // Links to folders (res/, engine/) and to files are made alike on POSIX.
  fs::create_symlink(target, link, ec);
  if (ec) result.failures.push_back(Describe(link, ec));
}

}  // namespace

UserInstallResult LayOutUserInstall(const fs::path& programDir, const fs::path& installDir) {
  UserInstallResult result;
  std::error_code ec;
  if (!fs::is_directory(installDir, ec)) {
    fs::create_directories(installDir, ec);
    if (ec) {
      result.ok = false;
      result.failures.push_back(Describe(installDir, ec));
      return result;
    }
    // The marker holds the scrambled password and the engine home the keys
    // of this device: nobody else has anything to look for here.
    fs::permissions(installDir, fs::perms::owner_all, fs::perm_options::replace, ec);
  }

  for (fs::directory_iterator it(programDir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path name = it->path().filename();
    if (name == platform::kPerUserInstallMarker) continue;
    const fs::path mine = installDir / name;
    if (IsStateFile(name)) {
      std::error_code copyError;
      if (!fs::exists(fs::symlink_status(mine, copyError))) {
        fs::copy_file(it->path(), mine, fs::copy_options::skip_existing, copyError);
        // The default is the system's; the copy is the user's to change.
        if (!copyError) {
          fs::permissions(mine, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, copyError);
        }
        if (copyError) result.failures.push_back(Describe(mine, copyError));
      }
      continue;
    }
    EnsureLink(mine, it->path(), result);
  }
  if (ec) result.failures.push_back(Describe(programDir, ec));

  // A file a newer package no longer brings leaves no link to nothing.
  for (fs::directory_iterator it(installDir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code linkError;
    if (!it->is_symlink(linkError)) continue;
    const fs::path target = fs::read_symlink(it->path(), linkError);
    if (linkError || target.parent_path() != programDir) continue;
    if (!fs::exists(fs::symlink_status(target, linkError)) && fs::exists(programDir, linkError)) {
      fs::remove(it->path(), linkError);
    }
  }
  return result;
}

}  // namespace orlin
