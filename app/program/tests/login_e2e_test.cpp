// Signing in through the login window of the built program, against the
// Tarn server stand-in, driven through orlin-ctl as a user would: the
// language switch, an empty field, a wrong password (the window stays usable
// and nothing is written), then the real login through the sync folder
// window, after which the main view opens. Private network and process
// namespaces, as every run of the real engine.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "tests/support/engine_harness.h"
#include "tests/support/namespace_guard.h"
#include "tests/support/tarn_server.h"

namespace orlin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kDeadline = 120s;
constexpr std::uint16_t kServerPort = 8443;
constexpr const char* kUser = "ann lee";
constexpr const char* kPassword = "river & stone";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A word for sh -c: single-quoted, with single quotes of its own escaped.
std::string Quote(const std::string& word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct CtlRun {
  int exitCode = -1;
  std::string out;
};

class LoginEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ORLIN_REQUIRE_PRIVATE_NETWORK();
    const std::string reason = testsupport::EngineUnavailableReason();
    if (!reason.empty()) GTEST_SKIP() << "the real engine cannot run here: " << reason;
    if (std::system("unshare -p -f --mount-proc true >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "needs a process namespace (root)";
    }
    install = std::make_unique<testsupport::ScratchInstall>("install dir");
    ASSERT_EQ(install->error(), "");
    const fs::path built(ORLIN_PROGRAM_DIR);
    fs::copy_file(built / "orlin", dir() / "orlin");
    for (const auto& entry : fs::directory_iterator(built)) {
      if (entry.path().extension() == ".xml") {
        fs::copy_file(entry.path(), dir() / entry.path().filename(), fs::copy_options::overwrite_existing);
      }
    }
    fs::copy(built / "res", dir() / "res", fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    server = std::make_unique<testsupport::TarnServer>(install->root() / "nas", kServerPort,
                                                       std::string(kUser) + ":" + kPassword);
    ASSERT_EQ(server->deviceId().size(), 63u) << "the stand-in did not become ready";
  }

  void TearDown() override {
    Stop();
    server.reset();
  }

  const fs::path& dir() const { return install->installDir(); }

  void StartProgram() {
    const fs::path out = install->root() / "orlin.out";
    const std::string command = "exec unshare -p -f --mount-proc --kill-child env QT_QPA_PLATFORM=offscreen "
                                "ORLIN_AUTOMATION=1 " +
                                Quote((dir() / "orlin").string()) + " >>" + Quote(out.string()) + " 2>&1";
    program = ::fork();
    ASSERT_GE(program, 0);
    if (program == 0) {
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }

  bool WaitFor(const std::function<bool()>& done, const std::string& what) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "waited " << kDeadline.count() << " s for " << what
                      << "; the program said: " << ReadFile(install->root() / "orlin.out");
        return false;
      }
      std::this_thread::sleep_for(100ms);
    }
    return true;
  }

  void Stop() {
    if (program <= 0) return;
    ::kill(program, SIGKILL);
    int status = 0;
    ::waitpid(program, &status, 0);
    program = -1;
  }

  CtlRun Ctl(const std::vector<std::string>& words) {
    const fs::path out = install->root() / "ctl.out";
    std::string command = "timeout 180 " + Quote(ORLIN_CTL_PATH) + " --install-dir " + Quote(dir().string());
    for (const auto& w : words) command += " " + Quote(w);
    command += " >" + Quote(out.string()) + " 2>&1";
    const int status = std::system(command.c_str());
    std::string text = ReadFile(out);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
  }
  std::string Get(const std::string& window, const std::string& control, const std::string& attr = "") {
    std::vector<std::string> words{"get", window, control};
    if (!attr.empty()) words.insert(words.end(), {"--attr", attr});
    return Ctl(words).out;
  }
  void Ok(const std::vector<std::string>& words) {
    const CtlRun run = Ctl(words);
    EXPECT_EQ(run.exitCode, 0) << words[0] << " " << (words.size() > 1 ? words[1] : "") << ": " << run.out;
  }
  bool WaitWindow(const std::string& window) {
    const CtlRun run = Ctl({"wait-window", window, "--timeout", "120"});
    EXPECT_EQ(run.exitCode, 0) << window << ": " << run.out << ReadFile(install->root() / "orlin.out");
    return run.exitCode == 0;
  }
  // The message window shows `text`; it is answered with OK.
  void ExpectMessage(const std::string& text) {
    if (!WaitWindow("MsgWnd")) return;
    EXPECT_EQ(Get("MsgWnd", "MessageText"), text);
    Ok({"click", "MsgWnd", "OKBTN"});
  }
  bool LoginButtonEnabled() { return Get("UILoginWnd", "LOGINBTN", "enabled") == "true"; }
  void Type(const std::string& server, const std::string& user, const std::string& password) {
    Ok({"set", "UILoginWnd", "IPEDIT", server});
    Ok({"set", "UILoginWnd", "USERNAMEEDIT", user});
    Ok({"set", "UILoginWnd", "PASSWORDEDIT", password});
  }

  std::unique_ptr<testsupport::ScratchInstall> install;
  std::unique_ptr<testsupport::TarnServer> server;
  pid_t program = -1;
};

TEST_F(LoginEndToEnd, BadInputLeavesTheWindowUsableAndALoginThroughTheFolderWindowOpensTheMainView) {
  StartProgram();
  ASSERT_TRUE(WaitFor([&] { return fs::exists(dir() / "orlin-automation.sock"); }, "the program's automation"));
  ASSERT_TRUE(WaitWindow("UILoginWnd"));
  const std::string address = "https://127.0.0.1:" + std::to_string(kServerPort);
  // Another account of this computer syncs a folder of its own.
  const fs::path theirs = install->root() / "Bob's folder";
  fs::create_directories(theirs);
  std::ofstream(install->layout().UserConfig())
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<users>\n    <user name=\"bob\" path=\"" << theirs.string()
      << "\" default=\"true\"/>\n</users>\n";
  const std::string userconfig = ReadFile(install->layout().UserConfig());

  // The language menu switches every text and stores the choice.
  Ok({"click", "UILoginWnd", "LANGUAGEBTN"});
  Ok({"menu", "LANG_CHINESE"});
  EXPECT_TRUE(WaitFor([&] { return Get("UILoginWnd", "LOGINBTN") == "登  录"; }, "the Chinese texts"));
  EXPECT_EQ(Get("UILoginWnd", "LOGINTITLE"), "登录 - Orlin");
  EXPECT_NE(ReadFile(install->layout().LangFile()).find("<lang>zh_cn</lang>"), std::string::npos);

  // An empty field: refused at once, nothing sent.
  Type(address, "", kPassword);
  Ok({"click", "UILoginWnd", "LOGINBTN"});
  ExpectMessage("登录失败  (用户名)");
  EXPECT_TRUE(WaitFor([&] { return LoginButtonEnabled(); }, "the login window to be usable again"));

  // A wrong password: asked for the folder first (a new user), then the
  // server refuses; the window is usable again and nothing was written.
  fs::create_directories(install->root() / "Tarn");
  Type(address, kUser, "wrong");
  Ok({"click", "UILoginWnd", "LOGINBTN"});
  ASSERT_TRUE(WaitWindow("UISyncPathWnd"));
  Ok({"set", "UISyncPathWnd", "SYNCPOSEDIT", (install->root() / "Tarn").string()});
  Ok({"click", "UISyncPathWnd", "OKBTN"});
  ExpectMessage("登录失败 ");
  EXPECT_TRUE(WaitFor([&] { return LoginButtonEnabled(); }, "the login window to be usable after the refusal"));
  EXPECT_FALSE(fs::exists(install->layout().Marker()));
  EXPECT_FALSE(fs::exists(install->layout().AccountArchive()));
  EXPECT_EQ(ReadFile(install->layout().UserConfig()), userconfig);

  // A folder that does not exist is refused in the folder window.
  Ok({"set", "UILoginWnd", "PASSWORDEDIT", kPassword});
  Ok({"click", "UILoginWnd", "LOGINBTN"});
  ASSERT_TRUE(WaitWindow("UISyncPathWnd"));
  EXPECT_EQ(Get("UISyncPathWnd", "SYNCPOSEDIT"), (install->root() / "Tarn").string());
  Ok({"set", "UISyncPathWnd", "SYNCPOSEDIT", (install->root() / "missing").string()});
  Ok({"click", "UISyncPathWnd", "OKBTN"});
  ExpectMessage("同步路径无效");
  EXPECT_FALSE(fs::exists(install->layout().Marker()));

  // Another account's folder is refused as well, typed or picked.
  Ok({"set", "UISyncPathWnd", "SYNCPOSEDIT", theirs.string()});
  Ok({"click", "UISyncPathWnd", "OKBTN"});
  ExpectMessage("该路径已经被使用 请使用其他路径");
  EXPECT_EQ(ReadFile(install->layout().UserConfig()), userconfig);

  // The real folder: the login goes through and the main view opens.
  Ok({"set", "UISyncPathWnd", "SYNCPOSEDIT", (install->root() / "Tarn").string()});
  Ok({"click", "UISyncPathWnd", "OKBTN"});
  ASSERT_TRUE(WaitWindow("UIOrlinFrameWnd"));
  EXPECT_TRUE(WaitFor([&] { return Ctl({"windows"}).out.find("UILoginWnd") == std::string::npos; },
                      "the login window to go"));
  EXPECT_TRUE(fs::exists(install->layout().Marker()));
  const std::string users = ReadFile(install->layout().UserConfig());
  EXPECT_NE(users.find("<user name=\"ann lee\" path=\"" + (install->root() / "Tarn").string() + "\" default=\"true\"/>"),
            std::string::npos)
      << users;
  EXPECT_NE(users.find("<user name=\"bob\""), std::string::npos) << users;
}

}  // namespace
}  // namespace orlin
