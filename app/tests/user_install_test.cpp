#include "app/user_install.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/install_directory.h"
#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

void Write(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// /opt/orlin as the package leaves it: programs, skins, images, defaults
// (read-only, as root's files are to a user) and the marker.
class UserInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(programs / "res" / "icons");
    fs::create_directories(programs / "engine");
    Write(programs / "orlin", "program");
    Write(programs / "Sync.exe", "engine link");
    Write(programs / "orlin.xml", "<Window/>");
    Write(programs / "res" / "icons" / "128.png", "png");
    for (const char* file : kUserStateFiles) {
      Write(programs / file, std::string("default ") + file);
      fs::permissions(programs / file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
    Write(programs / platform::kPerUserInstallMarker, "");
  }

  TempDir temp;
  fs::path programs = temp.path() / "opt" / "orlin";
  fs::path mine = temp.path() / "home" / ".local" / "share" / "orlin";
};

TEST_F(UserInstallTest, FirstStartLaysOutAPrivateDirectoryOfCopiesAndLinks) {
  const UserInstallResult result = LayOutUserInstall(programs, mine);
  ASSERT_TRUE(result.ok);
  EXPECT_TRUE(result.failures.empty()) << result.failures.front();

  EXPECT_EQ(fs::status(mine).permissions() & fs::perms::all, fs::perms::owner_all);
  for (const char* file : kUserStateFiles) {
    EXPECT_FALSE(fs::is_symlink(mine / file)) << file << " must be the user's own copy";
    EXPECT_EQ(Read(mine / file), std::string("default ") + file);
    EXPECT_NE(fs::status(mine / file).permissions() & fs::perms::owner_write, fs::perms::none) << file;
  }
  for (const char* entry : {"orlin", "Sync.exe", "orlin.xml", "res", "engine"}) {
    ASSERT_TRUE(fs::is_symlink(mine / entry)) << entry;
    EXPECT_EQ(fs::read_symlink(mine / entry), programs / entry);
  }
  EXPECT_EQ(Read(mine / "res" / "icons" / "128.png"), "png");
  EXPECT_FALSE(fs::exists(fs::symlink_status(mine / platform::kPerUserInstallMarker)))
      << "the user's directory must not send the programs to another one";
}

TEST_F(UserInstallTest, LaterStartsKeepTheUsersFilesAndFollowTheProgramsOfANewerPackage) {
  ASSERT_TRUE(LayOutUserInstall(programs, mine).ok);
  Write(mine / "lang.xml", "user's language");
  fs::create_directories(mine / "syncconfig");
  Write(mine / "syncconfig" / "config.xml.configured", "ABCDEF");
  fs::remove(mine / "orlin.xml");
  Write(mine / "orlin.xml", "user's own skin");

  // The newer package brings a program and drops an image folder's file.
  Write(programs / "AutoUpdater", "updater");
  fs::remove(programs / "Sync.exe");
  const UserInstallResult again = LayOutUserInstall(programs, mine);
  ASSERT_TRUE(again.ok);
  EXPECT_TRUE(again.failures.empty()) << again.failures.front();

  EXPECT_EQ(Read(mine / "lang.xml"), "user's language");
  EXPECT_EQ(Read(mine / "syncconfig" / "config.xml.configured"), "ABCDEF");
  EXPECT_EQ(Read(mine / "orlin.xml"), "user's own skin") << "a file in the way of a link stays";
  EXPECT_TRUE(fs::is_symlink(mine / "AutoUpdater"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(mine / "Sync.exe"))) << "no link to a file the package dropped";
}

TEST_F(UserInstallTest, ARemovedPackageLeavesTheUsersDirectoryAlone) {
  ASSERT_TRUE(LayOutUserInstall(programs, mine).ok);
  Write(mine / "userconfig.xml", "<users><user name=\"anna\"/></users>");
  fs::remove_all(programs);
  LayOutUserInstall(programs, mine);
  EXPECT_EQ(Read(mine / "userconfig.xml"), "<users><user name=\"anna\"/></users>");
  EXPECT_TRUE(fs::is_symlink(mine / "orlin")) << "links wait for the package to come back";
}

TEST_F(UserInstallTest, ADirectoryThatCannotBeMadeIsAFailure) {
  Write(temp.path() / "file", "");
  const UserInstallResult result = LayOutUserInstall(programs, temp.path() / "file" / "orlin");
  EXPECT_FALSE(result.ok);
  EXPECT_FALSE(result.failures.empty());
}

TEST(PerUserInstallDirectoryTest, FollowsTheXdgDataHomeRule) {
  EXPECT_EQ(platform::PerUserInstallDirectory("/data/anna", "/home/anna"), fs::path("/data/anna/orlin"));
  EXPECT_EQ(platform::PerUserInstallDirectory("", "/home/anna"), fs::path("/home/anna/.local/share/orlin"));
  EXPECT_EQ(platform::PerUserInstallDirectory("relative/data", "/home/anna"),
            fs::path("/home/anna/.local/share/orlin"));
  EXPECT_EQ(platform::PerUserInstallDirectory("", ""), fs::path());
}

}  // namespace
}  // namespace orlin
