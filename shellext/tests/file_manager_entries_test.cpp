// The Linux file managers' entries: written when missing in the language of
// lang.xml, rewritten when ours say something else, never over the user's
// own files, Thunar's shared action file keeping the user's actions, and
// all of ours gone after the removal.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "shellext/file_manager_entries.h"
#include "tests/support/temp_dir.h"

namespace orlin::ravel {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Executable(const fs::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && (st.st_mode & S_IXUSR);
}

class Entries : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  EntryPlaces places{dir.path() / "data", dir.path() / "config"};
  const fs::path ravel = "/opt/Orlin it's/ravel";
  const fs::path icon = "/opt/Orlin it's/res/icons/128.png";
  fs::path Script(const char* name) { return places.dataHome / "nautilus" / "scripts" / name; }
  fs::path Service(const char* kind) {
    return places.dataHome / "kio" / "servicemenus" / (std::string("orlin-ravel-") + kind + ".desktop");
  }
  fs::path Nemo(const char* kind) {
    return places.dataHome / "nemo" / "actions" / (std::string("orlin-ravel-") + kind + ".nemo_action");
  }
  fs::path Thunar() { return places.configHome / "Thunar" / "uca.xml"; }
};

TEST_F(Entries, EveryFileManagerGetsItsEntryInTheCurrentLanguage) {
  EntriesRun run = InstallFileManagerEntries(places, ravel, icon, L"en");
  EXPECT_TRUE(run.failures.empty());
  EXPECT_EQ(run.written.size(), 6u);

  const std::string script = Read(Script("Using Orlin to Synchronize"));
  EXPECT_NE(script.find("exec '/opt/Orlin it'\\''s/ravel' \"$@\""), std::string::npos) << script;
  EXPECT_TRUE(Executable(Script("Using Orlin to Synchronize")));

  const std::string folderMenu = Read(Service("folder"));
  EXPECT_NE(folderMenu.find("MimeType=inode/directory;"), std::string::npos);
  EXPECT_NE(folderMenu.find("Name=Using Orlin to Synchronize\n"), std::string::npos);
  EXPECT_NE(folderMenu.find("Comment=Copy the folder to the Tarn Cloud Synchro Folder"), std::string::npos);
  EXPECT_NE(folderMenu.find("Exec=\"/opt/Orlin it's/ravel\" %f"), std::string::npos) << folderMenu;
  EXPECT_TRUE(Executable(Service("folder"))) << "Dolphin runs only executable service menus";
  EXPECT_NE(Read(Service("file")).find("Comment=Copy the file to"), std::string::npos);

  const std::string nemoFile = Read(Nemo("file"));
  EXPECT_NE(nemoFile.find("Extensions=nodirs;"), std::string::npos);
  EXPECT_NE(nemoFile.find("Comment=Copy the file to"), std::string::npos);
  EXPECT_NE(Read(Nemo("folder")).find("Extensions=dir;"), std::string::npos);

  const std::string thunar = Read(Thunar());
  EXPECT_NE(thunar.find("<unique-id>orlin-ravel-folder</unique-id>"), std::string::npos) << thunar;
  EXPECT_NE(thunar.find("<unique-id>orlin-ravel-file</unique-id>"), std::string::npos);
  EXPECT_NE(thunar.find("<command>'/opt/Orlin it'\\''s/ravel' %f</command>"), std::string::npos) << thunar;

  // Nothing changed: nothing written.
  EXPECT_TRUE(InstallFileManagerEntries(places, ravel, icon, L"en").written.empty());

  // Chinese: the texts change, the English script goes.
  run = InstallFileManagerEntries(places, ravel, icon, L"zh_cn");
  EXPECT_FALSE(fs::exists(Script("Using Orlin to Synchronize")));
  EXPECT_TRUE(fs::exists(Script("使用 Orlin 同步")));
  EXPECT_NE(Read(Service("folder")).find("Name=使用 Orlin 同步"), std::string::npos);
  EXPECT_NE(Read(Nemo("file")).find("Comment=将该文件复制到Tarn Cloud 同步文件夹里进行自动同步"), std::string::npos);
  EXPECT_NE(Read(Thunar()).find("<name>使用 Orlin 同步</name>"), std::string::npos);
  EXPECT_EQ(Read(Thunar()).find("Using Orlin"), std::string::npos) << "our actions were changed, not added again";
}

TEST_F(Entries, TheUsersOwnFilesAndActionsStay) {
  fs::create_directories(Service("folder").parent_path());
  std::ofstream(Service("folder")) << "[Desktop Entry]\nName=mine\n";
  fs::create_directories(Thunar().parent_path());
  const std::string userAction =
      "<action><icon>utilities-terminal</icon><name>Open Terminal Here</name><unique-id>1-1</unique-id>"
      "<command>exo-open --launch TerminalEmulator '%f'</command><description>Example</description>"
      "<patterns>*</patterns><startup-notify/><directories/></action>";
  std::ofstream(Thunar()) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>" << userAction << "</actions>\n";

  EntriesRun run = InstallFileManagerEntries(places, ravel, icon, L"en");
  EXPECT_EQ(Read(Service("folder")), "[Desktop Entry]\nName=mine\n");
  const std::string thunar = Read(Thunar());
  EXPECT_NE(thunar.find("Open Terminal Here"), std::string::npos);
  EXPECT_NE(thunar.find("orlin-ravel-file"), std::string::npos);

  run = RemoveFileManagerEntries(places);
  EXPECT_TRUE(run.failures.empty());
  EXPECT_EQ(Read(Service("folder")), "[Desktop Entry]\nName=mine\n");
  EXPECT_FALSE(fs::exists(Service("file")));
  EXPECT_FALSE(fs::exists(Nemo("file")));
  EXPECT_FALSE(fs::exists(Nemo("folder")));
  EXPECT_FALSE(fs::exists(Script("Using Orlin to Synchronize")));
  const std::string after = Read(Thunar());
  EXPECT_NE(after.find("Open Terminal Here"), std::string::npos);
  EXPECT_EQ(after.find("orlin-ravel"), std::string::npos) << after;

  // A damaged uca.xml holds the user's work: it is left as it is.
  std::ofstream(Thunar()) << "<actions><action>";
  run = InstallFileManagerEntries(places, ravel, icon, L"en");
  EXPECT_EQ(Read(Thunar()), "<actions><action>");
  EXPECT_EQ(run.failures.size(), 1u);
}

}  // namespace
}  // namespace orlin::ravel
