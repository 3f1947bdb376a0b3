#include "ui/main/main_window_parts.h"

namespace orlin {
namespace {

class StatusListsPart final : public MainWindowLists {
 public:
  StatusListsPart(dui::WindowImplBase& window, StatusListsHost& host, StatusLists::ShowItemFn showItem)
      : lists_(window, host, std::move(showItem)) {}

  void SetController(Controller* controller) override { lists_.SetController(controller); }
  bool HandleNotify(const dui::TNotifyUI& msg) override { return lists_.HandleNotify(msg); }
  void SelectStartTab() override { lists_.SelectStartTab(); }
  void HideAll() override { lists_.HideAll(); }
  void ShowCurrentTab() override { lists_.ShowCurrentTab(); }
  void ToggleLogTab() override { lists_.ToggleLogTab(); }
  void LeaveLocalChangesMode() override { lists_.LeaveLocalChangesMode(); }
  void OnLanguageChanged() override { lists_.OnLanguageChanged(); }
  void OnUnsyncedChanged() override { lists_.OnUnsyncedChanged(); }
  void OnFailedCount(std::int64_t count) override { lists_.OnFailedCount(count); }
  void OnLocalChangesCount(std::int64_t count) override { lists_.OnLocalChangesCount(count); }
  void OnThisDeviceRefresh() override { lists_.OnThisDeviceRefresh(); }
  void OnRemoteDevicesRefresh() override { lists_.OnRemoteDevicesRefresh(); }
  void OnMouseMove(dui::Point point) override { lists_.OnMouseMove(point); }
  void Refresh(StatusList list) override { lists_.Refresh(list); }
  void DataPass() override { lists_.DataPass(); }
  std::chrono::milliseconds PassInterval() const override { return lists_.PassInterval(); }
  bool FilledOnlyWhenChanged() const override { return lists_.FilledOnlyWhenChanged(); }
  const void* ListOfInterest() const override { return lists_.ListOfInterest(); }
  MainTextCounts Counts() const override { return lists_.Counts(); }
  std::optional<std::wstring> ButtonText(const std::wstring& id, const std::wstring& language) const override {
    return lists_.ButtonText(id, language);
  }

 private:
  StatusLists lists_;
};

class TrayMenuPart final : public MainWindowTray {
 public:
  TrayMenuPart(dui::WindowImplBase& window, TrayActions& actions) : tray_(window, actions) {}

  bool CreateIcon() override { return tray_.CreateIcon(); }
  void DeleteIcon() override { tray_.DeleteIcon(); }
  bool HasIcon() const override { return tray_.HasIcon(); }
  void OnTrayMessage(unsigned mouseMessage) override { tray_.OnTrayMessage(mouseMessage); }
  void OpenLanguageMenu() override { tray_.OpenLanguageMenu(); }
  void OnMenuCommand(dui::MenuCmd* command) override { tray_.OnMenuCommand(command); }

 private:
  TrayMenu tray_;
};

}  // namespace

std::unique_ptr<MainWindowLists> MakeStatusListsPart(dui::WindowImplBase& window, StatusListsHost& host,
                                                     StatusLists::ShowItemFn showItem) {
  return std::make_unique<StatusListsPart>(window, host, std::move(showItem));
}

std::unique_ptr<MainWindowTray> MakeTrayMenuPart(dui::WindowImplBase& window, TrayActions& actions) {
  return std::make_unique<TrayMenuPart>(window, actions);
}

}  // namespace orlin
