#include <algorithm>

#include "cli.h"

namespace orlin::cli {

std::string OptionValue(const std::vector<std::string>& args, const std::string& name) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == name) return args[i + 1];
  }
  return {};
}

bool HasFlag(const std::vector<std::string>& args, const std::string& name) {
  return std::find(args.begin(), args.end(), name) != args.end();
}

}  // namespace orlin::cli
