#include "platform/file_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/temp_dir.h"

namespace orlin::platform {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& content) {
  std::ofstream out(file, std::ios::binary);
  out << content;
}

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Files in `dir` (names only), to see that nothing was left behind.
std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(FileCopyTest, CopiesContentAndTimeThroughTheTemporaryName) {
  testsupport::TempDir dir;
  // More than one chunk: the copy goes through the temporary name.
  std::string content(2 * kFileCopyChunk + 17, 'x');
  for (std::size_t i = 0; i < content.size(); i += 4093) content[i] = static_cast<char>('a' + i % 26);
  Write(dir.path() / "src.bin", content);
  const auto mtime = fs::file_time_type::clock::now() - std::chrono::hours(48);
  fs::last_write_time(dir.path() / "src.bin", mtime);
  fs::create_directory(dir.path() / "out");

  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
  bool temporaryExistedWhileCopying = false;
  const auto outcome = CopyFileWithProgress(dir.path() / "src.bin", dir.path() / "out" / "dst.bin",
                                            dir.path() / "out" / ".tmp-dst", nullptr,
                                            [&](std::uint64_t copied, std::uint64_t total) {
                                              calls.emplace_back(copied, total);
                                              if (fs::exists(dir.path() / "out" / ".tmp-dst")) temporaryExistedWhileCopying = true;
                                              return true;
                                            });
  ASSERT_EQ(outcome.result, FileCopyResult::kCopied) << outcome.error.message();
  EXPECT_EQ(outcome.bytes, content.size());
  EXPECT_TRUE(Read(dir.path() / "out" / "dst.bin") == content) << "the copy differs from the source";
  EXPECT_EQ(Names(dir.path() / "out"), std::vector<std::string>{"dst.bin"});
  EXPECT_TRUE(temporaryExistedWhileCopying);
  EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(fs::last_write_time(dir.path() / "out" / "dst.bin") - mtime).count(), 0);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().first, content.size());
  EXPECT_EQ(calls.back().second, content.size());
}

TEST(FileCopyTest, ASmallNewFileIsWrittenUnderItsNameAndAnExistingOneIsReplacedWhole) {
  testsupport::TempDir dir;
  Write(dir.path() / "small", "new content");
  bool temporarySeen = false;
  auto look = [&](std::uint64_t, std::uint64_t) {
    temporarySeen = temporarySeen || fs::exists(dir.path() / ".tmp");
    return true;
  };
  auto outcome = CopyFileWithProgress(dir.path() / "small", dir.path() / "copy", dir.path() / ".tmp", nullptr, look);
  ASSERT_EQ(outcome.result, FileCopyResult::kCopied);
  EXPECT_FALSE(temporarySeen);
  EXPECT_EQ(Read(dir.path() / "copy"), "new content");
  // An existing destination is never opened for writing: it is replaced whole.
  Write(dir.path() / "small", "newer");
  outcome = CopyFileWithProgress(dir.path() / "small", dir.path() / "copy", dir.path() / ".tmp", nullptr, look);
  ASSERT_EQ(outcome.result, FileCopyResult::kCopied);
  EXPECT_TRUE(temporarySeen);
  EXPECT_EQ(Read(dir.path() / "copy"), "newer");
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"copy", "small"}));
}

TEST(FileCopyTest, AnEmptyFileIsCopied) {
  testsupport::TempDir dir;
  Write(dir.path() / "empty", "");
  const auto outcome =
      CopyFileWithProgress(dir.path() / "empty", dir.path() / "copy", dir.path() / ".tmp", nullptr, {});
  ASSERT_EQ(outcome.result, FileCopyResult::kCopied);
  EXPECT_TRUE(fs::exists(dir.path() / "copy"));
  EXPECT_EQ(fs::file_size(dir.path() / "copy"), 0u);
}

TEST(FileCopyTest, CancelInTheMiddleLeavesNoPartAndKeepsTheOldDestination) {
  testsupport::TempDir dir;
  const std::string content(4 * kFileCopyChunk, 'c');
  Write(dir.path() / "big", content);
  Write(dir.path() / "dst", "the old file");
  std::atomic<int> cancel{0};
  int calls = 0;
  const auto outcome = CopyFileWithProgress(dir.path() / "big", dir.path() / "dst", dir.path() / ".part", &cancel,
                                            [&](std::uint64_t copied, std::uint64_t) {
                                              ++calls;
                                              if (copied > 0) cancel.store(1);  // as the Cancel button does
                                              return true;
                                            });
  EXPECT_EQ(outcome.result, FileCopyResult::kCancelled);
  EXPECT_LT(calls, 4) << "the copy went on after the cancel flag was set";
  EXPECT_TRUE(Read(dir.path() / "dst") == "the old file") << "the old destination changed";
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"big", "dst"}));
}

TEST(FileCopyTest, ACallbackThatSaysStopCancels) {
  testsupport::TempDir dir;
  Write(dir.path() / "big", std::string(2 * kFileCopyChunk + 1, 'c'));
  const auto outcome = CopyFileWithProgress(dir.path() / "big", dir.path() / "dst", dir.path() / ".part", nullptr,
                                            [](std::uint64_t copied, std::uint64_t) { return copied == 0; });
  EXPECT_EQ(outcome.result, FileCopyResult::kCancelled);
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"big"});
}

TEST(FileCopyTest, AMissingSourceOrFolderFailsWithoutWriting) {
  testsupport::TempDir dir;
  auto outcome = CopyFileWithProgress(dir.path() / "nothing", dir.path() / "dst", dir.path() / ".part", nullptr, {});
  EXPECT_EQ(outcome.result, FileCopyResult::kFailed);
  EXPECT_TRUE(outcome.error);
  Write(dir.path() / "src", "x");
  outcome = CopyFileWithProgress(dir.path() / "src", dir.path() / "no-such-folder" / "dst",
                                 dir.path() / "no-such-folder" / ".part", nullptr, {});
  EXPECT_EQ(outcome.result, FileCopyResult::kFailed);
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"src"});
}

TEST(FileCopyTest, SameOrInsideComparesWholeComponents) {
  testsupport::TempDir dir;
  const fs::path sync = dir.path() / "Sync";
  EXPECT_TRUE(IsSameOrInside(sync, sync));
  EXPECT_TRUE(IsSameOrInside(sync / "a" / "b", sync));
  EXPECT_TRUE(IsSameOrInside(sync / "a" / "..", sync));
  EXPECT_TRUE(IsSameOrInside(fs::path(sync.string() + "/"), sync));
  EXPECT_TRUE(IsSameOrInside(sync, fs::path(sync.string() + "/")));
  EXPECT_FALSE(IsSameOrInside(dir.path() / "Sync2", sync));
  EXPECT_FALSE(IsSameOrInside(dir.path(), sync));
  EXPECT_FALSE(IsSameOrInside(sync / ".." / "Other", sync));
}

}  // namespace
}  // namespace orlin::platform
