// The login against servers that misbehave on purpose, over the real
// transport and a loopback server: a redirection to plain http, an answer
// trickled a byte at a time, an endless answer, a huge error page. In every
// case the password never reaches a plain http listener, the login fails
// with a short message, and nothing of the account is written.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "account/login.h"
#include "account/tarn_transport.h"
#include "account/versioning_setting.h"
#include "common/message_presenter.h"
#include "common/sha256.h"
#include "common/text.h"
#include "engine/config_file.h"
#include "platform/http_client.h"
#include "tests/support/http_test_server.h"
#include "tests/support/temp_dir.h"

namespace orlin {
namespace {

using testsupport::HttpTestServer;
using testsupport::ScriptedAnswer;
using namespace std::chrono_literals;

constexpr wchar_t kPassword[] = L"s3cret pass";
constexpr char kPasswordEncoded[] = "s3cret%20pass";
constexpr wchar_t kClientId[] = L"HF545RU-IPF2XEP-XMPKNLX-JNH3A6O-IAGMSMY-QBX4NQB-YTLACH3-KBJ7CQR";

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class RecordingPresenter : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring&, const std::wstring& key, bool) override {
    shown.push_back(key);
    return kModalOk;
  }
  void ShowLoginFailure(const std::wstring& detail, bool) override {
    // The message window shows "Login Failed!" directly followed by it.
    shown.push_back(L"Login Failed!" + detail);
  }
  std::vector<std::wstring> shown;
};

class HostileServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(layout_.EngineHome());
    config_ = std::string("<configuration version=\"36\">\n"
                          "  <folder id=\"default\" path=\"/old\" type=\"sendreceive\"><order>random</order></folder>\n"
                          "  <gui enabled=\"true\"><apikey>key</apikey></gui>\n"
                          "  <options><maxSendKbps>0</maxSendKbps><maxRecvKbps>0</maxRecvKbps></options>\n"
                          "</configuration>\n");
    std::ofstream(layout_.EngineConfig(), std::ios::binary) << config_;
    std::ofstream(layout_.UserConfig(), std::ios::binary) << "<users>\n</users>\n";
  }

  // One login to `typedServer`; checks what every failure must hold.
  void ExpectFailedLogin(const std::wstring& typedServer) {
    LoginInput input;
    input.typedServer = typedServer;
    input.userName = L"anna";
    input.password = kPassword;
    input.deviceId = kClientId;
    input.settings.syncFolderPath = (dir_.path() / "Tarn").wstring();
    RecordingPresenter presenter;
    // A deadline shorter than the product's keeps the suite quick; the
    // product's own is the client's form post deadline.
    HttpTarnTransport transport(platform::kHttpUserAgent, TarnTransportLimits{3s});
    const auto began = std::chrono::steady_clock::now();
    const LoginOutcome outcome = AccountLogin(files_, engineConfig_, transport, presenter).Run(input);
    const auto took = std::chrono::steady_clock::now() - began;

    EXPECT_EQ(outcome.result, 0);
    EXPECT_LT(took, 60s);
    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_LT(WideToUtf8(presenter.shown[0]).size(), 1024u) << WideToUtf8(presenter.shown[0]).substr(0, 200);
    EXPECT_FALSE(std::filesystem::exists(layout_.Marker()));
    EXPECT_FALSE(std::filesystem::exists(layout_.AccountArchive()));
    EXPECT_FALSE(std::filesystem::exists(layout_.ServerCertificate()));
    EXPECT_EQ(ReadFile(layout_.EngineConfig()), config_);
    EXPECT_EQ(ReadFile(layout_.UserConfig()), "<users>\n</users>\n");
  }

  testsupport::TempDir dir_;
  InstallLayout layout_{dir_.path() / "install"};
  RecordingPresenter presenter_;
  StateFiles files_{layout_, presenter_};
  EngineConfigFile engineConfig_{layout_.EngineConfig(), presenter_};
  std::string config_;
};

// A server (or someone between) sends the login on to plain http: with a
// 302 the client used to take the plain listener's answer as the server's,
// with a 307 it posted the password there.
TEST_F(HostileServerTest, NoRedirectionBringsThePasswordToPlainHttp) {
  HttpTestServer tls(HttpTestServer::Options{.tls = true});
  if (!tls.ok()) GTEST_SKIP() << "no TLS library or openssl command for the test server";
  HttpTestServer plain;
  plain.SetDefaultAnswer(ScriptedAnswer::Respond(200, WideToUtf8(kClientId)));
  for (const int status : {301, 302, 303, 307, 308}) {
    SCOPED_TRACE(status);
    tls.SetDefaultAnswer(ScriptedAnswer::Redirect(status, plain.BaseUrl() + "/apps/orlin/register.php"));
    ExpectFailedLogin(Wide(tls.BaseUrl()));
  }
  EXPECT_EQ(plain.ConnectionCount(), 0u);
  for (const auto& request : plain.Requests()) EXPECT_EQ(request.body.find(kPasswordEncoded), std::string::npos);
  // The server that was asked did get the form, over TLS, once per attempt.
  EXPECT_EQ(tls.RequestCount(), 5u);
}

TEST_F(HostileServerTest, TricklingEndlessAndHugeAnswersEndInAShortMessage) {
  HttpTestServer server;
  std::string page = "<html><head><title>500 Internal Server Error</title></head><body><pre>";
  while (page.size() < 1100 * 1024) page += "at org.example.Handler.handle(Handler.java:42) &lt;trace&gt;\n";
  page += "</pre></body></html>";
  server.Route("/trickle/apps/orlin/register.php?", ScriptedAnswer::Trickle(200ms, 100000));
  server.Route("/huge/apps/orlin/register.php?", ScriptedAnswer::Huge(20ull * 1024 * 1024));
  server.Route("/page/apps/orlin/register.php?", ScriptedAnswer::Respond(500, page));
  server.Route("/silent/apps/orlin/register.php?", ScriptedAnswer::NeverAnswer());
  for (const char* path : {"/trickle", "/huge", "/page", "/silent"}) {
    SCOPED_TRACE(path);
    ExpectFailedLogin(Wide(server.BaseUrl() + path));
  }
  // The client stops reading at its cap. Wine's WinInet drains the rest of a
  // connection it closes on its own, after the client has returned, so the
  // bytes the server got rid of tell something only where libcurl reads.
  if (testsupport::kCurlTransport) {
    EXPECT_LT(server.HugeBytesSent(), 12ull * 1024 * 1024);
  }
}

// A device in the middle shows its own certificate: once the login has
// trusted the server's, posts to the impostor carry nothing to it.
TEST(TarnTransportCertificate, OnlyTheCertificateSeenAtLoginIsTrustedLater) {
  HttpTestServer server(HttpTestServer::Options{.tls = true});
  HttpTestServer impostor(HttpTestServer::Options{.tls = true, .certificate = HttpTestServer::Certificate::kSecond});
  if (!server.ok() || !impostor.ok()) GTEST_SKIP() << "no TLS library or openssl command for the test server";
  server.SetDefaultAnswer(ScriptedAnswer::Respond(200, "Success"));
  impostor.SetDefaultAnswer(ScriptedAnswer::Respond(200, "Success"));
  HttpTarnTransport transport(kVersioningUserAgent);

  const TarnReply login = transport.Post(Wide(server.BaseUrl() + "/apps/orlin/register.php?"), L"a=b", "");
  ASSERT_TRUE(login.answered);
  EXPECT_EQ(login.certificateFingerprint, Sha256Hex(server.CertificateDer()));

  const TarnReply later = transport.Post(Wide(server.BaseUrl() + "/apps/orlin/settings.php?"), L"password=x",
                                         login.certificateFingerprint);
  EXPECT_TRUE(later.answered);
  EXPECT_FALSE(later.certificateRefused);

  const TarnReply intercepted = transport.Post(Wide(impostor.BaseUrl() + "/apps/orlin/settings.php?"), L"password=x",
                                               login.certificateFingerprint);
  EXPECT_FALSE(intercepted.answered);
  EXPECT_TRUE(intercepted.certificateRefused);
  EXPECT_EQ(intercepted.certificateFingerprint, Sha256Hex(impostor.CertificateDer()));
  EXPECT_EQ(impostor.RequestCount(), 0u);
}

}  // namespace
}  // namespace orlin
