#pragma once
// Sends the number of kept versions to the Tarn server, so that the server
// keeps as many old versions of its copy of the folder as the engine keeps
// locally, and tells the user whether the server accepted it.
//
// The credentials come from the login marker, the folder identifier from
// the engine configuration (first folder's id), both read at call time. The
// local configuration keeps the new value whatever the server says. The
// server must show the certificate the login kept; one showing another gets
// nothing, and the user is told that the certificate changed.
//
// Threads: runs on the caller's thread (the settings apply worker); up to
// kVersioningMaxSends posts, each with its own connect time-out, can block it
// for minutes when the server is unreachable.

#include <cstdint>
#include <functional>
#include <string>

#include "account/login_request.h"
#include "account/tarn_transport.h"

namespace orlin {

class MessagePresenter;
class StateFiles;

// The application's name, sent as user agent to the settings endpoint.
inline constexpr wchar_t kVersioningUserAgent[] = L"Orlin";

struct VersioningResult {
  VersioningExchange exchange = VersioningExchange::kNoCredentials;
  int sends = 0;
  std::wstring answer;  // line breaks removed; empty unless status 200 came
  bool accepted = false;
};

class VersioningSetting {
 public:
  // Receives the diagnostic lines ("strRequestData:..." and "Http:...");
  // the password never appears in them.
  using DebugSink = std::function<void(const std::wstring&)>;

  // All references must outlive this object.
  VersioningSetting(const StateFiles& files, TarnTransport& transport, MessagePresenter& presenter,
                    DebugSink debug = {});

  // Sends `versionsKept` and shows the outcome ("versioning_Success_msg" or
  // "versioning_Failed_msg", preceded by "Connect_Server_Failed_msg" when no
  // send got status 200, or by "ServerCert_Changed_Msg" when the server
  // showed another certificate than at login). Without a readable login marker nothing is sent
  // and nothing shown.
  VersioningResult Send(std::int32_t versionsKept) const;

 private:
  const StateFiles& files_;
  TarnTransport& transport_;
  MessagePresenter& presenter_;
  DebugSink debug_;
};

}  // namespace orlin
