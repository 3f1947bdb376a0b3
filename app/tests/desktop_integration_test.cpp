#include "app/desktop_integration.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

using platform::CRegistry;
using platform::Registry;
using platform::RegistryLocation;
using platform::RegistryRoot;
using testsupport::TempDir;

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

constexpr wchar_t kTestsKey[] = L"Software\\Orlin Tests";

// The registry as the code under test sees it, rooted at a scratch key so
// that where the registry is the system's nothing of the user's is touched.
// It writes down every call and can refuse to create one key.
class ScratchRegistry : public Registry {
 public:
  ScratchRegistry(const RegistryLocation& location, std::wstring base, std::vector<std::wstring>* log,
                  std::wstring refuse)
      : real_(RegistryRoot::kCurrentUser, location), base_(std::move(base)), log_(log), refuse_(std::move(refuse)) {
    Rebase();
  }

  bool CreateKey(std::wstring_view subKey) override {
    Log(L"create " + std::wstring(subKey));
    if (subKey == refuse_ || !real_.CreateKey(subKey)) return false;
    open_ = true;
    return true;
  }
  bool OpenKey(std::wstring_view subKey) override {
    if (!real_.OpenKey(subKey)) return false;
    open_ = true;
    return true;
  }
  void Close() override {
    Log(L"close");
    Rebase();
  }
  bool IsOpen() const override { return open_; }
  bool WriteString(std::wstring_view name, std::wstring_view text) override {
    Log(L"write " + std::wstring(name) + L"=" + std::wstring(text));
    return open_ && real_.WriteString(name, text);
  }
  bool ReadString(std::wstring_view name, std::wstring& text) override {
    return open_ && real_.ReadString(name, text);
  }
  bool DeleteValue(std::wstring_view name) override { return open_ && real_.DeleteValue(name); }
  bool DeleteKey(std::wstring_view subKey) override {
    Log(L"delete " + std::wstring(subKey));
    return real_.DeleteKey(subKey);
  }

 private:
  void Rebase() {
    real_.Close();
    real_.CreateKey(base_);
    open_ = false;
  }
  void Log(std::wstring entry) {
    if (log_) log_->push_back(std::move(entry));
  }

  CRegistry real_;
  std::wstring base_;
  std::vector<std::wstring>* log_;
  std::wstring refuse_;
  bool open_ = false;
};

class DesktopIntegrationTest : public ::testing::Test {
 protected:
  void TearDown() override {
    CRegistry reg(RegistryRoot::kCurrentUser, location_);
    if (reg.OpenKey(kTestsKey)) {
      testing::internal::CaptureStdout();
      reg.DeleteKey(base_.substr(std::wstring(kTestsKey).size() + 1));
      testing::internal::GetCapturedStdout();
    }
  }

  DesktopIntegration Make(const std::filesystem::path& executable, std::wstring refuseKey = L"") {
    DesktopIntegrationConfig config;
    config.executable = executable;
    config.session.configHome = dir_.path() / "config";
    config.openCurrentUser = [this, refuseKey] {
      return std::make_unique<ScratchRegistry>(location_, base_, &log_, refuseKey);
    };
    return DesktopIntegration(config);
  }

  std::wstring ReadValue(const std::wstring& key, const std::wstring& name) {
    ScratchRegistry reg(location_, base_, nullptr, L"");
    std::wstring text;
    if (!reg.OpenKey(key) || !reg.ReadString(name, text)) return L"<missing>";
    return text;
  }
  bool KeyExists(const std::wstring& key) {
    ScratchRegistry reg(location_, base_, nullptr, L"");
    return reg.OpenKey(key);
  }
  void DeleteKey(const std::wstring& key) {
    ScratchRegistry reg(location_, base_, nullptr, L"");
    reg.DeleteKey(key);
  }
  std::filesystem::path AutostartFile() const { return dir_.path() / "config" / "autostart" / "orlin.desktop"; }
  std::filesystem::path Bookmarks() const { return dir_.path() / "config" / "gtk-3.0" / "bookmarks"; }

  TempDir dir_;
  RegistryLocation location_{dir_.path() / "registry"};
  std::wstring base_ = std::wstring(kTestsKey) + L"\\desktop-" + std::to_wstring(std::random_device{}());
  std::vector<std::wstring> log_;
  const std::filesystem::path exe_{"/opt/Orlin/Orlin"};
  const bool session_ = platform::SessionEntriesSupported();
};

TEST_F(DesktopIntegrationTest, AutostartOnWritesTheRunValueAndTheSessionEntry) {
  const auto desktop = Make(exe_);
  EXPECT_FALSE(desktop.AutostartEnabled());
  desktop.SetAutostart(true);
  EXPECT_TRUE(desktop.AutostartEnabled());
  EXPECT_EQ(ReadValue(kRunKey, L"Orlin"), L"/opt/Orlin/Orlin");
  if (session_) {
    const std::string entry = ReadFile(AutostartFile());
    EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(entry.find("\nExec=\"/opt/Orlin/Orlin\"\n"), std::string::npos);
  }

  desktop.SetAutostart(false);
  EXPECT_FALSE(desktop.AutostartEnabled());
  EXPECT_EQ(ReadValue(kRunKey, L"Orlin"), L"<missing>");
  EXPECT_FALSE(std::filesystem::exists(AutostartFile()));
  desktop.SetAutostart(false);  // switching off twice is harmless
  EXPECT_FALSE(desktop.AutostartEnabled());
}

TEST_F(DesktopIntegrationTest, AutostartReadsOffWhenTheExecutableMoved) {
  Make(exe_).SetAutostart(true);
  EXPECT_FALSE(Make("/opt/Orlin2/Orlin").AutostartEnabled());
  EXPECT_FALSE(Make("/opt/orlin/orlin").AutostartEnabled());  // the comparison keeps case
  EXPECT_TRUE(Make(exe_).AutostartEnabled());
}

TEST_F(DesktopIntegrationTest, AutostartReadsOffForPathsLongerThanNinetyNineCharacters) {
  const std::string dir = "/" + std::string(90, 'd') + "/";
  const std::filesystem::path ninetyNine = dir + std::string(99 - dir.size(), 'x');
  const std::filesystem::path hundred = dir + std::string(100 - dir.size(), 'x');
  ASSERT_EQ(ninetyNine.string().size(), 99u);

  const auto fits = Make(ninetyNine);
  fits.SetAutostart(true);
  EXPECT_TRUE(fits.AutostartEnabled());

  const auto tooLong = Make(hundred);
  tooLong.SetAutostart(true);
  EXPECT_FALSE(tooLong.AutostartEnabled());
  EXPECT_EQ(ReadValue(kRunKey, L"Orlin"), L"<missing>");  // stored, but too long to read back
  if (session_) {
    EXPECT_TRUE(std::filesystem::exists(AutostartFile()));
  }
}

TEST_F(DesktopIntegrationTest, AutostartReadsOffWhenTheSessionEntryIsGoneOrDisabled) {
  if (!session_) GTEST_SKIP() << "the session keeps no entries of its own here";
  const auto desktop = Make(exe_);
  desktop.SetAutostart(true);
  std::filesystem::remove(AutostartFile());
  EXPECT_FALSE(desktop.AutostartEnabled());

  desktop.SetAutostart(true);
  std::ofstream(AutostartFile(), std::ios::app) << "Hidden=true\n";
  EXPECT_FALSE(desktop.AutostartEnabled());
}

TEST_F(DesktopIntegrationTest, SessionEntryQuotesAwkwardExecutablePaths) {
  if (!session_) GTEST_SKIP() << "the session keeps no entries of its own here";
  const std::filesystem::path odd = "/opt/My Apps/or$lin%1\\\"x";
  const auto desktop = Make(odd);
  desktop.SetAutostart(true);
  EXPECT_NE(ReadFile(AutostartFile()).find("\nExec=\"/opt/My Apps/or\\\\$lin%%1\\\\\\\\\\\\\"x\"\n"),
            std::string::npos)
      << ReadFile(AutostartFile());
  EXPECT_TRUE(desktop.AutostartEnabled());
  EXPECT_FALSE(Make("/opt/My Apps/or$lin%1").AutostartEnabled());
}

TEST_F(DesktopIntegrationTest, NamespaceEntryIsCreatedInOrderAndCanBeRemoved) {
  const auto desktop = Make(exe_);
  EXPECT_FALSE(desktop.NamespaceEntryPresent());
  const auto result = desktop.CreateNamespaceEntry(dir_.path() / "Sync Folder");
  ASSERT_TRUE(result.ok) << std::string(result.failedKey.begin(), result.failedKey.end());

  const std::wstring exe = exe_.wstring();
  const std::vector<std::wstring> expected = {
      std::wstring(L"create ") + kNamespaceKey,
      L"write =Orlin",
      L"close",
      std::wstring(L"create ") + kClsidKey,
      L"write =Orlin",
      L"create DefaultIcon",
      L"write =" + exe,
      L"close",
      std::wstring(L"create ") + kClsidKey + L"\\shell",
      L"create Open\\Command",
      L"write =" + exe,
      L"close",
  };
  EXPECT_EQ(log_, expected);
  EXPECT_EQ(ReadValue(kNamespaceKey, L""), L"Orlin");
  EXPECT_EQ(ReadValue(kClsidKey, L""), L"Orlin");
  EXPECT_EQ(ReadValue(std::wstring(kClsidKey) + L"\\DefaultIcon", L""), exe);
  EXPECT_EQ(ReadValue(std::wstring(kClsidKey) + L"\\Shell\\Open\\Command", L""), exe);
  if (session_) {
    EXPECT_NE(ReadFile(Bookmarks()).find("file://" + (dir_.path() / "Sync%20Folder").string() + " Orlin\n"),
              std::string::npos)
        << ReadFile(Bookmarks());
  }
  EXPECT_TRUE(desktop.NamespaceEntryPresent());

  log_.clear();
  desktop.RemoveNamespaceEntry();
  EXPECT_EQ(log_, (std::vector<std::wstring>{std::wstring(L"delete ") + kNamespaceKey,
                                             std::wstring(L"delete ") + kClsidKey}));
  EXPECT_FALSE(desktop.NamespaceEntryPresent());
  EXPECT_FALSE(KeyExists(kClsidKey));
  EXPECT_FALSE(KeyExists(kNamespaceKey));
  EXPECT_EQ(ReadFile(Bookmarks()).find("Orlin"), std::string::npos);
}

TEST_F(DesktopIntegrationTest, NamespaceCreationStopsAtTheFirstKeyThatCannotBeMade) {
  struct Case {
    std::wstring refuse;
    std::wstring failedKey;
    bool clsidExists;
    bool iconExists;
  };
  const std::vector<Case> cases = {
      {kNamespaceKey, kNamespaceClsid, false, false},
      {kClsidKey, kNamespaceClsid, false, false},
      {L"DefaultIcon", L"DefaultIcon", true, false},
      {std::wstring(kClsidKey) + L"\\shell", L"Shell", true, true},
      {L"Open\\Command", L"Command", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.failedKey.begin(), c.failedKey.end()));
    testing::internal::CaptureStdout();
    DeleteKey(L"SOFTWARE");
    testing::internal::GetCapturedStdout();
    const auto result = Make(exe_, c.refuse).CreateNamespaceEntry(dir_.path());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failedKey, c.failedKey);
    EXPECT_EQ(KeyExists(kClsidKey), c.clsidExists);
    EXPECT_EQ(KeyExists(std::wstring(kClsidKey) + L"\\DefaultIcon"), c.iconExists);
    EXPECT_FALSE(KeyExists(std::wstring(kClsidKey) + L"\\shell\\Open\\Command"));
    EXPECT_FALSE(Make(exe_).NamespaceEntryPresent());
  }
}

TEST_F(DesktopIntegrationTest, NamespaceEntryNeedsAnUsableExecutablePath) {
  const auto result = Make("/" + std::string(kMaxExecutablePathChars, 'x')).CreateNamespaceEntry(dir_.path());
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.failedKey, L"");
  EXPECT_TRUE(log_.empty());
}

TEST_F(DesktopIntegrationTest, NamespaceEntryIsAbsentWhenOnlyPartOfItExists) {
  const auto desktop = Make(exe_);
  ASSERT_TRUE(desktop.CreateNamespaceEntry(dir_.path()).ok);
  DeleteKey(kNamespaceKey);
  EXPECT_FALSE(desktop.NamespaceEntryPresent());
  ASSERT_TRUE(desktop.CreateNamespaceEntry(dir_.path()).ok);
  EXPECT_TRUE(desktop.NamespaceEntryPresent());
  if (session_) {
    std::filesystem::remove(Bookmarks());
    EXPECT_FALSE(desktop.NamespaceEntryPresent());
  }
}

TEST_F(DesktopIntegrationTest, RemovingAMissingEntryReportsOnTheConsoleOnly) {
  std::filesystem::create_directories(Bookmarks().parent_path());
  std::ofstream(Bookmarks(), std::ios::binary) << "file:///home/me/Music Music\nfile:///home/me/Work\n";  // byte for byte
  testing::internal::CaptureStdout();
  Make(exe_).RemoveNamespaceEntry();
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_NE(console.find("删除SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MyComputer"), std::string::npos);
  EXPECT_NE(console.find("删除SOFTWARE\\Classes\\CLSID\\{A5F4E1C4"), std::string::npos);
  // The user's own places are left alone.
  EXPECT_EQ(ReadFile(Bookmarks()), "file:///home/me/Music Music\nfile:///home/me/Work\n");
}

TEST_F(DesktopIntegrationTest, ThePlaceFollowsTheSyncFolderAndKeepsOtherBookmarks) {
  if (!session_) GTEST_SKIP() << "the session keeps no entries of its own here";
  std::filesystem::create_directories(Bookmarks().parent_path());
  std::ofstream(Bookmarks()) << "file:///home/me/Music Music\n";
  const auto desktop = Make(exe_);
  ASSERT_TRUE(desktop.CreateNamespaceEntry("/home/me/Old").ok);
  ASSERT_TRUE(desktop.CreateNamespaceEntry("/home/me/同步/").ok);
  EXPECT_EQ(ReadFile(Bookmarks()),
            "file:///home/me/Music Music\nfile:///home/me/%E5%90%8C%E6%AD%A5 Orlin\n");
}

}  // namespace
}  // namespace orlin
