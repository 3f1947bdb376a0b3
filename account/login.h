#pragma once
// Logging in: registers this computer's engine with the Tarn server and
// records the account, as the login window's worker asks the controller to.
//
//   1. post the registration form to the server;
//   2. judge the answer (the server's device ID, or a refusal);
//   3. add the server to the engine configuration as device and sharer of
//      the folder (this also creates the login marker);
//   4. write the marker's three lines, the fingerprint of the server's
//      certificate, the account archive and the user's entry of
//      userconfig.xml (read back afterwards), and the sync folder path into
//      the engine configuration.
//
// A failure shows at most kMaxShownDetailChars of the server's answer or the
// transport's error text, made readable (an HTML error page becomes its
// text); the whole of it goes to the run log.
//
// The controller keeps the typed values in its members before calling, and
// refreshes the engine (restart, reset, rescan) after a successful login.
// Every failure is shown through the presenter (the login window's) as
// LoginFailureTable() says, and leaves the account files untouched.
//
// Threads: runs on the calling thread (the login window's worker) until the
// last file is written; the presenter's messages are modal on that thread.

#include <functional>
#include <optional>
#include <string>

#include "account/login_request.h"
#include "account/tarn_transport.h"
#include "app/store/state_files.h"
#include "engine/sync_settings.h"

namespace orlin {

class EngineConfigFile;
class MessagePresenter;

struct LoginInput {
  std::wstring typedServer;  // as typed in the login window
  std::wstring userName;
  std::wstring password;
  std::wstring deviceId;      // this computer's engine device ID
  std::wstring osName;        // app/os_name.h OperatingSystemName()
  std::wstring computerName;  // platform::ComputerName()
  SyncSettings settings;      // the login window's choices (sync folder, default flag)
};

struct LoginOutcome {
  int result = 0;                       // 1 logged in, 0 not
  std::optional<LoginFailure> failure;  // set when result is 0
  std::wstring storedServer;            // the address without its scheme
  std::string serverDeviceId;           // set when logged in
  // The user's entry as read back from userconfig.xml; the controller takes
  // its path and default flag into its settings record.
  std::optional<UserEntry> userEntry;
};

class AccountLogin {
 public:
  // Receives a line for the run log (the whole answer of a failed login).
  using RunLog = std::function<void(const std::wstring&)>;

  // All references must outlive this object.
  AccountLogin(StateFiles& files, const EngineConfigFile& engineConfig, TarnTransport& transport,
               MessagePresenter& presenter, RunLog runLog = {});

  LoginOutcome Run(const LoginInput& input) const;

 private:
  LoginOutcome Fail(LoginOutcome outcome, LoginFailure failure, const std::wstring& detail) const;

  StateFiles& files_;
  const EngineConfigFile& engineConfig_;
  TarnTransport& transport_;
  MessagePresenter& presenter_;
  RunLog runLog_;
};

}  // namespace orlin
