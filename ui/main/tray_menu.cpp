#include "ui/main/tray_menu.h"

#include <array>

#include "common/text.h"
#include "ui/dui/find_control.h"
#include "ui/dui/menu_wnd.h"
#include "ui/dui/resource_manager.h"
#include "ui/dui/tray_icon.h"
#include "ui/dui/window_impl_base.h"

namespace orlin {

namespace {

constexpr int kTrayIconResource = 128;
constexpr wchar_t kTrayTip[] = L"Orlin";
constexpr wchar_t kMenuSkin[] = L"menu.xml";
// The menus open above and to the right of the pointer, as from a taskbar.
constexpr unsigned kMenuAlignment = dui::CMenuWnd::kAlignLeft | dui::CMenuWnd::kAlignBottom;
constexpr unsigned kLeftButtonDown = 513;
constexpr unsigned kRightButtonUp = 517;

constexpr wchar_t kEnglishItem[] = L"LANG_ENGLISH";
constexpr wchar_t kChineseItem[] = L"LANG_CHINESE";

// An item of the tray menu for the key `key` ("folder"): named "MENU_FOLDER",
// its text the table's "menu_folder", its icon res\tray\folder.png.
dui::CMenuElementUI* TrayItem(const std::wstring& key) {
  std::wstring upper = key;
  for (wchar_t& c : upper) c = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
  return dui::CMenuWnd::NewTextIdElement(L"MENU_" + upper, L"menu_" + key, L"res\\tray\\" + key + L".png",
                                         dui::Size{16, 16});
}

}  // namespace

TrayMenu::TrayMenu(dui::WindowImplBase& window, TrayActions& actions) : window_(window), actions_(actions) {}

TrayMenu::~TrayMenu() {
  DeleteIcon();
  menu_.reset();
}

bool TrayMenu::CreateIcon() {
  if (!icon_) icon_ = std::make_unique<dui::CTrayIcon>();
  return icon_->CreateTrayIcon(&window_, kTrayIconResource, kTrayTip);
}

void TrayMenu::DeleteIcon() {
  if (icon_) icon_->DeleteTrayIcon();
}

bool TrayMenu::HasIcon() const { return icon_ && icon_->IsVisible(); }

void TrayMenu::OnTrayMessage(unsigned mouseMessage) {
  if (mouseMessage == kLeftButtonDown) {
    actions_.ShowMain();
  } else if (mouseMessage == kRightButtonUp) {
    OpenTrayMenu();
  }
}

void TrayMenu::MakeWindowTheTextProvider() {
  // A dialog may have been the provider; the menu's texts (and the window's)
  // come from the main window's table in the current language.
  auto& resources = dui::CResourceManager::GetInstance();
  resources.SetTextQueryInterface(&window_);
  resources.ReloadText();
}

dui::CMenuWnd* TrayMenu::NewMenu() {
  menu_.reset();
  auto backend = dui::UiBackend::Current();
  if (!backend) return nullptr;
  auto menu = std::make_unique<dui::CMenuWnd>();
  if (!menu->Init(nullptr, kMenuSkin, backend->GetCursorPos(), &window_.GetPaintManager(), nullptr, kMenuAlignment)) {
    return nullptr;
  }
  menu_ = std::move(menu);
  return menu_.get();
}

void TrayMenu::OpenTrayMenu() {
  MakeWindowTheTextProvider();
  dui::CMenuWnd* menu = NewMenu();
  if (!menu) return;
  dui::CMenuUI* items = menu->GetMenuUI();
  if (!items) {
    menu->ResizeMenu();
    return;
  }
  // Which of start and pause is offered is read from the toolbar: the
  // button that does not take the mouse is the engine's current state.
  auto* sync = dui::FindControlAs<dui::CControlUI>(window_.GetPaintManager(), L"SYNCBTN");
  if (!sync) return;
  const bool paused = sync->IsMouseEnabled();
  for (const wchar_t* key : {L"folder", L"panel", L"web", L"upgrade"}) items->Add(TrayItem(key));
  // An override or a refresh is running: nothing that would run into it.
  if (!actions_.IsBusy()) {
    items->Add(TrayItem(paused ? L"start" : L"pause"));
    items->Add(TrayItem(L"setting"));
    items->Add(TrayItem(L"logoff"));
  }
  items->Add(TrayItem(L"exit"));
  menu->ResizeMenu();
}

void TrayMenu::OpenLanguageMenu() {
  dui::CMenuWnd* menu = NewMenu();
  if (!menu) return;
  dui::CMenuUI* items = menu->GetMenuUI();
  if (!items) {
    menu->ResizeMenu();
    return;
  }
  const std::wstring language = actions_.Language();
  auto* english = dui::CMenuWnd::NewTextElement(kEnglishItem, L"English");
  auto* chinese = dui::CMenuWnd::NewTextElement(kChineseItem, L"\u7b80\u4f53\u4e2d\u6587");  // 简体中文
  const std::wstring check = L"res\\common\\menu_check.png";
  if (language == L"en") english->SetIcon(check, dui::Size{9, 9});
  if (language == L"zh_cn") chinese->SetIcon(check, dui::Size{9, 9});
  items->Add(english);
  items->Add(chinese);
  menu->ResizeMenu();
}

void TrayMenu::OnMenuCommand(dui::MenuCmd* command) {
  MakeWindowTheTextProvider();
  if (!command) return;
  const std::wstring name(command->szName);
  dui::CPaintManagerUI::DeletePtr(command);

  auto is = [&](const wchar_t* item) { return EqualsIgnoreCase(name, item); };
  if (is(L"MENU_FOLDER")) actions_.OpenFolder();
  else if (is(L"MENU_PANEL")) actions_.ShowMain();
  else if (is(L"MENU_WEB")) actions_.OpenWeb();
  else if (is(L"MENU_UPGRADE")) actions_.Update();
  else if (is(L"MENU_START")) actions_.Resume();
  else if (is(L"MENU_PAUSE")) actions_.Pause();
  else if (is(L"MENU_SETTING")) actions_.Settings();
  else if (is(L"MENU_LOGOFF")) actions_.LogOff();
  else if (name == L"MENU_EXIT") actions_.Exit();
  else if (name == kEnglishItem) actions_.SetLanguage(L"en");
  else if (name == kChineseItem) actions_.SetLanguage(L"zh_cn");
}

dui::CMenuWnd* TrayMenu::CurrentMenu() const { return menu_.get(); }

}  // namespace orlin
