#pragma once
// The process table: list every process by image name, start a program
// hidden, and kill a process by id. The engine supervisor works only through
// this interface, so tests can hand it a fake table.
//
// Threads: implementations keep no state between calls; any thread may call
// any method, also at the same time.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlin::platform {

using ProcessId = std::uint32_t;

// Image names compare without regard to ASCII case, as Windows names them.
inline bool SameImageName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
    if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
    if (x != y) return false;
  }
  return true;
}

struct ProcessEntry {
  ProcessId pid = 0;
  // The file name the process was started from (Windows: the snapshot's exe
  // file name; POSIX: /proc/PID/comm). Case as the system reports it.
  std::wstring imageName;
  // Whether the process runs as the user who scans. Another user's process
  // may not be ended and must not be mistaken for one of ours. Where the
  // owner cannot be told, the process counts as another user's.
  bool ownedByCurrentUser = true;
};

class ProcessTable {
 public:
  virtual ~ProcessTable() = default;

  // Every live process. nullopt when the table could not be read at all.
  virtual std::optional<std::vector<ProcessEntry>> Scan() = 0;

  // The live processes whose image name equals `imageName`, compared without
  // regard to ASCII case. Supervisors that scan often use this: the system
  // table then asks the owner only of the processes that match.
  virtual std::optional<std::vector<ProcessEntry>> ScanFor(std::wstring_view imageName) {
    auto all = Scan();
    if (!all) return all;
    std::vector<ProcessEntry> matching;
    for (auto& entry : *all) {
      if (SameImageName(entry.imageName, imageName)) matching.push_back(std::move(entry));
    }
    return matching;
  }

  // Whether the process `pid` still runs, under the image name `imageName`
  // (compared as ScanFor does) and as the user who asks: one look at one
  // process, for supervisors that check often what an earlier scan found.
  // nullopt when the table cannot tell without a scan; the caller scans then.
  virtual std::optional<bool> StillRunning(ProcessId pid, std::wstring_view imageName) { return std::nullopt; }

  // Starts `commandLine` hidden: no window or console, no inherited handles,
  // the parent's environment and current directory. The first word names the
  // program (a path, quoted when it has blanks). Returns the new process's id,
  // or nullopt when it could not be started (the program is missing, not
  // executable, ...). The caller keeps no handle: the process is not tied to
  // the caller's lifetime and never lingers as an unreaped zombie.
  virtual std::optional<ProcessId> StartHidden(const std::wstring& commandLine) = 0;

  // Ends the process at once. Windows: TerminateProcess with `exitCode`;
  // POSIX: SIGKILL (a killed process cannot choose its exit status).
  // False when the process does not exist or may not be ended.
  virtual bool Terminate(ProcessId pid, std::uint32_t exitCode) = 0;
};

// The operating system's process table.
class SystemProcessTable final : public ProcessTable {
 public:
  std::optional<std::vector<ProcessEntry>> Scan() override;
  std::optional<std::vector<ProcessEntry>> ScanFor(std::wstring_view imageName) override;
  std::optional<bool> StillRunning(ProcessId pid, std::wstring_view imageName) override;
  std::optional<ProcessId> StartHidden(const std::wstring& commandLine) override;
  bool Terminate(ProcessId pid, std::uint32_t exitCode) override;
};

// Splits a command line built by the product's quoting rule (a word that has
// a blank is wrapped in double quotes, possibly only from some point on, as
// in -home="C:\Program Files\App\syncconfig") back into its words: blanks
// outside quotes separate words, each double quote switches quoting on or off
// and is dropped, every other character (backslashes included) is kept.
inline std::vector<std::wstring> SplitCommandLine(std::wstring_view commandLine) {
  std::vector<std::wstring> words;
  std::wstring current;
  bool inWord = false;
  bool quoted = false;
  for (wchar_t c : commandLine) {
    if (c == L'"') {
      quoted = !quoted;
      inWord = true;  // "" is an empty word of its own
    } else if ((c == L' ' || c == L'\t') && !quoted) {
      if (inWord) words.push_back(std::move(current));
      current.clear();
      inWord = false;
    } else {
      current.push_back(c);
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(current));
  return words;
}

}  // namespace orlin::platform
