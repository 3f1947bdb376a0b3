#include "tools/auto-updater/system_update.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/window_messages.h"
#include "platform/install_directory.h"
#include "platform/window_lookup.h"
#include "tests/support/temp_dir.h"

namespace orlin::update {
namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// --- the product's collaborators that need no server

struct RecordingTable final : platform::ProcessTable {
  std::vector<platform::ProcessEntry> running;
  std::vector<std::wstring> ended;
  std::optional<std::vector<platform::ProcessEntry>> Scan() override { return running; }
  std::optional<platform::ProcessId> StartHidden(const std::wstring&) override { return std::nullopt; }
  bool Terminate(platform::ProcessId pid, std::uint32_t) override {
    for (auto it = running.begin(); it != running.end(); ++it) {
      if (it->pid != pid) continue;
      ended.push_back(it->imageName);
      running.erase(it);
      return true;
    }
    return false;
  }
};

// Orlin's exit request travels over the install directory's window channel;
// whatever is left is ended watchdog first, then Orlin, then the engine, and
// another user's processes are left alone.
TEST(SystemUpdateActions, AsksOrlinToExitThenEndsTheRestInTheUninstallersOrder) {
  TempDir dir;
  RecordingTable table;
  table.running = {{11, L"Sync.exe"}, {12, L"orlin"}, {13, L"Monitoring"}, {14, L"Sync.exe"},
                   {15, L"Monitoring", false}};
  std::vector<unsigned> messages;
  platform::MailboxHandlers handlers;
  handlers.postToUi = [](std::function<void()> task) { task(); };
  handlers.windowMessage = [&](unsigned message, std::uintptr_t, std::intptr_t) -> std::optional<std::intptr_t> {
    messages.push_back(message);
    return 0;
  };
  platform::MailboxOpen mailbox = platform::OpenMainWindowMailbox(dir.path(), std::move(handlers));
  ASSERT_NE(mailbox.mailbox, nullptr) << mailbox.error;

  SystemUpdateOptions options;
  options.installDir = dir.path();
  options.exitGrace = std::chrono::milliseconds(100);
  SystemUpdateActions actions(options, table);
  EXPECT_TRUE(actions.EndOrlin());
  EXPECT_EQ(messages, std::vector<unsigned>{kMsgQuit});
  EXPECT_EQ(table.ended, (std::vector<std::wstring>{L"Monitoring", L"orlin", L"Sync.exe", L"Sync.exe"}));
  ASSERT_EQ(table.running.size(), 1u);
  EXPECT_EQ(table.running[0].pid, 15u);
  mailbox.mailbox->Stop();
}

TEST(SystemUpdateActions, RunsTheInstallerOrlinIniNamesWithThePackage) {
  TempDir dir;
  RecordingTable table;
  SystemUpdateOptions options;
  options.installDir = dir.path();
  options.programDir = dir.path();
  SystemUpdateActions actions(options, table);
  const fs::path package = dir.path() / "update" / "orlin 1.1.deb";
  EXPECT_TRUE(actions.InstallerCommand(package).empty())
      << "programs not installed by the package have no installer of the system";
  std::ofstream(dir.path() / platform::kPerUserInstallMarker) << "";
  const auto system = actions.InstallerCommand(package);
  ASSERT_GE(system.size(), 4u);
  EXPECT_EQ(system.back(), package.wstring());
  EXPECT_EQ(system[system.size() - 4], L"apt-get");
  EXPECT_EQ(system.front(), ::geteuid() == 0 ? L"apt-get" : L"pkexec");

  std::ofstream(dir.path() / "Orlin.ini") << "[product]\noutname=Orlin\n[update]\n"
                                             "installer=/bin/cp {package} \""
                                          << (dir.path() / "installed").string() << "\"\n";
  const auto command = actions.InstallerCommand(package);
  ASSERT_EQ(command.size(), 3u);
  EXPECT_EQ(command[0], L"/bin/cp");
  EXPECT_EQ(command[1], package.wstring()) << "the package is one word, blanks and all";

  fs::create_directories(package.parent_path());
  std::ofstream(package) << "the package";
  EXPECT_TRUE(actions.RunInstaller(package));
  EXPECT_EQ(Read(dir.path() / "installed"), "the package");
  fs::remove(package);
  EXPECT_FALSE(actions.RunInstaller(package)) << "an installer that fails is reported";
}

}  // namespace
}  // namespace orlin::update
