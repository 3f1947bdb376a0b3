// `orlin-cli login` against servers that misbehave on purpose, end to end:
// the built program with its real engine, the product's own transport and
// deadlines, and a loopback HTTPS server that redirects to plain http,
// trickles, floods, answers an error page of a megabyte, a web page, or a
// device ID with a wrong check character. The account tests drive the same
// servers against the login alone with a short deadline; here the user's
// side of it is checked: the exit code, the one message on standard error,
// how long it took, the run log, and the files on disk.

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <set>

#include "common/text.h"
#include "engine/config_file.h"
#include "tests/faults/cli_process.h"
#include "tests/support/engine_harness.h"
#include "tests/support/http_test_server.h"
#include "tests/support/namespace_guard.h"

namespace orlin::faults {
namespace {

using namespace std::chrono_literals;
using testsupport::HttpTestServer;
using testsupport::ScriptedAnswer;

constexpr char kPassword[] = "s3cret pass";
constexpr char kPasswordEncoded[] = "s3cret%20pass";
// A device ID the engine would take, and the same with its last check
// character changed (the engine refuses to start with such a device).
constexpr char kServerId[] = "VGOIN6S-EJR3IFB-B3XCKNF-MUYE24S-COOLHIR-MG7FUID-A3IKI4M-XBMKGAC";
constexpr char kWrongCheckId[] = "VGOIN6S-EJR3IFB-B3XCKNF-MUYE24S-COOLHIR-MG7FUID-A3IKI4M-XBMKGAD";
constexpr char kPageEnd[] = "end-of-the-error-page-7f3a";

std::vector<std::string> MessageLines(const std::string& err) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while ((at = err.find("Orlin: ", at)) != std::string::npos) {
    if (at == 0 || err[at - 1] == '\n') {
      // A message runs to the next line that starts another one, or to the end.
      std::size_t end = err.find("\nOrlin: ", at);
      lines.push_back(err.substr(at, end == std::string::npos ? std::string::npos : end - at));
    }
    ++at;
  }
  return lines;
}

// The device IDs config.xml names (its own, the folder's sharers, ...).
std::set<std::string> DeviceIds(const std::string& config) {
  std::set<std::string> ids;
  const std::string open = "<device id=\"";
  for (std::size_t at = config.find(open); at != std::string::npos; at = config.find(open, at + 1)) {
    const std::size_t start = at + open.size();
    ids.insert(config.substr(start, config.find('"', start) - start));
  }
  return ids;
}

TEST(HostileServerLogin, EveryFailureEndsInAShortMessageWithNothingWrittenAndNoPasswordInClear) {
  ORLIN_REQUIRE_PRIVATE_NETWORK();
  const std::string reason = testsupport::EngineUnavailableReason();
  if (!reason.empty()) GTEST_SKIP() << "the real engine cannot run here: " << reason;
  if (std::system("unshare -p -f --mount-proc --kill-child true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs process namespaces (root)";
  }
  HttpTestServer tls(HttpTestServer::Options{.tls = true});
  if (!tls.ok()) GTEST_SKIP() << "no TLS library or openssl command for the test server";
  HttpTestServer plain;
  plain.SetDefaultAnswer(ScriptedAnswer::Respond(200, kServerId));
  testsupport::ScratchInstall install;
  ASSERT_EQ(install.error(), "");
  const InstallLayout& layout = install.layout();

  std::string page = "<html><head><title>500 Internal Server Error</title></head><body><pre>";
  while (page.size() < 1100 * 1024) page += "at org.example.Handler.handle(Handler.java:42) &lt;trace&gt;\n";
  page += std::string(kPageEnd) + "</pre></body></html>";
  const std::string plainTarget = plain.BaseUrl() + "/apps/orlin/register.php?";
  struct Case {
    const char* path;
    ScriptedAnswer answer;
  };
  const std::vector<Case> cases = {
      {"/moved-307", ScriptedAnswer::Redirect(307, plainTarget)},
      {"/moved-302", ScriptedAnswer::Redirect(302, plainTarget)},
      {"/flood", ScriptedAnswer::Huge(20ull * 1024 * 1024)},
      {"/error-page", ScriptedAnswer::Respond(500, page)},
      {"/web-page", ScriptedAnswer::Respond(200, "<!DOCTYPE html><html><head><title>Sign in</title></head><body>"
                                                 "<form method=post><input name=user></form></body></html>")},
      {"/wrong-check", ScriptedAnswer::Respond(200, kWrongCheckId)},
      {"/trickle", ScriptedAnswer::Trickle(500ms, 100000)},
  };
  for (const Case& c : cases) tls.Route(std::string(c.path) + "/apps/orlin/register.php?", c.answer);

  // The engine's first configuration, as a start-up leaves it (the status
  // of an install without an account ends right after the start-up).
  CliProcess firstStart(ORLIN_CLI_PATH, install.root(), install.installDir(), {"status"}, {});
  ASSERT_EQ(firstStart.Wait(240s), 1) << firstStart.Err();
  ASSERT_EQ(InspectConfigFile(layout.EngineConfig()), ConfigFileState::kReadable);
  const std::set<std::string> devices = DeviceIds(ReadText(layout.EngineConfig()));
  const std::string userConfig = ReadText(layout.UserConfig());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    CliProcess run(ORLIN_CLI_PATH, install.root(), install.installDir(),
                   {"login", "--server", tls.BaseUrl() + c.path, "--user", "anna", "--folder",
                    (install.root() / "Tarn").string()},
                   {.input = std::string(kPassword) + "\n"});
    const auto code = run.Wait(240s);
    const double took = std::chrono::duration<double>(run.Took()).count();
    const std::string err = run.Err();
    std::cout << c.path << ": failed after " << took << " s, " << err.size() << " bytes on standard error\n";

    EXPECT_EQ(code, 1) << err.substr(0, 2000);
    // The product's form post deadline is 45 s; the start-up comes before it.
    EXPECT_LT(took, 90.0);
    const std::vector<std::string> messages = MessageLines(err);
    ASSERT_EQ(messages.size(), 1u) << err.substr(0, 2000);
    std::cout << "  " << messages[0].substr(0, 160) << "\n";
    EXPECT_EQ(messages[0].rfind("Orlin: Login Failed!", 0), 0u) << messages[0];
    EXPECT_LT(messages[0].size(), 1024u) << messages[0].substr(0, 300);
    EXPECT_LT(err.size(), 8u * 1024u) << "the answer reached the console: " << err.substr(0, 300);

    EXPECT_FALSE(fs::exists(layout.Marker()));
    EXPECT_FALSE(fs::exists(layout.AccountArchive()));
    EXPECT_FALSE(fs::exists(layout.ServerCertificate()));
    EXPECT_EQ(ReadText(layout.UserConfig()), userConfig);
    const std::string config = ReadText(layout.EngineConfig());
    EXPECT_EQ(InspectConfigFile(layout.EngineConfig()), ConfigFileState::kReadable);
    EXPECT_EQ(DeviceIds(config), devices) << "the engine's configuration got another device";
  }

  // The password never reached the plain listener, not even a connection.
  EXPECT_EQ(plain.ConnectionCount(), 0u);
  for (const auto& request : plain.Requests()) EXPECT_EQ(request.body.find(kPasswordEncoded), std::string::npos);
  // Every login was posted over TLS, once.
  EXPECT_EQ(tls.RequestCount(), cases.size());
  // The user saw a short text of the error page; the run log has all of it.
  bool logged = false;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(install.installDir() / "log", error)) {
    if (ReadText(entry.path()).find(kPageEnd) != std::string::npos) logged = true;
  }
  EXPECT_TRUE(logged) << "the whole error page is not in any run log";
}

}  // namespace
}  // namespace orlin::faults
