#include "app/copy_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/file_copy.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif
#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& content) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out << content;
}

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every file below `dir` as "relative/path=content".
std::vector<std::string> Tree(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string rel = fs::relative(e.path(), dir).generic_string();
    out.push_back(e.is_directory() ? rel + "/" : rel + "=" + Read(e.path()));
  }
  std::sort(out.begin(), out.end());
  return out;
}

class RecordingSink : public CopyProgressSink {
 public:
  void OnCopyProgress(const CopyProgress& progress) override {
    std::lock_guard lock(mutex);
    updates.push_back(progress);
    if (onUpdate) onUpdate(progress);
  }
  std::mutex mutex;
  std::vector<CopyProgress> updates;
  std::function<void(const CopyProgress&)> onUpdate;
};

TEST(CopyTextsTest, SizesStepUnitsOnlyAbove1024) {
  EXPECT_EQ(CopySizeText(0), L"0.00 B");
  EXPECT_EQ(CopySizeText(1024), L"1024.00 B");
  EXPECT_EQ(CopySizeText(1536), L"1.50 KiB");
  EXPECT_EQ(CopySizeText(5ull * 1024 * 1024), L"5.00 MiB");
  EXPECT_EQ(CopySizeText(3ull * 1024 * 1024 * 1024 * 1024), L"3072.00 GiB");
}

TEST(CopyTextsTest, PercentsOfAFileAndOfTheWholeCopy) {
  EXPECT_EQ(CopyPercent(0, 0), 100);  // an empty file is complete at once
  EXPECT_EQ(CopyPercent(1, 3), 33);
  EXPECT_EQ(CopyPercent(5'000'000'000ull, 10'000'000'000ull), 50);  // beyond 32 bits
  EXPECT_EQ(OverallPercent(100, 4, 1, 50), 37);
  EXPECT_EQ(OverallPercent(100, 1, 0, 100), 100);
  EXPECT_EQ(OverallPercent(100, 3, 3, 0), 100);
  // A finished file counts once, not again by its own 100 %.
  CopyProgress finished;
  finished.totalFiles = 4;
  finished.copiedFiles = 1;
  finished.currentPercent = 100;
  finished.currentCounted = true;
  EXPECT_EQ(OverallPercent(100, finished), 25);
  finished.currentCounted = false;
  finished.currentPercent = 50;
  EXPECT_EQ(OverallPercent(100, finished), 37);
  // Nothing to copy: complete, not a division by zero.
  EXPECT_EQ(OverallPercent(100, 0, 0, 0), 100);
  EXPECT_EQ(OverallPercent(0, 5, 1, 0), 0);
}

TEST(CopyWorkerTest, AFolderLandsInTheDestinationWithoutItsOwnName) {
  testsupport::TempDir dir;
  const fs::path source = dir.path() / "Photos";
  Write(source / "a.txt", "A");
  Write(source / "sub" / "b.txt", "BB");
  Write(source / "sub" / "deep" / "c.txt", "CCC");
  fs::create_directories(source / "empty");
  Write(dir.path() / "Sync" / "a.txt", "old content is replaced");
  RecordingSink sink;
  CopyWorker worker(source, dir.path() / "Sync", &sink, CopyWorkerOptions{std::chrono::milliseconds(0)});
  const CopySummary summary = worker.Run();

  EXPECT_EQ(summary.end, CopyEnd::kAllCopied);
  EXPECT_EQ(summary.totalFiles, 3);
  EXPECT_EQ(summary.copiedFiles, 3);
  EXPECT_EQ(summary.bytes, 6u);
  EXPECT_EQ(Tree(dir.path() / "Sync"),
            (std::vector<std::string>{"a.txt=A", "empty/", "sub/", "sub/b.txt=BB", "sub/deep/", "sub/deep/c.txt=CCC"}));
  ASSERT_FALSE(sink.updates.empty());
  const CopyProgress& last = sink.updates.back();
  EXPECT_EQ(last.copiedFiles, 3);
  EXPECT_EQ(last.totalFiles, 3);
  // Some update named the sub-folder and the folder made for it.
  EXPECT_TRUE(std::any_of(sink.updates.begin(), sink.updates.end(), [&](const CopyProgress& p) {
    return p.fromPath == (source / "sub" / "deep").wstring() &&
           p.toPath == (dir.path() / "Sync" / "sub" / "deep").wstring();
  }));
}

TEST(CopyWorkerTest, ASingleFileLandsInTheRootUnderItsOwnName) {
  testsupport::TempDir dir;
  Write(dir.path() / "in" / "report.pdf", std::string(1536, 'r'));
  fs::create_directories(dir.path() / "Sync" / "sub");
  RecordingSink sink;
  CopyWorker worker(dir.path() / "in" / "report.pdf", dir.path() / "Sync", &sink, CopyWorkerOptions{std::chrono::milliseconds(0)});
  const CopySummary summary = worker.Run();
  EXPECT_EQ(summary.end, CopyEnd::kAllCopied);
  EXPECT_EQ(summary.totalFiles, 1);
  EXPECT_EQ(Read(dir.path() / "Sync" / "report.pdf"), std::string(1536, 'r'));
  const CopyProgress& last = sink.updates.back();
  EXPECT_EQ(last.currentFileName, L"report.pdf");
  EXPECT_EQ(last.currentPercent, 100);
  EXPECT_EQ(last.currentTotalText, L"1.50 KiB");
  EXPECT_EQ(last.currentCopiedText, L"1.50 KiB");
  EXPECT_EQ(OverallPercent(100, last), 100);
}

TEST(CopyWorkerTest, AnEmptyFolderIsCompleteAtOnce) {
  testsupport::TempDir dir;
  fs::create_directories(dir.path() / "empty");
  CopyWorker worker(dir.path() / "empty", dir.path() / "Sync", nullptr);
  const CopySummary summary = worker.Run();
  EXPECT_EQ(summary.end, CopyEnd::kAllCopied);
  EXPECT_EQ(summary.totalFiles, 0);
}

TEST(CopyWorkerTest, CancelDuringALargeFileStopsItAndLeavesNoPart) {
  testsupport::TempDir dir;
  Write(dir.path() / "src" / "0-small.txt", "small");
  Write(dir.path() / "src" / "big.bin", std::string(6 * platform::kFileCopyChunk, 'b'));
  fs::create_directories(dir.path() / "Sync");
  RecordingSink sink;
  CopyWorker worker(dir.path() / "src", dir.path() / "Sync", &sink, CopyWorkerOptions{std::chrono::milliseconds(0)});
  // The Cancel button, pressed while the large file is half-way.
  sink.onUpdate = [&](const CopyProgress& p) {
    if (p.currentFileName == L"big.bin" && p.currentPercent > 0 && p.currentPercent < 100) worker.Cancel();
  };
  const CopySummary summary = worker.Run();
  EXPECT_EQ(summary.end, CopyEnd::kCancelled);
  EXPECT_FALSE(fs::exists(dir.path() / "Sync" / "big.bin"));
  for (const auto& e : fs::directory_iterator(dir.path() / "Sync")) {
    EXPECT_NE(e.path().filename().string().rfind(".syncthing.", 0), 0u) << "left behind: " << e.path();
  }
}

TEST(CopyWorkerTest, CancelFromAnotherThreadEndsTheRun) {
  testsupport::TempDir dir;
  for (int i = 0; i < 50; ++i) Write(dir.path() / "src" / ("f" + std::to_string(i)), std::string(platform::kFileCopyChunk / 4, 'x'));
  CopyWorker worker(dir.path() / "src", dir.path() / "Sync", nullptr);
  std::thread copying([&] {
    const auto summary = worker.Run();
    EXPECT_EQ(summary.end, CopyEnd::kCancelled);
    EXPECT_LT(summary.copiedFiles, 50);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  worker.Cancel();
  copying.join();
}

TEST(CopyWorkerTest, ACopyIntoItselfIsRefusedBeforeAnythingIsWritten) {
  testsupport::TempDir dir;
  Write(dir.path() / "Sync" / "a.txt", "A");
  CopyWorker inside(dir.path() / "Sync", dir.path() / "Sync" / "new", nullptr);
  EXPECT_EQ(inside.Run().end, CopyEnd::kRefused);
  EXPECT_FALSE(fs::exists(dir.path() / "Sync" / "new"));
  CopyWorker onto(dir.path() / "Sync", dir.path() / "Sync", nullptr);
  EXPECT_EQ(onto.Run().end, CopyEnd::kRefused);
  // A sibling whose name only begins like the source is another folder.
  CopyWorker sibling(dir.path() / "Sync", dir.path() / "Sync2", nullptr);
  EXPECT_EQ(sibling.Run().end, CopyEnd::kAllCopied);
  EXPECT_EQ(Read(dir.path() / "Sync2" / "a.txt"), "A");
}

TEST(CopyWorkerTest, AMissingSourceCopiesNothing) {
  testsupport::TempDir dir;
  CopyWorker worker(dir.path() / "gone", dir.path() / "Sync", nullptr);
  EXPECT_EQ(worker.Run().end, CopyEnd::kNoSource);
  EXPECT_FALSE(fs::exists(dir.path() / "Sync"));
}

#ifndef _WIN32
// A named pipe is no file to copy: it is skipped (and must not hang the
// copy waiting for a writer).
TEST(CopyWorkerTest, AnEntryThatCannotBeCopiedIsSkippedAndCounted) {
  testsupport::TempDir dir;
  Write(dir.path() / "src" / "ok.txt", "ok");
  ASSERT_EQ(::mkfifo((dir.path() / "src" / "pipe").c_str(), 0600), 0);
  CopyWorker worker(dir.path() / "src", dir.path() / "Sync", nullptr);
  const CopySummary summary = worker.Run();
  EXPECT_EQ(summary.end, CopyEnd::kSomeFailed);
  EXPECT_EQ(summary.totalFiles, 2);
  EXPECT_EQ(summary.copiedFiles, 1);
  EXPECT_EQ(Tree(dir.path() / "Sync"), std::vector<std::string>{"ok.txt=ok"});
}

TEST(CopyWorkerTest, ALinkIsCopiedAsALink) {
  testsupport::TempDir dir;
  Write(dir.path() / "src" / "target.txt", "T");
  fs::create_symlink("target.txt", dir.path() / "src" / "link");
  CopyWorker worker(dir.path() / "src", dir.path() / "Sync", nullptr);
  EXPECT_EQ(worker.Run().end, CopyEnd::kAllCopied);
  ASSERT_TRUE(fs::is_symlink(dir.path() / "Sync" / "link"));
  EXPECT_EQ(fs::read_symlink(dir.path() / "Sync" / "link"), fs::path("target.txt"));
}
#endif

TEST(CopyWorkerTest, UpdatesAreThinnedButTheLastOneAlwaysComes) {
  testsupport::TempDir dir;
  for (int i = 0; i < 200; ++i) Write(dir.path() / "src" / ("f" + std::to_string(i)), "x");
  RecordingSink sink;
  CopyWorker worker(dir.path() / "src", dir.path() / "Sync", &sink, CopyWorkerOptions{std::chrono::hours(1)});
  worker.Run();
  ASSERT_EQ(sink.updates.size(), 2u);  // the count, then the end
  EXPECT_EQ(sink.updates.back().copiedFiles, 200);
}

}  // namespace
}  // namespace orlin
