// The skin reader: a window skin (or item template) built into controls as a
// window does it, with the shared style file beside it, its texts applied,
// laid out at its own size and clicked at a few points.
#include <memory>

#include "fuzz/fuzz_support.h"
#include "ui/dui/dialog_builder.h"
#include "ui/dui/headless_backend.h"
#include "ui/dui/paint_manager.h"
#include "ui/dui/resource_manager.h"

#ifndef ORLIN_SKIN_DIR
#error "ORLIN_SKIN_DIR names the product's skins"
#endif

namespace orlin::fuzz {
namespace {

using namespace orlin::dui;

// Controls a window adds to the layer's own (as the main window does).
class Callback final : public IDialogBuilderCallback {
 public:
  CControlUI* CreateControl(const std::wstring& className) override {
    return className == L"Custom" ? new CLabelUI : nullptr;
  }
};

// Texts for the ids the skins carry, in both languages.
class Texts final : public IQueryControlText {
 public:
  std::optional<std::wstring> QueryControlText(const std::wstring& id, const std::wstring&) override {
    return table_.Find(id, CResourceManager::GetInstance().GetLanguage());
  }

 private:
  TextTable table_{{{L"Login_Btn", L"Login", L"\u767b\u5f55"}, {L"menu_exit", L"Exit", L"\u9000\u51fa"}}};
};

void SetUp() {
  static bool done = false;
  if (done) return;
  done = true;
  UiBackend::Install(std::make_shared<HeadlessBackend>());
  // The skin is read from a folder of its own, beside the style file the
  // product's skins include.
  const std::filesystem::path dir = ScratchDir() / "skins";
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(std::filesystem::path(ORLIN_SKIN_DIR) / "style.xml", dir / "style.xml",
                             std::filesystem::copy_options::overwrite_existing);
  CPaintManagerUI::SetResourcePath(dir);
  static Texts texts;
  CResourceManager::GetInstance().SetTextQueryInterface(&texts);
}

void Run(std::string_view bytes, std::size_t variant) {
  SetUp();
  WriteInput(CPaintManagerUI::GetResourcePath() / "skin.xml", bytes);
  Callback callback;
  CResourceManager::GetInstance().SetLanguage(variant % 2 ? L"en" : L"zh_cn");
  {
    CPaintManagerUI pm;
    pm.SetDPI(variant % 3 == 0 ? 144 : 96);
    CDialogBuilder builder;
    CControlUI* root = builder.Create(L"skin.xml", &callback, &pm);
    if (root == nullptr) return;
    pm.AttachDialog(root);
    CResourceManager::GetInstance().ApplyTexts(pm);
    pm.SetClientSize(Size{pm.Scale(pm.GetInitSize().cx), pm.Scale(pm.GetInitSize().cy)});
    for (const Point p : {Point{1, 1}, Point{40, 12}, Point{200, 150}}) {
      pm.MouseMove(p);
      pm.MouseDown(p);
      pm.MouseUp(p);
    }
    pm.DoubleClick(Point{20, 20});
    pm.MouseLeave();
    CResourceManager::GetInstance().ApplyTexts(pm);
  }
  // A list row template is built again from the parsed file it keeps.
  CPaintManagerUI pm;
  CDialogBuilder rows;
  if (CControlUI* first = rows.CreateCached(L"skin.xml", &callback, &pm)) {
    delete first;
    delete rows.CreateCached(L"", &callback, &pm);
  }
}

}  // namespace
}  // namespace orlin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orlin::fuzz::Run(orlin::fuzz::Bytes(data, size), size);
  return 0;
}
