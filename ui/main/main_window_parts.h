#pragma once
// The seams between the main window and the parts it hosts: the status lists
// with their tab buttons (StatusLists) and the tray icon with its menus
// (TrayMenu). The window talks to them through these two interfaces, so its
// tests run it against recording fakes; MakeStatusListsPart and
// MakeTrayMenuPart wrap the real parts for the program.
//
// Each method means what the method of the same name of StatusLists or
// TrayMenu means (see status_lists.h and tray_menu.h), and runs on the
// thread named there.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/controller/controller.h"
#include "ui/dui/paint_manager.h"
#include "ui/dui/ui_types.h"
#include "ui/main/main_text_table.h"
#include "ui/main/status_lists.h"
#include "ui/main/tray_menu.h"

namespace orlin {

class MainWindowLists {
 public:
  virtual ~MainWindowLists() = default;
  virtual void SetController(Controller* controller) = 0;
  virtual bool HandleNotify(const dui::TNotifyUI& msg) = 0;
  virtual void SelectStartTab() = 0;
  virtual void HideAll() = 0;
  virtual void ShowCurrentTab() = 0;
  virtual void ToggleLogTab() = 0;
  virtual void LeaveLocalChangesMode() = 0;
  virtual void OnLanguageChanged() = 0;
  virtual void OnUnsyncedChanged() = 0;
  virtual void OnFailedCount(std::int64_t count) = 0;
  virtual void OnLocalChangesCount(std::int64_t count) = 0;
  virtual void OnThisDeviceRefresh() = 0;
  virtual void OnRemoteDevicesRefresh() = 0;
  virtual void OnMouseMove(dui::Point point) = 0;
  virtual void Refresh(StatusList list) = 0;
  virtual void DataPass() = 0;
  virtual std::chrono::milliseconds PassInterval() const = 0;
  // Whether the pass may wait for the model's bell (StatusLists says when).
  virtual bool FilledOnlyWhenChanged() const { return false; }
  // The model list whose change calls for a pass; null: any change does.
  virtual const void* ListOfInterest() const { return nullptr; }
  virtual MainTextCounts Counts() const = 0;
  virtual std::optional<std::wstring> ButtonText(const std::wstring& id, const std::wstring& language) const = 0;
};

class MainWindowTray {
 public:
  virtual ~MainWindowTray() = default;
  virtual bool CreateIcon() = 0;
  virtual void DeleteIcon() = 0;
  virtual bool HasIcon() const = 0;
  virtual void OnTrayMessage(unsigned mouseMessage) = 0;
  virtual void OpenLanguageMenu() = 0;
  // Takes the record (may be null).
  virtual void OnMenuCommand(dui::MenuCmd* command) = 0;
};

// The real parts, for the program. `window` is the main window; `host`,
// `actions` and `window` outlive the parts.
std::unique_ptr<MainWindowLists> MakeStatusListsPart(dui::WindowImplBase& window, StatusListsHost& host,
                                                     StatusLists::ShowItemFn showItem);
std::unique_ptr<MainWindowTray> MakeTrayMenuPart(dui::WindowImplBase& window, TrayActions& actions);

}  // namespace orlin
