#pragma once
// The built program run end to end as a user runs it, for a GoogleTest
// fixture: a scratch install directory with the program, its skins and
// images copied in, a virtual display (with a notification area) where the
// scenario wants one, the Tarn server stand-in and an account signed in
// beforehand; the program started in a process namespace of its own and
// driven through orlin-ctl.
//
// The program's start-up stops every engine it can see; in its own process
// namespace it sees only its own, so it never ends another test's engine.
// The namespace lies inside the test's private network (SetUpProgram joins
// it), as every run of the real engine does.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/engine_harness.h"
#include "tests/support/tarn_server.h"

namespace orlin::testsupport {

// Ends a child of the test with `signal` and reaps it; pid is -1 afterwards.
void EndChild(pid_t& pid, int signal);

// Xvfb on a free display number; with a tray, trayer holds the tray selection
// on it, so the program finds a notification area.
class VirtualDisplay {
 public:
  // Logs go to xvfb.log (and trayer.log) in `logDir`.
  VirtualDisplay(const std::filesystem::path& logDir, bool withTray);
  ~VirtualDisplay();
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  // ":N"; empty when Xvfb did not start.
  const std::string& display() const { return display_; }

 private:
  pid_t xvfb_ = -1;
  pid_t tray_ = -1;
  std::string display_;
};

enum class ProgramDisplay {
  kOffscreen,         // no display at all; no notification area, so the main window never hides
  kVirtual,           // a real X display
  kVirtualWithTray,   // a real X display with a notification area
};

struct ProgramSetup {
  // Where the build laid out the program with its skins and res/.
  std::filesystem::path programDir{};
  std::filesystem::path ctl{};  // orlin-ctl
  // Further built programs laid beside the program under their own names
  // (ravel, Monitoring).
  std::vector<std::filesystem::path> beside{};
  ProgramDisplay display = ProgramDisplay::kOffscreen;
  // lang.xml says English, so the texts read as the English tables;
  // otherwise the install keeps the language the build laid out.
  bool english = false;
  // "name:password": the Tarn server stand-in serves this account. Empty:
  // no stand-in.
  std::string account{};
  // orlin-cli: the account signs in with the sync folder Folder() before the
  // program starts, so the program opens the main view. Empty: no sign-in.
  std::filesystem::path signInWith{};
};

class ProgramSession : public ::testing::Test {
 public:
  // CI is a loaded two-core machine: a step that takes a second here may
  // take a minute there.
  static constexpr std::chrono::seconds kDeadline{120};
  static constexpr std::uint16_t kTarnServerPort = 8443;

  struct CtlRun {
    int exitCode = -1;
    std::string out;  // standard output and error, without the last line breaks
  };

  ~ProgramSession() override;

  static std::string TarnServerAddress() { return "https://127.0.0.1:" + std::to_string(kTarnServerPort); }
  // A file's bytes; empty when it cannot be read.
  static std::string ReadFile(const std::filesystem::path& path);
  // A word for sh -c: single-quoted, with single quotes of its own escaped.
  static std::string Quote(const std::string& word);

 protected:
  // For the fixture's SetUp: skips, saying why, where the program cannot run
  // end to end here (no private network, engine, process namespace or
  // display), and fails fatally where the set-up itself fails. Nothing of
  // SetUp after it may run then: it is meant to be SetUp's last call.
  void SetUpProgram(const ProgramSetup& setup);
  // Stops the program, then the stand-in and the display.
  void TearDown() override;

  const std::filesystem::path& dir() const { return install->installDir(); }
  std::filesystem::path Program() const { return dir() / "orlin"; }
  std::filesystem::path Scratch(const std::string& name) const { return install->root() / name; }
  // The sync folder a sign-in of the set-up chose.
  std::filesystem::path Folder() const { return Scratch("Tarn folder"); }
  // The stand-in's copy of the account's folder.
  std::filesystem::path NasFolder() const { return Scratch("nas") / "folders" / user_; }
  // What the program wrote to its output, and its crash reports if it
  // crashed: the diagnosis every failure about the program carries.
  std::string ProgramSaid() const;

  // "env VAR=value ..." that runs a program on the session's display with
  // orlin-ctl's automation listening; its configuration (autostart entry,
  // file-manager places) goes to the scratch directory.
  std::string ProgramEnvironment() const;
  // Starts the program as the first process of a process namespace, and
  // waits for its automation to listen.
  bool StartProgram() { return StartInNamespace(Quote(Program().string())); }
  // Starts `firstProcess` (shell words, run in ProgramEnvironment()) as the
  // first process of a process namespace, the program's output going to
  // orlin.out, and waits until the program it starts listens for orlin-ctl.
  // The namespace and all in it end when the test stops it; when its first
  // process ends, the kernel ends whatever else runs there.
  bool StartInNamespace(const std::string& firstProcess);
  // Waits for the namespace's first process to end by itself; its exit
  // status (128 + signal when killed), or -1 after a failure was recorded.
  int WaitForEnd();
  // Kills the namespace with everything in it and waits until its instance
  // lock is free, so a next start is not taken for a second one.
  void Stop();

  // orlin-ctl with `words` (shell words: quote what needs it). A second
  // caller on another thread names its own output file.
  CtlRun Ctl(const std::string& words, const std::string& outName = "ctl.out");
  // orlin-ctl that must succeed; its output.
  std::string Must(const std::string& words);
  // Waits until orlin-ctl finds a window of the class; false after a failure
  // was recorded with the windows there are and what the program said.
  bool WaitWindow(const std::string& windowClass);
  // Waits until the control shows `text`; false after a failure was recorded.
  bool WaitText(const std::string& windowClass, const std::string& control, const std::string& text);
  // Whether orlin-ctl's list of windows holds `text` ("UILoginWnd",
  // "UIOrlinFrameWnd\tOrlin\thidden").
  bool WindowListed(const std::string& text);
  // A picture of the window into ORLIN_SCREENSHOT_DIR, where that is set.
  void Shoot(const std::string& windowClass, const std::string& file);

  // Asks until `done` holds; false at the deadline, after a failure naming
  // `what` and what the program said was recorded.
  bool WaitUntil(const std::function<bool()>& done, const std::string& what,
                 std::chrono::milliseconds every = std::chrono::milliseconds(200));

  std::unique_ptr<ScratchInstall> install;
  std::unique_ptr<TarnServer> server;

 private:
  void LayOutInstall(const ProgramSetup& setup);
  void SignIn(const ProgramSetup& setup);

  std::filesystem::path ctl_;
  std::string user_;
  std::string password_;
  std::unique_ptr<VirtualDisplay> display_;
  pid_t program_ = -1;
};

}  // namespace orlin::testsupport
