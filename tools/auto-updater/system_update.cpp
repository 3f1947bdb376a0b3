#include "tools/auto-updater/system_update.h"

#include <chrono>
#include <thread>

#include "account/tarn_transport.h"
#include "app/store/ini_file.h"
#include "common/install_layout.h"
#include "common/text.h"
#include "common/window_messages.h"
#include "platform/http_client.h"
#include "platform/package_install.h"
#include "platform/process_watch.h"
#include "platform/run_program.h"
#include "platform/shell.h"
#include "platform/window_lookup.h"

namespace orlin::update {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The manifest is a few hundred bytes; an answer this large is not one.
constexpr std::size_t kMaxManifestBytes = 256 * 1024;

ServerAnswer Exchange(const std::string& url, const std::string& fingerprint,
                      const std::function<bool(std::string_view)>& sink) {
  platform::CHttpClient client(platform::kHttpUserAgent);
  client.SetCertificateCheck(TrustedCertificateCheck(fingerprint));
  std::wstring errorAnswer;
  client.Download(Utf8ToWide(url), sink, errorAnswer);
  const platform::HttpExchange& exchange = client.LastExchange();
  ServerAnswer answer;
  answer.status = exchange.httpStatus;
  answer.error = WideToUtf8(exchange.errorText);
  switch (exchange.outcome) {
    case platform::HttpExchange::Outcome::kAnswered:
      answer.outcome = ServerAnswer::Outcome::kAnswered;
      break;
    case platform::HttpExchange::Outcome::kCertificateRefused:
      answer.outcome = ServerAnswer::Outcome::kCertificateChanged;
      break;
    case platform::HttpExchange::Outcome::kAbandoned:
      answer.outcome = ServerAnswer::Outcome::kStopped;
      break;
    default:
      answer.outcome = ServerAnswer::Outcome::kUnreachable;
      break;
  }
  return answer;
}

bool IsName(const platform::ProcessEntry& entry, std::initializer_list<const wchar_t*> names) {
  for (const wchar_t* name : names) {
    if (platform::SameImageName(entry.imageName, name)) return true;
  }
  return false;
}

}  // namespace

ServerAnswer HttpUpdateServer::Fetch(const std::string& url, const std::string& fingerprint) {
  std::string body;
  bool tooLarge = false;
  ServerAnswer answer = Exchange(url, fingerprint, [&](std::string_view bytes) {
    if (body.size() + bytes.size() > kMaxManifestBytes) {
      tooLarge = true;
      return false;
    }
    body.append(bytes);
    return true;
  });
  if (tooLarge) answer.outcome = ServerAnswer::Outcome::kUnreachable;
  answer.body = std::move(body);
  return answer;
}

ServerAnswer HttpUpdateServer::Download(const std::string& url, const std::string& fingerprint,
                                        const std::function<bool(std::string_view)>& sink) {
  return Exchange(url, fingerprint, sink);
}

SystemUpdateActions::SystemUpdateActions(SystemUpdateOptions options, platform::ProcessTable& processes)
    : options_(std::move(options)), processes_(processes) {}

bool SystemUpdateActions::OrlinRuns() {
  const auto entries = processes_.Scan();
  if (!entries) return true;
  const fs::path orlin = InstallLayout{options_.installDir}.OrlinProgram(options_.extension);
  for (const auto& entry : *entries) {
    if (!entry.ownedByCurrentUser || !IsName(entry, {L"orlin", L"orlin.exe"})) continue;
    const auto image = platform::ProcessImagePath(entry.pid);
    std::error_code ec;
    if (image && fs::equivalent(*image, orlin, ec)) return true;
  }
  return false;
}

bool SystemUpdateActions::EndByForce() {
  // The watchdog first: it would start a killed Orlin again. Then Orlin,
  // then the engine it would otherwise restart.
  const std::initializer_list<std::initializer_list<const wchar_t*>> rounds = {
      {L"monitoring", L"monitoring.exe"}, {L"orlin", L"orlin.exe"}, {L"sync.exe"}};
  for (const auto& names : rounds) {
    for (int attempt = 0; attempt < 50; ++attempt) {
      const auto entries = processes_.Scan();
      if (!entries) return false;
      bool found = false;
      for (const auto& entry : *entries) {
        if (!entry.ownedByCurrentUser || !IsName(entry, names)) continue;
        found = true;
        processes_.Terminate(entry.pid, 9);
      }
      if (!found) break;
      std::this_thread::sleep_for(100ms);
    }
  }
  return !OrlinRuns();
}

bool SystemUpdateActions::EndOrlin() {
  platform::MainWindowQuery query{kMainWindowClass, kMainWindowTitle, L"UILoginWnd", options_.installDir};
  if (auto window = platform::FindMainWindow(query)) {
    // As the tray's Exit: Orlin ends its engine and its watchdog itself.
    window->SendWindowMessage(kMsgQuit, 0, 0);
    const auto deadline = std::chrono::steady_clock::now() + options_.exitGrace;
    while (OrlinRuns() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(200ms);
  }
  return EndByForce();
}

std::vector<std::wstring> SystemUpdateActions::InstallerCommand(const fs::path& package) const {
  if (auto ini = IniDocument::Load(options_.installDir / "Orlin.ini")) {
    const std::string configured = ini->Value("update", "installer");
    if (!configured.empty()) {
      std::vector<std::wstring> words = platform::SplitCommandLine(Utf8ToWide(configured));
      for (auto& word : words) {
        for (std::size_t at; (at = word.find(L"{package}")) != std::wstring::npos;) {
          word.replace(at, 9, package.wstring());
        }
      }
      return words;
    }
  }
  return platform::SilentInstallCommand(package, options_.programDir);
}

bool SystemUpdateActions::RunInstaller(const fs::path& package) {
  std::vector<std::wstring> command = InstallerCommand(package);
  if (command.empty()) return false;
  const fs::path program = PathFromWide(command.front());
  command.erase(command.begin());
  return platform::RunProgramAndWait(program, command) == 0;
}

bool SystemUpdateActions::StartOrlin() {
  return platform::StartProgram(InstallLayout{options_.installDir}.OrlinProgram(options_.extension), {},
                                options_.installDir);
}

}  // namespace orlin::update
