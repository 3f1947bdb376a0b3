// The desktop shell on Linux, with a recording helper standing in for
// xdg-open, gdbus and dbus-send (first and only folder on PATH).

#include "platform/shell.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace orlin::platform {
namespace {

using Call = std::vector<std::string>;  // the name, then the arguments

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) ::setenv(name, value->c_str(), 1);
    else ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_) ::setenv(name_, old_->c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bin = dir.path() / "bin";
    std::filesystem::create_directories(bin);
    record = dir.path() / "calls";
    path.emplace("PATH", bin.string());
    recordEnv.emplace("ORLIN_SHELL_RECORD", record.string());
    failEnv.emplace("ORLIN_SHELL_FAIL", std::nullopt);
    busEnv.emplace("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
  }

  void Provide(std::initializer_list<const char*> names) {
    for (const char* n : names) std::filesystem::create_symlink(ORLIN_SHELL_RECORDER, bin / n);
  }

  std::vector<Call> ReadCalls() const {
    std::ifstream in(record, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Call> calls;
    std::size_t begin = 0;
    for (std::size_t end; (end = all.find('\x1e', begin)) != std::string::npos; begin = end + 1) {
      Call call;
      std::string fields = all.substr(begin, end - begin);
      for (std::size_t b = 0, e; (e = fields.find('\0', b)) != std::string::npos; b = e + 1) {
        call.push_back(fields.substr(b, e - b));
      }
      calls.push_back(std::move(call));
    }
    return calls;
  }

  // The helpers run detached: wait (generously, CI is a loaded machine)
  // until `count` of them have recorded their call.
  std::vector<Call> WaitForCalls(std::size_t count) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (;;) {
      auto calls = ReadCalls();
      if (calls.size() >= count) return calls;
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "waited 120 s for " << count << " recorded helper calls, saw " << calls.size();
        return calls;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  // A folder whose name a shell would take apart: blanks, quotes, a command
  // substitution, a semicolon, a leading dash and characters outside ASCII.
  std::filesystem::path NastyFolder() const {
    auto p = dir.path() / "-n a'b \"c\" $(touch PWNED); `touch PWNED2` 文件";
    std::filesystem::create_directories(p);
    return p;
  }

  testsupport::TempDir dir;
  std::filesystem::path bin, record;
  std::optional<ScopedEnv> path, recordEnv, failEnv, busEnv;
};

TEST_F(ShellTest, OpenFolderHandsTheWholeAbsolutePathToXdgOpenAsOneWord) {
  Provide({"xdg-open"});
  const auto folder = NastyFolder();
  ASSERT_TRUE(OpenFolder(folder));
  auto calls = WaitForCalls(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], (Call{"xdg-open", folder.string()}));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() / "PWNED"));
  EXPECT_FALSE(std::filesystem::exists(folder.parent_path() / "PWNED2"));

  // A relative path is made absolute, so it never reads as an option.
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const bool started = OpenFolder("-n a'b \"c\" $(touch PWNED); `touch PWNED2` 文件");
  std::filesystem::current_path(cwd);
  ASSERT_TRUE(started);
  calls = WaitForCalls(2);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1], (Call{"xdg-open", folder.string()}));
}

TEST_F(ShellTest, ShowItemWithoutASessionBusOpensTheContainingFolder) {
  Provide({"xdg-open", "gdbus", "dbus-send"});
  const auto item = NastyFolder() / "conflict file.txt";
  std::ofstream(item) << "x";
  ASSERT_TRUE(ShowItemInFolder(item));
  auto calls = WaitForCalls(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], (Call{"xdg-open", item.parent_path().string()}));
}

TEST_F(ShellTest, ShowItemAsksTheFileManagerOverDbusAndOpensTheFolderOnlyWhenItFails) {
  Provide({"xdg-open", "gdbus"});
  busEnv.emplace("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
  const auto folder = dir.path() / "a b,c";
  std::filesystem::create_directories(folder);
  const auto item = folder / "文件 'x'.txt";
  const std::string uri = "file://" + dir.path().string() + "/a%20b%2Cc/%E6%96%87%E4%BB%B6%20%27x%27.txt";
  const Call gdbus{"gdbus", "call", "--session", "--timeout", "10", "--dest", "org.freedesktop.FileManager1",
                   "--object-path", "/org/freedesktop/FileManager1", "--method",
                   "org.freedesktop.FileManager1.ShowItems", "['" + uri + "']", "''"};

  // The file manager answers: the folder is not opened as well. The second
  // request is a marker: once it shows, the first one's runner had long
  // decided whether to open the folder.
  ASSERT_TRUE(ShowItemInFolder(item));
  auto calls = WaitForCalls(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], gdbus);
  ASSERT_TRUE(OpenFolder(dir.path() / "marker"));
  calls = WaitForCalls(2);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1], (Call{"xdg-open", (dir.path() / "marker").string()}));

  // No file manager on the bus: gdbus fails and the folder is opened.
  failEnv.emplace("ORLIN_SHELL_FAIL", "gdbus");
  ASSERT_TRUE(ShowItemInFolder(item));
  calls = WaitForCalls(4);
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[2], gdbus);
  EXPECT_EQ(calls[3], (Call{"xdg-open", folder.string()}));
}

TEST_F(ShellTest, ShowItemUsesDbusSendWhereGdbusIsMissing) {
  Provide({"xdg-open", "dbus-send"});
  busEnv.emplace("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
  failEnv.emplace("ORLIN_SHELL_FAIL", "dbus-send");
  const auto item = dir.path() / "x,y.txt";
  ASSERT_TRUE(ShowItemInFolder(item));
  auto calls = WaitForCalls(2);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], (Call{"dbus-send", "--session", "--print-reply", "--reply-timeout=10000",
                            "--dest=org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                            "org.freedesktop.FileManager1.ShowItems",
                            "array:string:file://" + dir.path().string() + "/x%2Cy.txt", "string:"}));
  EXPECT_EQ(calls[1], (Call{"xdg-open", dir.path().string()}));
}

TEST_F(ShellTest, OpenUrlTakesOnlyWebAddressesAndPassesThemWhole) {
  Provide({"xdg-open"});
  for (const char* refused : {"", "-x", "--help", "javascript:alert(1)", "file:///etc/passwd", "/usr/bin/xterm",
                              "www.example.com", "https://", "https://a\nb"}) {
    EXPECT_FALSE(OpenUrl(refused)) << refused;
  }
  const std::string url = "https://nas.example:5001/apps/orlin/?a=1&b='x';$(id)";
  ASSERT_TRUE(OpenUrl(url));
  ASSERT_TRUE(OpenUrl("HTTP://10.0.0.2/"));
  auto calls = WaitForCalls(2);
  ASSERT_EQ(calls.size(), 2u);
  // Two detached helpers may record in either order.
  std::vector<Call> expected{{"xdg-open", url}, {"xdg-open", "HTTP://10.0.0.2/"}};
  EXPECT_TRUE((calls == expected) || (calls == std::vector<Call>{expected[1], expected[0]}));
}

TEST_F(ShellTest, NothingToStartGivesFalse) {
  EXPECT_FALSE(OpenFolder(dir.path()));
  EXPECT_FALSE(ShowItemInFolder(dir.path() / "x"));
  EXPECT_FALSE(OpenUrl("https://example.com/"));
}

TEST(FileUriTest, EncodesEverythingButUnreservedCharactersAndSlashes) {
  EXPECT_EQ(FileUri("/home/ann/a b/c,d/文件/~x_y-z.txt"),
            "file:///home/ann/a%20b/c%2Cd/%E6%96%87%E4%BB%B6/~x_y-z.txt");
  EXPECT_EQ(FileUri("/it's/\"q\"/[1]"), "file:///it%27s/%22q%22/%5B1%5D");
}

}  // namespace
}  // namespace orlin::platform
