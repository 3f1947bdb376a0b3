#include "account/versioning_setting.h"

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <string>
#include <vector>

#include "app/store/state_files.h"
#include "common/message_presenter.h"
#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

constexpr wchar_t kServerId[] = L"GCANPO7-CZIGSCY-PJ6ZJYP-NHOVANG-GXNFXD6-QT3WJBF-GDAQYJH-JJLY5A6";

class RecordingPresenter : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring& title, const std::wstring& key, bool showCancel) override {
    EXPECT_EQ(title, L"Orlin");
    EXPECT_FALSE(showCancel);
    keys.push_back(key);
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring& detail, bool) override { keys.push_back(L"login:" + detail); }
  std::vector<std::wstring> keys;
};

// Plays the server: answers each post with the next scripted reply.
class ScriptedServer : public TarnTransport {
 public:
  TarnReply Post(const std::wstring& url, const std::wstring& form, const std::string& trustedFingerprint) override {
    urls.push_back(url);
    forms.push_back(form);
    trusted.push_back(trustedFingerprint);
    if (replies.empty()) return {};
    TarnReply reply = replies.front();
    replies.pop_front();
    return reply;
  }
  static TarnReply Status(int status, std::wstring body = L"") {
    TarnReply reply;
    reply.answered = true;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
  }
  static TarnReply NoRoute() {
    TarnReply reply;
    reply.errorText = L"The server name could not be resolved";
    return reply;
  }
  // Another certificate than the trusted one: nothing was sent.
  static TarnReply OtherCertificate() {
    TarnReply reply;
    reply.errorText = L"The server's certificate is not the one this account trusts ";
    reply.certificateRefused = true;
    return reply;
  }

  std::deque<TarnReply> replies;
  std::vector<std::wstring> urls;
  std::vector<std::wstring> forms;
  std::vector<std::string> trusted;
};

class VersioningSettingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(layout_.EngineHome());
    std::ofstream(layout_.EngineConfig())
        << "<configuration version=\"36\">\n"
           "  <folder id=\"anna&amp;bob"
        << std::string(std::begin(kServerId), std::end(kServerId) - 1)
        << "\" path=\"/tmp/sync\" type=\"sendreceive\"/>\n"
           "  <folder id=\"second\" path=\"/tmp/other\"/>\n"
           "</configuration>\n";
  }
  void Login() { ASSERT_TRUE(files_.CreateMarker({L"192.168.1.20:5001", L"anna&bob", L"p@ss word"})); }
  VersioningResult Send(std::int32_t versions) {
    VersioningSetting setting(files_, server_, presenter_, [this](const std::wstring& line) { debug_.push_back(line); });
    return setting.Send(versions);
  }

  testsupport::TempDir dir_;
  InstallLayout layout_{dir_.path() / "install"};
  RecordingPresenter presenter_;
  StateFiles files_{layout_, presenter_};
  ScriptedServer server_;
  std::vector<std::wstring> debug_;
};

TEST_F(VersioningSettingTest, PostsTheStoredAccountAndTheFirstFolder) {
  Login();
  server_.replies = {ScriptedServer::Status(200, L"Success\r\n")};
  const auto result = Send(7);
  EXPECT_EQ(result.exchange, VersioningExchange::kAnswered);
  EXPECT_TRUE(result.accepted);
  EXPECT_EQ(result.sends, 1);
  ASSERT_EQ(server_.forms.size(), 1u);
  EXPECT_EQ(server_.urls[0], L"https://192.168.1.20:5001/apps/orlin/settings.php?");
  EXPECT_EQ(server_.forms[0], L"username=anna%26bob&password=p%40ss%20word&versions=7&folderid=anna%26bob" +
                                  std::wstring(kServerId));
  EXPECT_EQ(presenter_.keys, std::vector<std::wstring>{L"versioning_Success_msg"});

  // The diagnostic lines never carry the password.
  ASSERT_EQ(debug_.size(), 2u);
  EXPECT_EQ(debug_[0].rfind(L"strRequestData:username=anna%26bob&password=", 0), 0u);
  EXPECT_EQ(debug_[0].find(L"p%40ss"), std::wstring::npos);
  EXPECT_EQ(debug_[1], L"Http:https://192.168.1.20:5001/apps/orlin/settings.php?");
}

// A user name and password beyond Latin-1 come back from the marker whole,
// so the server gets the credentials it knows.
TEST_F(VersioningSettingTest, CredentialsBeyondLatin1ReachTheServerWhole) {
  ASSERT_TRUE(files_.CreateMarker({L"nas.example", L"\u674E\u96F7", L"\u043F\u0430\u0440\u043E\u043B\u044C"}));
  server_.replies = {ScriptedServer::Status(200, L"Success")};
  EXPECT_TRUE(Send(3).accepted);
  ASSERT_EQ(server_.forms.size(), 1u);
  EXPECT_EQ(server_.forms[0].rfind(L"username=%E6%9D%8E%E9%9B%B7&password=%D0%BF%D0%B0%D1%80%D0%BE%D0%BB%D1%8C&", 0),
            0u)
      << server_.forms[0];
}

TEST_F(VersioningSettingTest, WithoutALoginNothingIsSentOrShown) {
  const auto result = Send(3);
  EXPECT_EQ(result.exchange, VersioningExchange::kNoCredentials);
  EXPECT_TRUE(server_.forms.empty());
  EXPECT_TRUE(presenter_.keys.empty());
}

TEST_F(VersioningSettingTest, RetriesUntilStatus200ForAtMostFiveSends) {
  Login();
  server_.replies = {ScriptedServer::Status(503), ScriptedServer::Status(503), ScriptedServer::Status(503),
                     ScriptedServer::Status(503), ScriptedServer::Status(200, L"Success")};
  auto result = Send(0);
  EXPECT_EQ(result.sends, 5);
  EXPECT_TRUE(result.accepted);
  EXPECT_NE(server_.forms.back().find(L"&versions=0&"), std::wstring::npos);
  EXPECT_EQ(presenter_.keys, std::vector<std::wstring>{L"versioning_Success_msg"});

  presenter_.keys.clear();
  for (int i = 0; i < 6; ++i) server_.replies.push_back(ScriptedServer::Status(503, L"Success"));
  result = Send(2);
  EXPECT_EQ(result.exchange, VersioningExchange::kNoStatus200);
  EXPECT_EQ(result.sends, 5);
  EXPECT_FALSE(result.accepted);
  EXPECT_EQ(presenter_.keys, (std::vector<std::wstring>{L"Connect_Server_Failed_msg", L"versioning_Failed_msg"}));
}

TEST_F(VersioningSettingTest, AnInternetErrorEndsTheExchange) {
  Login();
  server_.replies = {ScriptedServer::Status(503), ScriptedServer::NoRoute(), ScriptedServer::Status(200, L"Success")};
  const auto result = Send(4);
  EXPECT_EQ(result.exchange, VersioningExchange::kInternetError);
  EXPECT_EQ(result.sends, 2);
  EXPECT_EQ(presenter_.keys, std::vector<std::wstring>{L"versioning_Failed_msg"});
}

// The password goes only to the server whose certificate the login saw.
TEST_F(VersioningSettingTest, AnotherCertificateThanAtLoginIsRefusedAndNamed) {
  Login();
  const std::string fingerprint(64, 'c');
  ASSERT_TRUE(files_.WriteServerFingerprint(fingerprint));
  server_.replies = {ScriptedServer::Status(200, L"Success")};
  EXPECT_TRUE(Send(2).accepted);
  EXPECT_EQ(server_.trusted, std::vector<std::string>{fingerprint});

  presenter_.keys.clear();
  server_.replies = {ScriptedServer::OtherCertificate(), ScriptedServer::Status(200, L"Success")};
  const auto result = Send(2);
  EXPECT_EQ(result.exchange, VersioningExchange::kCertificateChanged);
  EXPECT_EQ(result.sends, 1);
  EXPECT_FALSE(result.accepted);
  EXPECT_EQ(presenter_.keys, (std::vector<std::wstring>{L"ServerCert_Changed_Msg", L"versioning_Failed_msg"}));

  // A damaged fingerprint file does not turn the check off.
  std::ofstream(layout_.ServerCertificate()) << "\n";
  server_.replies = {ScriptedServer::Status(200, L"Success")};
  Send(2);
  EXPECT_NE(server_.trusted.back(), "");
}

TEST_F(VersioningSettingTest, AnythingButSuccessIsARefusal) {
  Login();
  for (const wchar_t* answer : {L"success", L"Success.", L"Failed: wrong password", L""}) {
    presenter_.keys.clear();
    server_.replies = {ScriptedServer::Status(200, answer)};
    EXPECT_FALSE(Send(1).accepted) << answer;
    EXPECT_EQ(presenter_.keys, std::vector<std::wstring>{L"versioning_Failed_msg"});
  }
}

}  // namespace
}  // namespace orlin
