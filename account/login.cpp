#include "account/login.h"

#include <system_error>

#include "common/message_presenter.h"
#include "engine/config_file.h"

namespace orlin {

AccountLogin::AccountLogin(StateFiles& files, const EngineConfigFile& engineConfig, TarnTransport& transport,
                           MessagePresenter& presenter, RunLog runLog)
    : files_(files), engineConfig_(engineConfig), transport_(transport), presenter_(presenter),
      runLog_(std::move(runLog)) {}

LoginOutcome AccountLogin::Fail(LoginOutcome outcome, LoginFailure failure, const std::wstring& detail) const {
  const LoginFailureRule& rule = LoginFailureRuleFor(failure);
  if (rule.withTransportText) {
    presenter_.ShowLoginFailure(ShownDetail(detail), rule.showCancel);
  } else if (rule.messageKey) {
    presenter_.ShowMessage(L"Orlin", rule.messageKey, rule.showCancel);
  }
  outcome.result = rule.loginResult;
  outcome.failure = failure;
  return outcome;
}

LoginOutcome AccountLogin::Run(const LoginInput& input) const {
  LoginOutcome outcome;
  outcome.storedServer = StoredServerAddress(input.typedServer);

  const RegistrationFields fields{input.userName, input.password, input.deviceId, input.osName, input.computerName};
  // The login is where the server's certificate is first seen: any is
  // taken (Tarn servers sign their own), and kept below for later requests.
  const TarnReply reply = transport_.Post(RegistrationUrl(input.typedServer), RegistrationBody(fields), "");
  if (!reply.answered) {
    if (runLog_) runLog_(L"Login: no answer from the server: " + reply.errorText);
    return Fail(std::move(outcome), LoginFailure::kTransport, reply.errorText);
  }
  if (reply.status != 200) {
    if (runLog_) runLog_(L"Login: the server answered with status " + std::to_wstring(reply.status) + L": " + reply.body);
    return Fail(std::move(outcome), LoginFailure::kTransport, reply.body);
  }

  const RegistrationAnswer answer = ParseRegistrationAnswer(reply.body);
  if (answer.verdict != RegistrationVerdict::kAccepted) {
    if (runLog_) runLog_(L"Login: the server refused the registration: " + reply.body);
    return Fail(std::move(outcome), LoginFailure::kRefused, L"");
  }

  switch (engineConfig_.RegisterServer(input.userName, answer.serverDeviceId)) {
    case RegistrationResult::kRegistered:
      break;
    case RegistrationResult::kInvalidDeviceId:
      return Fail(std::move(outcome), LoginFailure::kRefused, L"");
    case RegistrationResult::kConfigDamaged:
      return Fail(std::move(outcome), LoginFailure::kConfigDamaged, L"");
    case RegistrationResult::kConfigUnreadable:
    case RegistrationResult::kSaveFailed:
      return Fail(std::move(outcome), LoginFailure::kConfigUnreadable, L"");
  }

  if (!files_.CreateMarker({outcome.storedServer, input.userName, input.password})) {
    // An empty or half-written marker would count as a configured account
    // whose credentials cannot be read back.
    std::error_code ignored;
    std::filesystem::remove(files_.layout().Marker(), ignored);
    return Fail(std::move(outcome), LoginFailure::kConfigUnreadable, L"");
  }
  // Later requests to this server refuse any other certificate while the
  // account stays signed in. Without it they would not be protected, so a
  // fingerprint that cannot be kept fails the login like the marker.
  if (!files_.WriteServerFingerprint(reply.certificateFingerprint)) {
    std::error_code ignored;
    std::filesystem::remove(files_.layout().Marker(), ignored);
    return Fail(std::move(outcome), LoginFailure::kConfigUnreadable, L"");
  }
  files_.WriteAccountArchive({input.userName, outcome.storedServer});
  files_.WriteUserEntry(input.userName, {input.settings.syncFolderPath, input.settings.defaultLocation});
  outcome.userEntry = files_.ReadUserEntry(input.userName);
  engineConfig_.WriteFolderPath(input.settings);

  outcome.serverDeviceId = answer.serverDeviceId;
  outcome.result = 1;
  return outcome;
}

}  // namespace orlin
