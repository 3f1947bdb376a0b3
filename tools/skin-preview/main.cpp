// orlin-skin-preview --skin FILE [--lang en|zh_cn] [--size WxH] --out PNG [--message KEY]
//                    [--resources DIR] [--dpi N]
//
// Renders a skin offscreen through the Qt backend into a PNG. Skins and
// images are read from DIR (default: the program's own folder, where the
// install puts them). A skin with a menu container is shown as the tray menu;
// --message shows the message window with the text of KEY.

#include <QApplication>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include "common/text.h"
#include "ui/dialogs/msg_wnd.h"
#include "ui/dui/menu_wnd.h"
#include "ui/dui/qt/qt_backend.h"

namespace {

using namespace orlin;
using namespace orlin::dui;

// The tray menu items as the main window adds them, for previews of menu
// skins.
const TextTable& MenuTexts() {
  static const TextTable table({
      {L"menu_folder", L"Open Floder", L"打开文件夹"},
      {L"menu_panel", L"Open Panel", L"打开主面板"},
      {L"menu_web", L"Open Web", L"打开官网"},
      {L"menu_upgrade", L"Update", L"在线升级"},
      {L"menu_pause", L"Pause Sync", L"暂停同步"},
      {L"menu_setting", L"Setting", L"设置"},
      {L"menu_logoff", L"Log Off", L"注销"},
      {L"menu_exit", L"Exit", L"退出"},
  });
  return table;
}

// The DPI the message window takes from the settings record.
class FixedDpi : public MsgWndHost {
 public:
  explicit FixedDpi(int dpi) : dpi_(dpi) {}
  int GetDpi() const override { return dpi_; }
  void SetDpi(int dpi, int) override { dpi_ = dpi; }

 private:
  int dpi_;
};

class PreviewWindow : public WindowImplBase {
 public:
  explicit PreviewWindow(std::wstring skin) : skin_(std::move(skin)) {}
  std::wstring GetWindowClassName() const override { return L"PreviewWnd"; }
  std::wstring GetSkinFile() override { return skin_; }
  std::optional<std::wstring> QueryControlText(const std::wstring& id, const std::wstring&) override {
    return MenuTexts().Find(id, CResourceManager::GetInstance().GetLanguage());
  }

 private:
  std::wstring skin_;
};

// A scratch instance folder that goes when the preview ends.
struct ScratchDir {
  ScratchDir() {
    path = std::filesystem::temp_directory_path() /
           ("orlin-skin-preview-" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::create_directories(path);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::filesystem::path path;
};

bool SkinHasMenu(const std::wstring& skin) {
  CPaintManagerUI pm;
  CDialogBuilder builder;
  CControlUI* root = builder.Create(skin, nullptr, &pm);
  if (!root) return false;
  pm.AttachDialog(root);
  bool menu = false;
  root->Visit([&](CControlUI& c) {
    menu = dynamic_cast<CMenuUI*>(&c) != nullptr;
    return !menu;
  });
  return menu;
}

int Usage() {
  std::fputs(
      "usage: orlin-skin-preview --skin FILE [--lang en|zh_cn] [--size WxH] --out PNG [--message KEY]"
      " [--resources DIR] [--dpi N]\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--", 0) != 0 || i + 1 >= argc) return Usage();
    args[a.substr(2)] = argv[++i];
  }
  if (!args.count("out") || (!args.count("skin") && !args.count("message"))) return Usage();
  for (const auto& [key, value] : args) {
    if (key != "skin" && key != "lang" && key != "size" && key != "out" && key != "message" && key != "resources" &&
        key != "dpi") {
      return Usage();
    }
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  auto backend = std::make_shared<QtBackend>();
  UiBackend::Install(backend);

  std::filesystem::path resources = args.count("resources") ? std::filesystem::path(args["resources"])
                                                            : std::filesystem::path(QCoreApplication::applicationDirPath().toStdString());
  CPaintManagerUI::SetResourcePath(resources);
  const std::string lang = args.count("lang") ? args["lang"] : "en";
  if (lang != "en" && lang != "zh_cn") return Usage();
  // The message window reads its language from lang.xml of the instance
  // folder: a scratch one here, so an install is never touched.
  ScratchDir instance;
  std::ofstream(instance.path / "lang.xml") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Orlin>\n    <lang>" << lang
                                              << "</lang>\n</Orlin>\n";
  CPaintManagerUI::SetInstance(instance.path);
  CResourceManager::GetInstance().SetLanguage(Utf8ToWide(lang));

  std::wstring skin = Utf8ToWide(args.count("skin") ? args["skin"] : "msg.xml");
  if (std::filesystem::exists(std::filesystem::path(args.count("skin") ? args["skin"] : "")))
    skin = Utf8ToWide(std::filesystem::absolute(args["skin"]).string());
  int cx = kCwUseDefault, cy = kCwUseDefault;
  if (args.count("size")) {
    auto x = args["size"].find('x');
    if (x == std::string::npos) return Usage();
    cx = std::atoi(args["size"].substr(0, x).c_str());
    cy = std::atoi(args["size"].substr(x + 1).c_str());
    if (cx <= 0 || cy <= 0) return Usage();
  }

  const int dpi = args.count("dpi") ? std::atoi(args["dpi"].c_str()) : 96;
  if (dpi < 48 || dpi > 480) return Usage();
  FixedDpi host(dpi);
  std::unique_ptr<WindowImplBase> window;
  if (args.count("message")) {
    auto msg = std::make_unique<CMsgWnd>(&host, L"");
    if (args.count("skin")) std::fputs("orlin-skin-preview: --message uses msg.xml\n", stderr);
    if (!msg->Create(nullptr, L"msgwnd", kWsPopup | kWsClipChildren, kWsExTopmost, 0, 0, cx, cy)) {
      std::fputs("orlin-skin-preview: cannot build msg.xml\n", stderr);
      return 1;
    }
    msg->ShowCancel(true);
    msg->SetTitle(L"Orlin");
    msg->SetMessageKey(Utf8ToWide(args["message"]));
    window = std::move(msg);
  } else if (SkinHasMenu(skin)) {
    PreviewWindow owner(L"");
    CResourceManager::GetInstance().SetTextQueryInterface(&owner);
    owner.GetPaintManager().SetDPI(dpi);
    auto menu = std::make_unique<CMenuWnd>();
    if (!menu->Init(nullptr, skin, Point{0, 0}, &owner.GetPaintManager(), nullptr,
                    CMenuWnd::kAlignLeft | CMenuWnd::kAlignTop)) {
      std::fputs("orlin-skin-preview: cannot build the menu skin\n", stderr);
      return 1;
    }
    for (const wchar_t* k : {L"folder", L"panel", L"web", L"upgrade", L"pause", L"setting", L"logoff", L"exit"}) {
      std::wstring key = k;
      menu->GetMenuUI()->Add(CMenuWnd::NewTextIdElement(L"MENU_" + AsciiLower(key), L"menu_" + key,
                                                        L"res\\tray\\" + key + L".png", Size{16, 16}));
    }
    menu->ResizeMenu();
    CResourceManager::GetInstance().SetTextQueryInterface(nullptr);
    window = std::move(menu);
  } else {
    auto plain = std::make_unique<PreviewWindow>(skin);
    CResourceManager::GetInstance().SetTextQueryInterface(plain.get());
    if (!plain->Create(nullptr, L"preview", kWsPopup, 0, 0, 0, cx, cy)) {
      std::fputs("orlin-skin-preview: cannot build the skin\n", stderr);
      return 1;
    }
    CResourceManager::GetInstance().ReloadText();
    CResourceManager::GetInstance().SetTextQueryInterface(nullptr);
    plain->ApplyDPI(dpi);
    window = std::move(plain);
  }
  window->ShowWindow(true, false);
  QApplication::processEvents();
  if (!GrabWindow(window->GetHWND(), args["out"])) {
    std::fprintf(stderr, "orlin-skin-preview: cannot write %s\n", args["out"].c_str());
    return 1;
  }
  window.reset();
  UiBackend::Install(nullptr);
  return 0;
}
