#include "platform/program_start.h"

#include "platform/process.h"

namespace orlin::platform {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
  return words;
}

bool StartProgramHidden(const std::filesystem::path& program) {
  SystemProcessTable processes;
  return processes.StartHidden(L"\"" + program.wstring() + L"\"").has_value();
}

}  // namespace orlin::platform
