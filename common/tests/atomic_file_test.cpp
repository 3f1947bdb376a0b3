#include "common/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "platform/file_sync.h"

#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

TEST(AtomicFileTest, ReplacesContentWholeAndLeavesNoTemporaryFiles) {
  testsupport::TempDir dir;
  const auto file = dir.path() / "state.xml";
  ASSERT_FALSE(WriteFileAtomically(file, std::string(4096, 'x')));
  ASSERT_FALSE(WriteFileAtomically(file, "short"));
  std::string back;
  ASSERT_TRUE(ReadWholeFile(file, back));
  EXPECT_EQ(back, "short");
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(AtomicFileTest, NewFileGetsRequestedModeAndExistingFileKeepsItsMode) {
  testsupport::TempDir dir;
  const auto secret = dir.path() / "secret";
  ASSERT_FALSE(WriteFileAtomically(secret, "pw", {.mode = 0600}));
  struct stat st{};
  ASSERT_EQ(::stat(secret.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_FALSE(WriteFileAtomically(secret, "pw2"));
  ASSERT_EQ(::stat(secret.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(AtomicFileTest, FailureInMissingDirectoryReportsErrorAndWritesNothing) {
  testsupport::TempDir dir;
  const auto file = dir.path() / "missing" / "state.xml";
  EXPECT_TRUE(WriteFileAtomically(file, "data"));
  EXPECT_FALSE(std::filesystem::exists(file));
}

unsigned ModeOf(const std::filesystem::path& file) {
  struct stat st{};
  if (::stat(file.c_str(), &st) != 0) return 07777;
  return st.st_mode & 0777;
}

std::vector<std::string> Names(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(AtomicFileTest, NewFileWithoutModeGetsTheDefaultAndExistingModesStay) {
  testsupport::TempDir dir;
  const auto fresh = dir.path() / ".stignore";
  ASSERT_FALSE(WriteFileAtomically(fresh, "a\n"));
  EXPECT_EQ(ModeOf(fresh), platform::DefaultFileMode());
  const auto shared = dir.path() / "lang.xml";
  std::ofstream(shared) << "old";
  std::filesystem::permissions(shared, static_cast<std::filesystem::perms>(0640));
  ASSERT_FALSE(WriteFileAtomically(shared, "new"));
  EXPECT_EQ(ModeOf(shared), 0640u);
}

// A writer killed in the middle of its write (here by the file size limit,
// as reliably as a kill at that moment) leaves a temporary file behind: it
// must be readable by its owner only, although the target is 0644, and the
// next start removes it.
TEST(AtomicFileTest, AWriterKilledMidWriteLeavesAnOwnerOnlyFileThatTheNextStartRemoves) {
  testsupport::TempDir dir;
  const auto config = dir.path() / "config.xml";
  std::ofstream(config) << "<configuration/>";
  std::filesystem::permissions(config, static_cast<std::filesystem::perms>(0644));

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    rlimit small{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &small);
    ::signal(SIGXFSZ, SIG_DFL);
    (void)WriteFileAtomically(config, "<apikey>" + std::string(256 * 1024, 'k') + "</apikey>");
    ::_exit(0);  // not reached: the write beyond the limit ends the process
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the writer was expected to die mid-write";

  std::vector<std::string> names = Names(dir.path());
  ASSERT_EQ(names.size(), 2u);
  const std::string left = names[0] == "config.xml" ? names[1] : names[0];
  ASSERT_TRUE(IsAtomicWriteTemporaryName(left)) << left;
  EXPECT_EQ(left.rfind("config.xml.tmp" + std::to_string(child) + "-", 0), 0u) << left;
  EXPECT_EQ(ModeOf(dir.path() / left), 0600u);
  EXPECT_EQ(ModeOf(config), 0644u);

  // This process's own temporary files may belong to a write in progress;
  // files that are no temporary of the target are not touched.
  const auto own = dir.path() / ("config.xml.tmp" + std::to_string(::getpid()) + "-7");
  std::ofstream(own) << "x";
  for (const char* other : {"notes.tmp", "report.tmp12-3", "config.xml.old.tmp12-3", "config.xml.tmp12-x"}) {
    std::ofstream(dir.path() / other) << "x";
  }
  EXPECT_EQ(RemoveStaleTemporaryFiles(config), 1);
  std::vector<std::string> kept{"config.xml",        "config.xml.old.tmp12-3", own.filename().string(),
                                "config.xml.tmp12-x", "notes.tmp",              "report.tmp12-3"};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(Names(dir.path()), kept);
  EXPECT_EQ(RemoveStaleTemporaryFiles(dir.path() / "missing" / "config.xml"), 0);
}

TEST(AtomicFileTest, WritableCheckLeavesNothingAndNamesTheFailure) {
  testsupport::TempDir dir;
  EXPECT_FALSE(CheckDirectoryWritable(dir.path()));
  EXPECT_TRUE(Names(dir.path()).empty());
  EXPECT_TRUE(CheckDirectoryWritable(dir.path() / "missing"));
  std::ofstream(dir.path() / "plain") << "x";
  EXPECT_TRUE(CheckDirectoryWritable(dir.path() / "plain"));
}

}  // namespace
}  // namespace orlin
