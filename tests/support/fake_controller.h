#pragma once
// A controller for window tests: records every verb in call order, answers
// from plain members the test sets, and owns a status model the test fills
// as the poller would. Header-only so window tests link it without the core.
//
// Threads: verbs may come from any thread (window workers); the call log is
// guarded. Blocking verbs can be held until the test releases them, to test
// that a window keeps working while its worker waits.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/controller/controller.h"

namespace orlin::testing {

class FakeController final : public Controller {
 public:
  // --- What the test sets.
  bool ready = true;
  bool loginNeeded = false;
  LoginOutcome loginOutcome{};
  bool logOffResult = true;
  AccountView account{L"nas.example:443", L"ann", L"AAAAAAA-BBBBBBB-CCCCCCC-DDDDDDD-EEEEEEE-FFFFFFF-GGGGGGG-HHHHHHH"};
  SyncSettings settings{};
  CommandOutcome revertOutcome = CommandOutcome::kDone;
  CommandOutcome overrideOutcome = CommandOutcome::kDone;
  bool pathInUse = false;
  // Called after SetLanguage stored the language (on the caller's thread).
  std::function<void()> onSetLanguage;
  StatusModel model;

  // Blocking verbs (Refresh, Revert, Override, LogOff, StopSync, ApplySettings) wait while
  // the gate is closed.
  void CloseGate() {
    std::lock_guard<std::mutex> lock(mutex_);
    gateOpen_ = false;
  }
  void OpenGate() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      gateOpen_ = true;
    }
    gate_.notify_all();
  }

  std::vector<std::string> Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  std::size_t Count(const std::string& verb) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t n = 0;
    for (const auto& c : calls_) n += (c == verb) ? 1 : 0;
    return n;
  }

  // --- Controller.
  void Start() override { Record("Start"); }
  bool WaitReady(std::chrono::milliseconds) override { return ready; }
  bool IsReady() const override { return ready; }
  bool LoginNeeded() const override { return loginNeeded; }
  LoginOutcome Login(const LoginRequest& request) override {
    Record("Login");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lastLogin_ = request;
    }
    WaitGate();
    return loginOutcome;
  }
  bool LogOff() override {
    Record("LogOff");
    WaitGate();
    return logOffResult;
  }
  AccountView Account() const override { return account; }
  bool StartSync() override {
    Record("StartSync");
    return true;
  }
  void Pause() override { Record("Pause"); }
  void Resume() override { Record("Resume"); }
  void Refresh() override {
    Record("Refresh");
    WaitGate();
  }
  CommandOutcome Revert(std::stop_token) override {
    Record("Revert");
    WaitGate();
    return revertOutcome;
  }
  CommandOutcome Override(std::stop_token) override {
    Record("Override");
    WaitGate();
    return overrideOutcome;
  }
  std::string AddFolder() override {
    Record("AddFolder");
    return "abcde-12345";
  }
  void RequestList(StatusList list) override { Record("RequestList:" + std::to_string(static_cast<int>(list))); }
  // Kept apart from Calls(): the window reports every change of its own.
  void SetViewVisible(bool visible) override {
    std::lock_guard<std::mutex> lock(mutex_);
    visibility_.push_back(visible);
  }
  void EnsureEngineRunning(std::stop_token = {}) override { Record("EnsureEngineRunning"); }
  bool StopSync() override {
    Record("StopSync");
    WaitGate();
    return true;
  }
  bool StopEngines() override {
    Record("StopEngines");
    return true;
  }
  SyncSettings Settings() const override { return settings; }
  SyncSettings ReloadSettings() override {
    Record("ReloadSettings");
    return settings;
  }
  bool SetLanguage(const std::wstring& language) override {
    Record("SetLanguage");
    settings.language = language;
    // What the main window does on the language message the real
    // controller sends, for tests of the windows that store a language.
    if (onSetLanguage) onSetLanguage();
    return true;
  }
  bool SetDpi(int dpi, bool) override {
    Record("SetDpi:" + std::to_string(dpi));
    settings.dpi = dpi < 96 ? 96 : (dpi > 192 ? 192 : dpi);
    return true;
  }
  bool PathInUse(const std::wstring&) override {
    Record("PathInUse");
    return pathInUse;
  }
  // Records the record it was given and takes it as its own.
  SettingsApplyReport ApplySettings(const SyncSettings& next) override {
    Record("ApplySettings");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      applied_.push_back(next);
    }
    WaitGate();
    settings = next;
    return applyReport;
  }
  std::vector<SyncSettings> Applied() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return applied_;
  }
  SettingsApplyReport applyReport{};
  const StatusReader& Status() const override { return model; }
  std::uint64_t AnswersHandled() const override { return 0; }

  // What the window said of its visibility, in order.
  std::vector<bool> Visibility() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return visibility_;
  }

  LoginRequest LastLogin() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastLogin_;
  }

 private:
  void Record(std::string verb) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(verb));
  }
  void WaitGate() {
    std::unique_lock<std::mutex> lock(mutex_);
    gate_.wait(lock, [this] { return gateOpen_; });
  }

  mutable std::mutex mutex_;
  std::condition_variable gate_;
  bool gateOpen_ = true;
  std::vector<bool> visibility_;
  std::vector<std::string> calls_;
  LoginRequest lastLogin_;
  std::vector<SyncSettings> applied_;
};

}  // namespace orlin::testing
