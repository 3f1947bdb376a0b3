#include "account/login.h"

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/message_presenter.h"
#include "engine/config_file.h"
#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

constexpr char kClientId[] = "HF545RU-IPF2XEP-XMPKNLX-JNH3A6O-IAGMSMY-QBX4NQB-YTLACH3-KBJ7CQR";
constexpr wchar_t kServerId[] = L"GCANPO7-CZIGSCY-PJ6ZJYP-NHOVANG-GXNFXD6-QT3WJBF-GDAQYJH-JJLY5A6";

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class RecordingPresenter : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring& title, const std::wstring& key, bool showCancel) override {
    EXPECT_EQ(title, L"Orlin");
    shown.push_back(key + (showCancel ? L" +cancel" : L""));
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring& detail, bool showCancel) override {
    shown.push_back(L"Login_Failed_msg:" + detail + (showCancel ? L" +cancel" : L""));
  }
  std::vector<std::wstring> shown;
};

TarnReply Answered(int status, std::wstring body, std::string fingerprint = {}) {
  TarnReply reply;
  reply.answered = true;
  reply.status = status;
  reply.body = std::move(body);
  reply.certificateFingerprint = std::move(fingerprint);
  return reply;
}

TarnReply NoAnswer(std::wstring errorText) {
  TarnReply reply;
  reply.errorText = std::move(errorText);
  return reply;
}

class ScriptedServer : public TarnTransport {
 public:
  TarnReply Post(const std::wstring& url, const std::wstring& form, const std::string& trustedFingerprint) override {
    urls.push_back(url);
    forms.push_back(form);
    trusted.push_back(trustedFingerprint);
    return reply;
  }
  TarnReply reply;
  std::vector<std::wstring> urls;
  std::vector<std::wstring> forms;
  std::vector<std::string> trusted;
};

class LoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(layout_.EngineHome());
    config_ = std::string("<configuration version=\"36\">\n"
                          "    <folder id=\"default\" label=\"Default Folder\" path=\"/old\" type=\"sendreceive\">\n"
                          "        <device id=\"") + kClientId + "\" introducedBy=\"\"></device>\n"
              "        <order>random</order>\n"
              "    </folder>\n"
              "    <device id=\"" + kClientId + "\" name=\"desk\" compression=\"metadata\">\n"
              "        <address>dynamic</address>\n"
              "    </device>\n"
              "    <gui enabled=\"true\"><address>127.0.0.1:18384</address><apikey>key</apikey></gui>\n"
              "    <options><maxSendKbps>0</maxSendKbps><maxRecvKbps>0</maxRecvKbps></options>\n"
              "</configuration>\n";
    std::ofstream(layout_.EngineConfig(), std::ios::binary) << config_;  // byte for byte, as the check below reads it
    std::ofstream(layout_.UserConfig()) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<users>\n</users>\n";
    input_.typedServer = L"https://192.168.1.20:5001";
    input_.userName = L"anna&bob";
    input_.password = L"p@ss word";
    input_.deviceId = std::wstring(std::begin(kClientId), std::end(kClientId) - 1);
    input_.osName = L"Windows 10";
    input_.computerName = L"DESK-1";
    input_.settings.syncFolderPath = (dir_.path() / "Orlin").wstring();
    input_.settings.defaultLocation = false;
  }

  LoginOutcome Run() { return AccountLogin(files_, engineConfig_, server_, presenter_).Run(input_); }

  // Nothing of the account may be on disk after a failed login.
  void ExpectNothingWritten() {
    EXPECT_FALSE(std::filesystem::exists(layout_.Marker()));
    EXPECT_FALSE(std::filesystem::exists(layout_.AccountArchive()));
    EXPECT_EQ(ReadFile(layout_.EngineConfig()), config_);
    EXPECT_EQ(ReadFile(layout_.UserConfig()).find("anna"), std::string::npos);
  }

  testsupport::TempDir dir_;
  InstallLayout layout_{dir_.path() / "install"};
  RecordingPresenter presenter_;
  StateFiles files_{layout_, presenter_};
  EngineConfigFile engineConfig_{layout_.EngineConfig(), presenter_};
  ScriptedServer server_;
  LoginInput input_;
  std::string config_;
};

TEST_F(LoginTest, ASuccessfulLoginRecordsTheAccountAndTheServer) {
  server_.reply = Answered(200, std::wstring(kServerId) + L"\n");
  const auto outcome = Run();
  ASSERT_EQ(outcome.result, 1);
  EXPECT_TRUE(presenter_.shown.empty());
  EXPECT_EQ(outcome.storedServer, L"192.168.1.20:5001");

  ASSERT_EQ(server_.urls.size(), 1u);
  EXPECT_EQ(server_.urls[0], L"https://192.168.1.20:5001/apps/orlin/register.php?");
  EXPECT_EQ(server_.forms[0], L"username=anna%26bob&password=p%40ss%20word&deviceid=" + input_.deviceId +
                                  L"&os=Windows%2010&devicename=DESK-1");

  const std::string config = ReadFile(layout_.EngineConfig());
  const std::string serverId(std::begin(kServerId), std::end(kServerId) - 1);
  EXPECT_NE(config.find("id=\"anna&amp;bob" + serverId + "\""), std::string::npos) << config;
  EXPECT_NE(config.find("name=\"Orlin\""), std::string::npos);
  EXPECT_NE(config.find("path=\"" + (dir_.path() / "Orlin").string() + "\""), std::string::npos);

  const auto marker = files_.ReadMarker();
  ASSERT_TRUE(marker.has_value());
  EXPECT_EQ(*marker, (MarkerLines{L"192.168.1.20:5001", L"anna&bob", L"p@ss word"}));
  EXPECT_EQ(files_.ReadAccountArchive(), (AccountArchive{L"anna&bob", L"192.168.1.20:5001"}));
  ASSERT_TRUE(outcome.userEntry.has_value());
  EXPECT_EQ(*outcome.userEntry, (UserEntry{input_.settings.syncFolderPath, false}));
}

TEST_F(LoginTest, ATransportFailureShowsItsTextAndWritesNothing) {
  server_.reply = NoAnswer(L"The operation timed out ");
  auto outcome = Run();
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.failure, LoginFailure::kTransport);
  EXPECT_EQ(presenter_.shown, std::vector<std::wstring>{L"Login_Failed_msg:The operation timed out "});
  ExpectNothingWritten();

  presenter_.shown.clear();
  server_.reply = Answered(404, L"<h1>Not Found</h1>");
  outcome = Run();
  EXPECT_EQ(outcome.failure, LoginFailure::kTransport);
  EXPECT_EQ(presenter_.shown, std::vector<std::wstring>{L"Login_Failed_msg:Not Found"});
  ExpectNothingWritten();
}

TEST_F(LoginTest, RefusalsAndMalformedAnswersWriteNothing) {
  std::wstring badCheck = kServerId;
  badCheck[62] = badCheck[62] == L'A' ? L'B' : L'A';
  for (const std::wstring& answer : {std::wstring(L"Failed: wrong password"), std::wstring(L"OK"), badCheck}) {
    presenter_.shown.clear();
    server_.reply = Answered(200, answer);
    const auto outcome = Run();
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.failure, LoginFailure::kRefused);
    EXPECT_EQ(presenter_.shown, std::vector<std::wstring>{L"Login_Failed_msg +cancel"});
    ExpectNothingWritten();
  }
}

TEST_F(LoginTest, ADamagedEngineConfigurationFailsTheLoginAndIsLeftAsItIs) {
  config_ = "not xml at all";
  std::ofstream(layout_.EngineConfig()) << config_;
  server_.reply = Answered(200, kServerId);
  auto outcome = Run();
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.failure, LoginFailure::kConfigDamaged);
  EXPECT_EQ(presenter_.shown, std::vector<std::wstring>{L"SyncConfig_Damaged_Msg"});
  ExpectNothingWritten();

  // A missing one is not damaged.
  std::filesystem::remove(layout_.EngineConfig());
  presenter_.shown.clear();
  outcome = Run();
  EXPECT_EQ(outcome.failure, LoginFailure::kConfigUnreadable);
  EXPECT_EQ(presenter_.shown, std::vector<std::wstring>{L"SyncConfig_Failed_Msg"});
  EXPECT_FALSE(std::filesystem::exists(layout_.Marker()));
}

// A server's error page of a megabyte is shown as a short readable text; the
// run log keeps all of it.
TEST_F(LoginTest, AHugeErrorPageIsShownShortAndLoggedWhole) {
  std::wstring page = L"<html><head><title>500 Internal Server Error</title><style>body{color:red}</style>"
                      L"<script>var x = '<b>';</script></head><body><h1>Internal&nbsp;Server Error</h1>\n<p>";
  while (page.size() < 1100000) page += L"The server encountered an internal error &amp; could not complete it. ";
  page += L"</p></body></html>";
  server_.reply = Answered(500, page);
  std::vector<std::wstring> logged;
  const auto outcome = AccountLogin(files_, engineConfig_, server_, presenter_,
                                    [&](const std::wstring& line) { logged.push_back(line); })
                           .Run(input_);
  EXPECT_EQ(outcome.failure, LoginFailure::kTransport);
  ASSERT_EQ(presenter_.shown.size(), 1u);
  const std::wstring shown = presenter_.shown[0];
  EXPECT_LT(shown.size(), 300u);
  EXPECT_EQ(shown.rfind(L"Login_Failed_msg:500 Internal Server Error Internal Server Error The server encountered an "
                        L"internal error & could not complete it.",
                        0),
            0u)
      << std::string(shown.begin(), shown.end()).substr(0, 300);
  EXPECT_EQ(shown.find(L"color"), std::wstring::npos);
  EXPECT_EQ(shown.substr(shown.size() - 3), L"...");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find(L"500"), std::wstring::npos);
  EXPECT_NE(logged[0].find(page), std::wstring::npos);
  ExpectNothingWritten();
}

TEST_F(LoginTest, TheLoginKeepsTheFingerprintOfTheServersCertificate) {
  const std::string fingerprint(64, 'a');
  server_.reply = Answered(200, kServerId, fingerprint);
  ASSERT_EQ(Run().result, 1);
  // The login itself trusts whichever certificate the server shows.
  EXPECT_EQ(server_.trusted, std::vector<std::string>{""});
  EXPECT_EQ(files_.ReadServerFingerprint(), fingerprint);
  if (testsupport::kPosixFileModes) {
    EXPECT_TRUE(testsupport::OwnerOnly(layout_.ServerCertificate()));
  }

  // A later login over plain http has no certificate: none is kept.
  server_.reply = Answered(200, kServerId);
  ASSERT_EQ(Run().result, 1);
  EXPECT_FALSE(std::filesystem::exists(layout_.ServerCertificate()));
  EXPECT_EQ(files_.ReadServerFingerprint(), "");
}

}  // namespace
}  // namespace orlin
