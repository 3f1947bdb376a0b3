#pragma once
// orlin-cli: one sub-command per function. Each gets the controller after
// its start-up sequence has finished, the words after the sub-command's
// name, and returns the process's exit code (0 success, 1 failure).

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "app/controller/controller.h"
#include "monitor/monitor_context.h"

namespace orlin::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;

struct Context {
  Controller& controller;
  std::vector<std::string> args;  // after the sub-command's name
  std::ostream& out;              // results
  std::ostream& err;              // messages and usage errors
};

// "--name value" out of `args`; nullopt-like empty string when missing.
std::string OptionValue(const std::vector<std::string>& args, const std::string& name);
bool HasFlag(const std::vector<std::string>& args, const std::string& name);

// Checks a login's words before the engine is touched (the start-up stops
// and restarts it): every required word is there and the folder exists or
// could be made. Prints what is wrong on `err`.
bool LoginWordsValid(const std::vector<std::string>& args, std::ostream& err);

// Without "--password" in `args`, reads the password from standard input (at
// a terminal: asked for, not shown) and adds it to `args`, so that it never
// has to stand on the command line. False, with the reason on `err`, when no
// password comes.
bool ReadLoginPassword(std::vector<std::string>& args, std::ostream& err);

// Checks the status command's options before the start-up.
bool StatusWordsValid(const std::vector<std::string>& args, std::ostream& err);

int Login(Context& context);
int Status(Context& context);
int LogOff(Context& context);
int Pause(Context& context);
int Resume(Context& context);
int Refresh(Context& context);
int Revert(Context& context);
int Override(Context& context);

}  // namespace orlin::cli
