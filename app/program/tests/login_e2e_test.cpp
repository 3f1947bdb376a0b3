// Signing in through the login window of the built program, against the
// Tarn server stand-in, driven through orlin-ctl as a user would: the
// language switch, an empty field, a wrong password (the window stays usable
// and nothing is written), then the real login through the sync folder
// window, after which the main view opens. Private network and process
// namespaces, as every run of the real engine.

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/program_session.h"

namespace orlin {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUser = "ann lee";
constexpr const char* kPassword = "river & stone";

class LoginEndToEnd : public testsupport::ProgramSession {
 protected:
  void SetUp() override {
    SetUpProgram({.programDir = ORLIN_PROGRAM_DIR,
                  .ctl = ORLIN_CTL_PATH,
                  .account = std::string(kUser) + ":" + kPassword});
  }

  std::string Get(const std::string& window, const std::string& control, const std::string& attr = "") {
    return Ctl("get " + window + " " + control + (attr.empty() ? "" : " --attr " + attr)).out;
  }
  // The message window shows `text`; it is answered with OK.
  void ExpectMessage(const std::string& text) {
    if (!WaitWindow("MsgWnd")) return;
    EXPECT_EQ(Get("MsgWnd", "MessageText"), text);
    Must("click MsgWnd OKBTN");
  }
  bool LoginButtonEnabled() { return Get("UILoginWnd", "LOGINBTN", "enabled") == "true"; }
  void Type(const std::string& server, const std::string& user, const std::string& password) {
    Must("set UILoginWnd IPEDIT " + Quote(server));
    Must("set UILoginWnd USERNAMEEDIT " + Quote(user));
    Must("set UILoginWnd PASSWORDEDIT " + Quote(password));
  }
};

TEST_F(LoginEndToEnd, BadInputLeavesTheWindowUsableAndALoginThroughTheFolderWindowOpensTheMainView) {
  ASSERT_TRUE(StartProgram());
  ASSERT_TRUE(WaitWindow("UILoginWnd"));
  const std::string address = TarnServerAddress();
  // Another account of this computer syncs a folder of its own.
  const fs::path theirs = install->root() / "Bob's folder";
  fs::create_directories(theirs);
  std::ofstream(install->layout().UserConfig())
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<users>\n    <user name=\"bob\" path=\"" << theirs.string()
      << "\" default=\"true\"/>\n</users>\n";
  const std::string userconfig = ReadFile(install->layout().UserConfig());

  // The language menu switches every text and stores the choice.
  Must("click UILoginWnd LANGUAGEBTN");
  Must("menu LANG_CHINESE");
  EXPECT_TRUE(WaitUntil([&] { return Get("UILoginWnd", "LOGINBTN") == "登  录"; }, "the Chinese texts"));
  EXPECT_EQ(Get("UILoginWnd", "LOGINTITLE"), "登录 - Orlin");
  EXPECT_NE(ReadFile(install->layout().LangFile()).find("<lang>zh_cn</lang>"), std::string::npos);

  // An empty field: refused at once, nothing sent.
  Type(address, "", kPassword);
  Must("click UILoginWnd LOGINBTN");
  ExpectMessage("登录失败  (用户名)");
  EXPECT_TRUE(WaitUntil([&] { return LoginButtonEnabled(); }, "the login window to be usable again"));

  // A wrong password: asked for the folder first (a new user), then the
  // server refuses; the window is usable again and nothing was written.
  fs::create_directories(install->root() / "Tarn");
  Type(address, kUser, "wrong");
  Must("click UILoginWnd LOGINBTN");
  ASSERT_TRUE(WaitWindow("UISyncPathWnd"));
  Must("set UISyncPathWnd SYNCPOSEDIT " + Quote((install->root() / "Tarn").string()));
  Must("click UISyncPathWnd OKBTN");
  ExpectMessage("登录失败 ");
  EXPECT_TRUE(WaitUntil([&] { return LoginButtonEnabled(); }, "the login window to be usable after the refusal"));
  EXPECT_FALSE(fs::exists(install->layout().Marker()));
  EXPECT_FALSE(fs::exists(install->layout().AccountArchive()));
  EXPECT_EQ(ReadFile(install->layout().UserConfig()), userconfig);

  // A folder that does not exist is refused in the folder window.
  Must("set UILoginWnd PASSWORDEDIT " + Quote(kPassword));
  Must("click UILoginWnd LOGINBTN");
  ASSERT_TRUE(WaitWindow("UISyncPathWnd"));
  EXPECT_EQ(Get("UISyncPathWnd", "SYNCPOSEDIT"), (install->root() / "Tarn").string());
  Must("set UISyncPathWnd SYNCPOSEDIT " + Quote((install->root() / "missing").string()));
  Must("click UISyncPathWnd OKBTN");
  ExpectMessage("同步路径无效");
  EXPECT_FALSE(fs::exists(install->layout().Marker()));

  // Another account's folder is refused as well, typed or picked.
  Must("set UISyncPathWnd SYNCPOSEDIT " + Quote(theirs.string()));
  Must("click UISyncPathWnd OKBTN");
  ExpectMessage("该路径已经被使用 请使用其他路径");
  EXPECT_EQ(ReadFile(install->layout().UserConfig()), userconfig);

  // The real folder: the login goes through and the main view opens.
  Must("set UISyncPathWnd SYNCPOSEDIT " + Quote((install->root() / "Tarn").string()));
  Must("click UISyncPathWnd OKBTN");
  ASSERT_TRUE(WaitWindow("UIOrlinFrameWnd"));
  EXPECT_TRUE(WaitUntil([&] { return !WindowListed("UILoginWnd"); }, "the login window to go"));
  EXPECT_TRUE(fs::exists(install->layout().Marker()));
  const std::string users = ReadFile(install->layout().UserConfig());
  EXPECT_NE(users.find("<user name=\"ann lee\" path=\"" + (install->root() / "Tarn").string() + "\" default=\"true\"/>"),
            std::string::npos)
      << users;
  EXPECT_NE(users.find("<user name=\"bob\""), std::string::npos) << users;
}

}  // namespace
}  // namespace orlin
