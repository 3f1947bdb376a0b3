// The built orlin-ctl as a user runs it: its install directory defaults to
// its own folder, and without a listening program it fails with exit code 1.

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

namespace fs = std::filesystem;

struct ProgramRun {
  int exitCode = -1;
  std::string out, err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

ProgramRun RunProgram(const fs::path& program, const std::string& words, const fs::path& scratch) {
  const fs::path out = scratch / "out.txt";
  const fs::path err = scratch / "err.txt";
  const std::string command = "timeout 60 '" + program.string() + "' " + words + " >'" + out.string() + "' 2>'" +
                              err.string() + "'";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

TEST(OrlinCtlProgramTest, ItLooksInItsOwnFolderUnlessToldOtherwise) {
  testsupport::TempDir dir;
  const fs::path install = dir.path() / "install dir";
  fs::create_directories(install);
  fs::copy_file(ORLIN_CTL_PATH, install / "orlin-ctl");

  ProgramRun run = RunProgram(install / "orlin-ctl", "windows", dir.path());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("nothing listens at " + (install / "orlin-automation.sock").string()), std::string::npos)
      << run.err;

  const fs::path other = dir.path() / "other";
  fs::create_directories(other);
  run = RunProgram(install / "orlin-ctl", "--install-dir '" + other.string() + "' windows", dir.path());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find(other.string()), std::string::npos) << run.err;

  run = RunProgram(install / "orlin-ctl", "--help", dir.path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("usage: orlin-ctl"), std::string::npos);
}

}  // namespace
}  // namespace orlin
