#include "account/versioning_setting.h"

#include "app/store/state_files.h"
#include "common/message_presenter.h"
#include "common/text.h"
#include "engine/config_file.h"

namespace orlin {

VersioningSetting::VersioningSetting(const StateFiles& files, TarnTransport& transport, MessagePresenter& presenter,
                                     DebugSink debug)
    : files_(files), transport_(transport), presenter_(presenter), debug_(std::move(debug)) {}

VersioningResult VersioningSetting::Send(std::int32_t versionsKept) const {
  VersioningResult result;
  const auto marker = files_.ReadMarker();
  if (!marker) return result;

  VersioningFields fields{marker->userName, marker->password, versionsKept,
                          Utf8ToWide(ReadFolderIdentifier(files_.layout().EngineConfig()))};
  const std::wstring body = VersioningBody(fields);
  const std::wstring url = VersioningUrl(marker->server);
  if (debug_) {
    // The diagnostic copy of the body carries everything but the password.
    VersioningFields shown = fields;
    shown.password = L"***";
    debug_(L"strRequestData:" + VersioningBody(shown));
    debug_(L"Http:" + url);
  }

  // Only the server whose certificate the login saw gets the password.
  const std::string trusted = files_.ReadServerFingerprint();
  int status = 500;
  TarnReply reply;
  while (status != 200 && result.sends < kVersioningMaxSends) {
    reply = transport_.Post(url, body, trusted);
    ++result.sends;
    if (!reply.answered) break;
    status = reply.status;
  }

  if (reply.certificateRefused) {
    result.exchange = VersioningExchange::kCertificateChanged;
  } else if (!reply.answered) {
    result.exchange = VersioningExchange::kInternetError;
  } else if (status != 200) {
    result.exchange = VersioningExchange::kNoStatus200;
  } else {
    result.exchange = VersioningExchange::kAnswered;
    result.answer = RemoveLineBreaks(reply.body);
    result.accepted = IsVersioningAccepted(result.answer);
  }
  for (const auto& key : VersioningMessageKeys(result.exchange, result.answer)) {
    presenter_.ShowMessage(L"Orlin", key, false);
  }
  return result;
}

}  // namespace orlin
