// ravel: "Using Orlin to Synchronize" for the file managers of Linux (the
// entries of file_manager_entries.h run it). Hands the first path it is given
// to the running Orlin of its install directory, which copies it into the
// sync folder with its copy window, and returns when that window closed;
// does nothing while Orlin shows its login window; starts Orlin with the
// path when none runs.
//
//   ravel [--] PATH...
//   ravel --remove-entries   (the uninstall: the file managers' entries of
//                             this user go, see file_manager_entries.h)
//
// Exit code 0 when the path was handed over or Orlin started, 1 otherwise
// (with a line on standard error), 2 without a path.

#include <cstdio>
#include <filesystem>
#include <string>

#include "common/text.h"
#include "platform/install_directory.h"
#include "platform/program_start.h"
#include "platform/shell.h"
#include "shellext/file_manager_entries.h"
#include "shellext/hand_over.h"

int main(int argc, char** argv) {
  using namespace orlin;
  namespace fs = std::filesystem;

  const auto words = platform::ProgramArguments(argc, argv);
  if (!words.empty() && words[0] == "--remove-entries") {
    const auto run = ravel::RemoveFileManagerEntries(ravel::EntryPlaces::FromEnvironment());
    for (const auto& failure : run.failures) std::fprintf(stderr, "ravel: %s\n", failure.c_str());
    return run.failures.empty() ? 0 : 1;
  }
  std::string first;
  bool options = true;
  for (const auto& word : words) {
    if (options && word == "--") {
      options = false;
      continue;
    }
    first = word;
    break;
  }
  if (first.empty()) {
    std::fputs("usage: ravel [--] PATH...\n", stderr);
    return 2;
  }
  // File managers hand over names relative to the folder they show (the
  // Nautilus scripts) as well as absolute paths; Orlin gets an absolute one.
  std::error_code ec;
  fs::path path = fs::absolute(fs::path(first), ec);
  if (ec) path = first;
  path = path.lexically_normal();
  if (path.has_filename() == false && path != path.root_path()) path = path.parent_path();

  const fs::path installDir = platform::InstallDirectory();
  ravel::HandOverDesktop desktop;
  desktop.findMainWindow = platform::FindMainWindow;
  desktop.startOrlin = [&](const std::wstring& wide) {
    return platform::StartProgram(installDir / "orlin", {wide}, installDir);
  };
  switch (ravel::HandPathToOrlin(WideFromPath(path), ravel::OrlinMainWindow(installDir), desktop)) {
    case ravel::HandOver::kSent:
    case ravel::HandOver::kStarted:
      return 0;
    case ravel::HandOver::kLoginShows:
      std::fputs("ravel: Orlin shows its login window; nothing was copied\n", stderr);
      return 1;
    case ravel::HandOver::kWindowWentAway:
      std::fputs("ravel: Orlin ended before it answered\n", stderr);
      return 1;
    case ravel::HandOver::kStartFailed:
      std::fprintf(stderr, "ravel: cannot start %s\n", (installDir / "orlin").string().c_str());
      return 1;
    case ravel::HandOver::kNoPath:
      break;
  }
  return 2;
}
