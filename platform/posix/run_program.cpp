#include "platform/run_program.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "common/utf/utf.h"

extern char** environ;

namespace orlin::platform {

std::optional<int> RunProgramAndWait(const std::filesystem::path& program, const std::vector<std::wstring>& arguments) {
  std::vector<std::string> words{program.string()};
  for (const auto& argument : arguments) words.push_back(WideToUtf8(argument));
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  // A bare name is looked up in PATH, as a shell would ("pkexec").
  const int spawned = program.has_parent_path()
                          ? ::posix_spawn(&pid, words[0].c_str(), nullptr, nullptr, argv.data(), environ)
                          : ::posix_spawnp(&pid, words[0].c_str(), nullptr, nullptr, argv.data(), environ);
  if (spawned != 0) return std::nullopt;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return std::nullopt;
  }
  if (!WIFEXITED(status)) return std::nullopt;
  return WEXITSTATUS(status);
}

}  // namespace orlin::platform
