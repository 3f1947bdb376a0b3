#pragma once
// Reading a secret (a password) typed by the user or handed over a pipe,
// so that it never has to stand on a command line, where every user of the
// computer can read it.

#include <optional>
#include <string>

namespace orlin::platform {

// One line of standard input as UTF-8, without its line end ("\n" or
// "\r\n"). At a terminal (console) `prompt` is written to standard error
// first and what is typed is not shown; from a pipe or file the line is read
// as it comes. std::nullopt at the end of the input or on a read error.
std::optional<std::string> ReadSecretLine(const std::string& prompt);

}  // namespace orlin::platform
