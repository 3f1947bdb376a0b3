// Starting a program detached with words that reach it whole, in the
// working directory asked for (Ravel starting Orlin with a path).

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "platform/shell.h"
#include "tests/support/temp_dir.h"

namespace orlin::platform {
namespace {

using namespace std::chrono_literals;

TEST(StartProgram, WordsArriveWholeInTheWorkingDirectory) {
  testsupport::TempDir dir;
  const auto work = dir.path() / "work dir";
  std::filesystem::create_directories(work);
  const auto out = dir.path() / "out";
  const std::wstring tricky = L"/tmp/a \"quoted\" $(name) 'x' 同步\twith tab";
  ASSERT_TRUE(StartProgram("/bin/sh",
                           {L"-c", L"pwd >\"$1.tmp\"; printf '%s' \"$2\" >>\"$1.tmp\"; mv \"$1.tmp\" \"$1\"", L"sh",
                            out.wstring(), tricky},
                           work));
  const auto deadline = std::chrono::steady_clock::now() + 120s;
  while (!std::filesystem::exists(out) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(std::filesystem::exists(out)) << "the started program never wrote its record";
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), work.string() + "\n" + "/tmp/a \"quoted\" $(name) 'x' 同步\twith tab");
}

TEST(StartProgram, AMissingProgramOrFolderGivesFalse) {
  testsupport::TempDir dir;
  EXPECT_FALSE(StartProgram(dir.path() / "no-such-program", {}, dir.path()));
  EXPECT_FALSE(StartProgram("/bin/true", {}, dir.path() / "no-such-folder"));
  EXPECT_TRUE(StartProgram("/bin/true", {}, dir.path()));
}

}  // namespace
}  // namespace orlin::platform
