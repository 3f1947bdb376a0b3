#include "platform/program_start.h"

namespace orlin::platform {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
  return words;
}

}  // namespace orlin::platform
