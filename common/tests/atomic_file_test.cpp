#include "common/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
}  // namespace orlin
