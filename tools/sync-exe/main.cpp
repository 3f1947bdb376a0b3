// Sync.exe on Linux: takes the command line Orlin starts its engine with,
//   Sync.exe -no-browser -no-console -home=<install>/syncconfig
// and becomes the sync engine.
//
// The engine binary lies beside this program as engine/Sync.exe (the install
// step copies it there). Executing it through that name makes both engine
// processes, the monitor and the child it starts by its own argv[0], carry
// the process name "Sync.exe", which is how Orlin finds them. This program
// replaces itself with the engine, so the process Orlin started is the
// engine's monitor, which restarts the engine when REST asks it to. The engine on
// this system does not know -no-console (it has no console window to hide)
// and listens on its own default port, so the flag is dropped and the REST
// address is set to the one Orlin talks to.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kRestAddress = "127.0.0.1:18384";

std::filesystem::path OwnDirectory(const char* argv0) {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) self = std::filesystem::absolute(argv0, error);
  return self.parent_path();
}

// Flags are accepted with one or two dashes, as the engine accepts them.
bool IsNoConsoleFlag(std::string_view arg) {
  return arg == "-no-console" || arg == "--no-console";
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path engine = OwnDirectory(argc > 0 ? argv[0] : "Sync.exe") / "engine" / "Sync.exe";
  std::string enginePath = engine.string();

  std::vector<char*> args;
  args.push_back(enginePath.data());
  for (int i = 1; i < argc; ++i) {
    if (!IsNoConsoleFlag(argv[i])) args.push_back(argv[i]);
  }
  args.push_back(nullptr);

  // Orlin talks to the engine on this address only; an address left in the
  // environment Orlin was started from must not move the engine elsewhere.
  setenv("STGUIADDRESS", kRestAddress, 1);
  // Updates come with the product, never from the engine itself.
  setenv("STNOUPGRADE", "1", 1);
  // With this set the monitor would end instead of bringing the engine back
  // after a restart request.
  unsetenv("STNORESTART");

  execv(enginePath.c_str(), args.data());
  std::fprintf(stderr, "Sync.exe: cannot start the engine %s: %s\n", enginePath.c_str(), std::strerror(errno));
  return 127;
}
