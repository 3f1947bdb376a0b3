#pragma once
// The program's arguments, as every program of ours reads them.

#include <string>
#include <vector>

namespace orlin::platform {

// The program's arguments after its own name, as UTF-8. On Windows they are
// read from the wide command line, since argv there is in the ANSI code page
// and loses every character outside it.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace orlin::platform
