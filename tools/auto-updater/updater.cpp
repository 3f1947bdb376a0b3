#include "tools/auto-updater/updater.h"

#include <fstream>
#include <system_error>

#include "app/store/state_files.h"
#include "common/sha256.h"
#include "common/text.h"

namespace orlin::update {
namespace fs = std::filesystem;

namespace {

// The state files are only read here; nothing they could report is shown.
class SilentPresenter final : public MessagePresenter {
 public:
  int ShowMessage(const std::wstring&, const std::wstring&, bool) override { return kModalCancel; }
  void ShowLoginFailure(const std::wstring&, bool) override {}
};

std::wstring KeyFor(const ServerAnswer& answer) {
  switch (answer.outcome) {
    case ServerAnswer::Outcome::kCertificateChanged:
      return L"ServerCert_Changed_Msg";
    case ServerAnswer::Outcome::kUnreachable:
    case ServerAnswer::Outcome::kStopped:
      return L"Update_Unreachable_Msg";
    case ServerAnswer::Outcome::kAnswered:
      break;
  }
  return L"Update_NoManifest_Msg";
}

}  // namespace

std::string ManifestUrl(std::string_view server) {
  return "https://" + std::string(server) + "/apps/orlin/update.json";
}

Updater::Updater(UpdaterOptions options, UpdateServer& server, UpdateSystem& system)
    : options_(std::move(options)), server_(server), system_(system) {}

std::string Updater::Server() const {
  SilentPresenter presenter;
  StateFiles files(options_.layout, presenter);
  std::error_code ec;
  if (!fs::exists(options_.layout.Marker(), ec)) return {};
  return WideToUtf8(files.ReadAccountArchive().server);
}

CheckResult Updater::Check() {
  CheckResult result;
  decision_.reset();
  SilentPresenter presenter;
  StateFiles files(options_.layout, presenter);
  const std::string server = Server();
  // Without the certificate the login saw there is no telling the Tarn
  // server from anyone else: nothing is fetched.
  const std::string fingerprint = files.ReadServerFingerprint();
  if (server.empty() || fingerprint.empty()) {
    result.messageKey = L"Update_NotSignedIn_Msg";
    result.detail = server.empty() ? "no account is signed in" : "no certificate was kept at the login";
    return result;
  }
  const ServerAnswer answer = server_.Fetch(ManifestUrl(server), fingerprint);
  if (answer.outcome != ServerAnswer::Outcome::kAnswered || answer.status != 200) {
    result.messageKey = KeyFor(answer);
    result.detail = answer.outcome == ServerAnswer::Outcome::kAnswered
                        ? "the server answered " + std::to_string(answer.status) + " for the manifest"
                        : "no answer from " + server + (answer.error.empty() ? "" : ": " + answer.error);
    return result;
  }
  const ManifestRead read = ParseManifest(answer.body);
  if (!read.manifest) {
    result.messageKey = L"Update_BadManifest_Msg";
    result.detail = read.error;
    return result;
  }
  const UpdateDecision decision = Decide(options_.currentVersion, *read.manifest, options_.packageKind, server);
  result.check = decision.check;
  result.newestVersion = decision.newestVersion;
  switch (decision.check) {
    case UpdateCheck::kUpToDate:
      result.ok = true;
      result.messageKey = L"Update_UpToDate_Msg";
      break;
    case UpdateCheck::kNewer:
      result.ok = true;
      result.messageKey = L"Update_Available_Msg";
      decision_ = decision;
      break;
    case UpdateCheck::kNoPackage:
      result.ok = true;
      result.messageKey = L"Update_NoPackage_Msg";
      result.detail = "no package " + options_.packageKind + " for " + decision.newestVersion;
      break;
    case UpdateCheck::kBadManifest:
      result.messageKey = L"Update_BadManifest_Msg";
      result.detail = "the manifest's version or package address cannot be used";
      break;
  }
  return result;
}

DownloadResult Updater::Download(const std::function<void(std::uint64_t, std::uint64_t)>& progress) {
  DownloadResult result;
  cancel_ = false;
  if (!decision_) {
    result.messageKey = L"Update_NoManifest_Msg";
    return result;
  }
  const UpdatePackage& package = decision_->package;
  SilentPresenter presenter;
  const std::string fingerprint = StateFiles(options_.layout, presenter).ReadServerFingerprint();

  std::error_code ec;
  fs::create_directories(options_.downloadDir, ec);
  // Nobody else may swap the package between its check and its installer.
  fs::permissions(options_.downloadDir, fs::perms::owner_all, fs::perm_options::replace, ec);
  const fs::path file = options_.downloadDir / PackageFileName(package, options_.packageKind);
  const fs::path partial = fs::path(file).concat(".part");
  fs::remove(partial, ec);
  std::uint64_t received = 0;
  bool tooLarge = false;
  ServerAnswer answer;
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    if (!out) {
      result.messageKey = L"Update_DownloadFailed_Msg";
      result.detail = "cannot write " + file.string();
      return result;
    }
    answer = server_.Download(package.url, fingerprint, [&](std::string_view bytes) {
      if (cancel_) return false;
      received += bytes.size();
      // More than announced is not the package the manifest named.
      if (received > package.size) {
        tooLarge = true;
        return false;
      }
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      if (!out) return false;
      if (progress) progress(received, package.size);
      return true;
    });
    out.close();
    if (!out && answer.outcome == ServerAnswer::Outcome::kAnswered) answer.outcome = ServerAnswer::Outcome::kStopped;
  }
  auto fail = [&](const wchar_t* key, std::string detail) {
    fs::remove(partial, ec);
    result.messageKey = key;
    result.detail = std::move(detail);
    return result;
  };
  if (cancel_) return fail(L"Update_Cancelled_Msg", "cancelled after " + std::to_string(received) + " bytes");
  if (tooLarge) return fail(L"Update_WrongDigest_Msg", "the package is larger than announced");
  if (answer.outcome != ServerAnswer::Outcome::kAnswered) {
    return fail(answer.outcome == ServerAnswer::Outcome::kCertificateChanged ? L"ServerCert_Changed_Msg"
                                                                             : L"Update_DownloadFailed_Msg",
                "the download broke off after " + std::to_string(received) + " bytes");
  }
  if (answer.status != 200) {
    return fail(L"Update_DownloadFailed_Msg", "the server answered " + std::to_string(answer.status));
  }
  switch (VerifyPackage(partial, package)) {
    case PackageCheck::kOk:
      break;
    case PackageCheck::kWrongSize:
      return fail(L"Update_WrongDigest_Msg", "the package's size differs from the manifest's");
    case PackageCheck::kWrongDigest:
      return fail(L"Update_WrongDigest_Msg", "the package's SHA-256 differs from the manifest's");
    case PackageCheck::kUnreadable:
      return fail(L"Update_DownloadFailed_Msg", "the package cannot be read back");
  }
  fs::remove(file, ec);
  fs::rename(partial, file, ec);
  if (ec) return fail(L"Update_DownloadFailed_Msg", "cannot name the package " + file.string());
  result.ok = true;
  result.messageKey = L"Update_Downloaded_Msg";
  result.package = file;
  return result;
}

InstallResult Updater::Install(const fs::path& package) {
  InstallResult result;
  if (!system_.EndOrlin()) {
    // Files of a running Orlin cannot all be replaced: nothing is installed.
    result.messageKey = L"Update_OrlinRuns_Msg";
    return result;
  }
  result.ok = system_.RunInstaller(package);
  // The new version, or the old one if the installer failed: either way
  // the user gets Orlin back.
  result.orlinStarted = system_.StartOrlin();
  if (!result.ok) {
    result.messageKey = L"Update_InstallFailed_Msg";
  } else {
    result.messageKey = result.orlinStarted ? L"Update_Done_Msg" : L"Update_DoneNotStarted_Msg";
  }
  return result;
}

PackageCheck VerifyPackage(const fs::path& file, const UpdatePackage& expected) {
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  if (ec) return PackageCheck::kUnreadable;
  if (size != expected.size) return PackageCheck::kWrongSize;
  std::ifstream in(file, std::ios::binary);
  if (!in) return PackageCheck::kUnreadable;
  Sha256Stream digest;
  std::string buffer(1 << 16, '\0');
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    digest.Update(std::string_view(buffer.data(), static_cast<std::size_t>(in.gcount())));
  }
  if (in.bad()) return PackageCheck::kUnreadable;
  return digest.FinishHex() == expected.sha256 ? PackageCheck::kOk : PackageCheck::kWrongDigest;
}

}  // namespace orlin::update
