#include "tools/skin-preview/skin_preview.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>

#include "common/text.h"
#include "ui/dialogs/msg_wnd.h"
#include "ui/dui/menu_wnd.h"

namespace orlin::preview {

namespace {

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

// The message window with the host it reads its DPI from.
class PreviewMessage : public CMsgWnd {
 public:
  explicit PreviewMessage(int dpi) : CMsgWnd(&host_, L""), host_(dpi) {}

 private:
  FixedDpi host_;
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

std::nullopt_t Usage() {
  std::fputs(
      "usage: orlin-skin-preview --skin FILE [--lang en|zh_cn] [--size WxH] --out PNG [--message KEY]"
      " [--resources DIR] [--dpi N]\n",
      stderr);
  return std::nullopt;
}

}  // namespace

std::optional<PreviewRequest> ParseRequest(int argc, char** argv) {
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
  PreviewRequest r;
  r.out = args["out"];
  if (args.count("resources")) r.resources = std::filesystem::path(args["resources"]);
  if (args.count("lang")) r.lang = args["lang"];
  if (r.lang != "en" && r.lang != "zh_cn") return Usage();
  if (args.count("message")) r.messageKey = args["message"];
  if (args.count("skin")) {
    const std::filesystem::path given(args["skin"]);
    // A skin file named by path; otherwise a skin of the resource folder.
    r.skin = std::filesystem::exists(given) ? WideFromPath(std::filesystem::absolute(given)) : Utf8ToWide(args["skin"]);
  }
  if (args.count("size")) {
    auto x = args["size"].find('x');
    if (x == std::string::npos) return Usage();
    r.cx = std::atoi(args["size"].substr(0, x).c_str());
    r.cy = std::atoi(args["size"].substr(x + 1).c_str());
    if (r.cx <= 0 || r.cy <= 0) return Usage();
  }
  if (args.count("dpi")) r.dpi = std::atoi(args["dpi"].c_str());
  if (r.dpi < 48 || r.dpi > 480) return Usage();
  return r;
}

ScratchInstance::ScratchInstance(const std::string& lang) {
  std::random_device random;
  path_ = std::filesystem::temp_directory_path() / ("orlin-skin-preview-" + std::to_string(random()));
  std::filesystem::create_directories(path_);
  std::ofstream(path_ / "lang.xml") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Orlin>\n    <lang>" << lang
                                    << "</lang>\n</Orlin>\n";
}

ScratchInstance::~ScratchInstance() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::unique_ptr<WindowImplBase> ShowPreview(const PreviewRequest& request, const std::filesystem::path& programDir,
                                            const ScratchInstance& instance) {
  CPaintManagerUI::SetResourcePath(request.resources.value_or(programDir));
  // The message window reads its language from lang.xml of the instance
  // folder: a scratch one, so an install is never touched.
  CPaintManagerUI::SetInstance(instance.Path());
  CResourceManager::GetInstance().SetLanguage(Utf8ToWide(request.lang));

  const std::wstring skin = request.skin.empty() ? L"msg.xml" : request.skin;
  std::unique_ptr<WindowImplBase> window;
  if (request.messageKey) {
    auto msg = std::make_unique<PreviewMessage>(request.dpi);
    if (!request.skin.empty()) std::fputs("orlin-skin-preview: --message uses msg.xml\n", stderr);
    if (!msg->Create(nullptr, L"msgwnd", kWsPopup | kWsClipChildren, kWsExTopmost, 0, 0, request.cx, request.cy)) {
      std::fputs("orlin-skin-preview: cannot build msg.xml\n", stderr);
      return nullptr;
    }
    msg->ShowCancel(true);
    msg->SetTitle(L"Orlin");
    msg->SetMessageKey(Utf8ToWide(*request.messageKey));
    window = std::move(msg);
  } else if (SkinHasMenu(skin)) {
    PreviewWindow owner(L"");
    CResourceManager::GetInstance().SetTextQueryInterface(&owner);
    owner.GetPaintManager().SetDPI(request.dpi);
    auto menu = std::make_unique<CMenuWnd>();
    if (!menu->Init(nullptr, skin, Point{0, 0}, &owner.GetPaintManager(), nullptr,
                    CMenuWnd::kAlignLeft | CMenuWnd::kAlignTop)) {
      std::fputs("orlin-skin-preview: cannot build the menu skin\n", stderr);
      return nullptr;
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
    if (!plain->Create(nullptr, L"preview", kWsPopup, 0, 0, 0, request.cx, request.cy)) {
      std::fputs("orlin-skin-preview: cannot build the skin\n", stderr);
      return nullptr;
    }
    CResourceManager::GetInstance().ReloadText();
    CResourceManager::GetInstance().SetTextQueryInterface(nullptr);
    plain->ApplyDPI(request.dpi);
    window = std::move(plain);
  }
  window->ShowWindow(true, false);
  return window;
}

}  // namespace orlin::preview
