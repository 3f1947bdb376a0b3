#pragma once
// The notification-area icon of the main window, its popup menu of everyday
// commands and the language menu of the toolbar's language button. Both
// menus are menu windows built from "menu.xml"; a chosen item comes back to
// the main window as the menu command message (WM_USER+3), which the window
// hands to OnMenuCommand, and the command itself runs through TrayActions,
// so the main window stays the one place that carries out commands.
//
// Threads: everything here runs on the main window's UI thread (its message
// handler), never with the window's model lock held by the caller.

#include <memory>
#include <string>

#include "ui/dui/paint_manager.h"
#include "ui/dui/ui_types.h"

namespace orlin::dui {
class WindowImplBase;
class CMenuWnd;
class CTrayIcon;
}  // namespace orlin::dui

namespace orlin {

// The commands of the two menus, carried out by the main window (UI thread).
class TrayActions {
 public:
  virtual ~TrayActions() = default;
  virtual void ShowMain() = 0;    // "Open Panel" and a left click on the icon
  virtual void OpenFolder() = 0;  // as OPENFOLDERBTN
  virtual void OpenWeb() = 0;
  virtual void Update() = 0;      // starts the updater
  virtual void Resume() = 0;      // as a SYNCBTN click
  virtual void Pause() = 0;       // as a PAUSEBTN click
  virtual void Settings() = 0;    // opened from the tray (settings origin 0)
  virtual void LogOff() = 0;
  virtual void Exit() = 0;
  // "en" or "zh_cn": stored through the controller, which tells the window.
  virtual void SetLanguage(const std::wstring& language) = 0;

  // What the menus show. True while an override or a refresh runs: the tray
  // menu then offers no command that would run into it.
  virtual bool IsBusy() const = 0;
  // The window's language, for the language menu's check mark.
  virtual std::wstring Language() const = 0;
};

class TrayMenu {
 public:
  // `window` is the main window (its skin has SYNCBTN); both it and
  // `actions` outlive this object.
  TrayMenu(dui::WindowImplBase& window, TrayActions& actions);
  ~TrayMenu();
  TrayMenu(const TrayMenu&) = delete;
  TrayMenu& operator=(const TrayMenu&) = delete;

  // The icon (res/icons/128.png, tip "Orlin"), made at every start-up of the
  // window; false when the desktop has no notification area.
  bool CreateIcon();
  // At the restart after a log-off and when the window goes away.
  void DeleteIcon();
  bool HasIcon() const;

  // WM_USER+1 with the mouse message in lParam: a left button press shows
  // the main window, a right button release opens the tray menu; other mouse
  // messages are ignored.
  void OnTrayMessage(unsigned mouseMessage);
  // The tray menu at the pointer. Its items: MENU_FOLDER, MENU_PANEL,
  // MENU_WEB, MENU_UPGRADE, then, unless busy, MENU_START while the engine
  // is paused (SYNCBTN takes the mouse) or MENU_PAUSE while it runs,
  // MENU_SETTING and MENU_LOGOFF, and last MENU_EXIT.
  void OpenTrayMenu();
  // The language menu at the pointer: LANG_ENGLISH and LANG_CHINESE, the
  // current language checked.
  void OpenLanguageMenu();
  // WM_USER+3: takes and releases the record (may be null), then runs the
  // chosen command.
  void OnMenuCommand(dui::MenuCmd* command);

  // The menu shown last (null before the first one or once it closed).
  dui::CMenuWnd* CurrentMenu() const;

 private:
  void MakeWindowTheTextProvider();
  dui::CMenuWnd* NewMenu();

  dui::WindowImplBase& window_;
  TrayActions& actions_;
  std::unique_ptr<dui::CTrayIcon> icon_;
  // One menu window at a time, shared by both menus: a new menu replaces the
  // previous one.
  std::unique_ptr<dui::CMenuWnd> menu_;
};

}  // namespace orlin
