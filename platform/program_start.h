#pragma once
// How our programs start: the arguments they read, and the start of a
// sibling program that takes none.

#include <filesystem>
#include <string>
#include <vector>

namespace orlin::platform {

// The program's arguments after its own name, as UTF-8. On Windows they are
// read from the wide command line, since argv there is in the ANSI code page
// and loses every character outside it.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Starts `program` hidden and without arguments, not tied to the caller and
// with nothing inherited (Orlin starts its watchdog so). Windows:
// CreateProcessW with `program` as the application name and an empty
// command line, CREATE_NO_WINDOW and SW_HIDE; both handles are closed at
// once. POSIX: started as ProcessTable::StartHidden starts a program, with
// its own name as its only word. False when it could not be started.
bool StartProgramHidden(const std::filesystem::path& program);

}  // namespace orlin::platform
