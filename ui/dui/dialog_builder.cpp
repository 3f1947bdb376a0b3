#include "ui/dui/dialog_builder.h"

#include <tinyxml2.h>

#include <optional>

#include "common/atomic_file.h"
#include "common/text.h"
#include "ui/dui/menu_wnd.h"
#include "ui/dui/paint_manager.h"

namespace orlin::dui {

struct CDialogBuilder::Parsed {
  tinyxml2::XMLDocument doc;
  std::filesystem::path dir;
};

namespace {

std::filesystem::path SkinPath(const std::wstring& skin) {
  std::filesystem::path p = ResolveImagePath(CPaintManagerUI::GetResourcePath(), WideToUtf8(skin));
  return p;
}

std::optional<std::string> ReadText(const std::filesystem::path& p) {
  std::string out;
  if (!ReadWholeFile(p, out)) return std::nullopt;
  return out;
}

std::wstring W(const char* s) { return s ? Utf8ToWide(s) : std::wstring(); }

void ReadHeadElement(const tinyxml2::XMLElement* e, CPaintManagerUI* manager, const std::filesystem::path& dir);

void ReadInclude(const tinyxml2::XMLElement* e, CPaintManagerUI* manager, const std::filesystem::path& dir) {
  const char* source = e->Attribute("source");
  if (!source || !manager) return;
  std::filesystem::path p = ResolveImagePath(dir, source);
  auto text = ReadText(p);
  if (!text) return;
  tinyxml2::XMLDocument doc;
  if (doc.Parse(text->data(), text->size()) != tinyxml2::XML_SUCCESS) return;
  const tinyxml2::XMLElement* root = doc.RootElement();
  if (!root) return;
  for (auto* c = root->FirstChildElement(); c; c = c->NextSiblingElement()) ReadHeadElement(c, manager, p.parent_path());
}

// Elements that describe the window rather than a control. True if handled.
bool IsHeadElement(const char* name) {
  std::string n = name;
  return n == "Font" || n == "Default" || n == "Style" || n == "Include" || n == "Image";
}

void ReadHeadElement(const tinyxml2::XMLElement* e, CPaintManagerUI* manager, const std::filesystem::path& dir) {
  if (!manager) return;
  std::string n = e->Name();
  if (n == "Font") {
    FontSpec f;
    f.id = e->IntAttribute("id", 0);
    f.family = e->Attribute("name") ? e->Attribute("name") : "";
    f.size = e->IntAttribute("size", 12);
    f.bold = e->BoolAttribute("bold", false);
    f.italic = e->BoolAttribute("italic", false);
    f.underline = e->BoolAttribute("underline", false);
    manager->AddFont(f, e->BoolAttribute("default", false));
  } else if (n == "Default") {
    manager->AddDefaultAttributeList(W(e->Attribute("name")), W(e->Attribute("value")));
  } else if (n == "Style") {
    manager->AddStyle(W(e->Attribute("name")), W(e->Attribute("value")));
  } else if (n == "Include") {
    ReadInclude(e, manager, dir);
  }
}

CControlUI* BuildElement(const tinyxml2::XMLElement* e, IDialogBuilderCallback* callback, CPaintManagerUI* manager);

void BuildChildren(const tinyxml2::XMLElement* e, CControlUI* parent, IDialogBuilderCallback* callback,
                   CPaintManagerUI* manager) {
  for (auto* c = e->FirstChildElement(); c; c = c->NextSiblingElement()) {
    if (IsHeadElement(c->Name())) continue;
    CControlUI* child = BuildElement(c, callback, manager);
    if (!child) continue;
    if (auto* node = dynamic_cast<CTreeNodeUI*>(parent)) {
      if (auto* childNode = dynamic_cast<CTreeNodeUI*>(child)) {
        node->AddChildNode(childNode);
        continue;
      }
    }
    if (auto* container = parent->AsContainer()) container->Add(child);
    else delete child;
  }
}

CControlUI* BuildElement(const tinyxml2::XMLElement* e, IDialogBuilderCallback* callback, CPaintManagerUI* manager) {
  std::wstring cls = W(e->Name());
  CControlUI* control = CreateControlByClass(cls);
  if (!control && callback) control = callback->CreateControl(cls);
  if (!control) return nullptr;
  // The manager is known while attributes are applied (styles, scaling), but
  // the control joins the window's tree only when it is attached.
  control->SetManager(manager, nullptr);
  if (manager) {
    auto defaults = manager->GetDefaultAttributeList(cls);
    if (!defaults.empty()) control->ApplyAttributeList(defaults);
  }
  // style= first, so the element's own attributes override the style.
  if (const char* style = e->Attribute("style")) control->SetAttribute(L"style", W(style));
  for (auto* a = e->FirstAttribute(); a; a = a->Next()) {
    if (std::string(a->Name()) == "style") continue;
    control->SetAttribute(W(a->Name()), W(a->Value()));
  }
  control->SetManager(nullptr, nullptr);
  BuildChildren(e, control, callback, manager);
  return control;
}

CControlUI* BuildDocument(const tinyxml2::XMLDocument& doc, const std::filesystem::path& dir,
                          IDialogBuilderCallback* callback, CPaintManagerUI* manager, CControlUI* parent) {
  const tinyxml2::XMLElement* root = doc.RootElement();
  if (!root) return nullptr;
  if (std::string(root->Name()) == "Window") {
    if (manager) {
      if (const char* size = root->Attribute("size")) manager->SetInitSize(ParseSize(size));
      if (const char* mininfo = root->Attribute("mininfo")) manager->SetMinInfo(ParseSize(mininfo));
      if (const char* caption = root->Attribute("caption")) manager->SetCaptionRect(ParseRect(caption));
      if (const char* sizebox = root->Attribute("sizebox")) manager->SetSizeBox(ParseRect(sizebox));
      manager->SetRoundCorner(root->IntAttribute("roundcorner", 0));
    }
    CControlUI* top = nullptr;
    for (auto* c = root->FirstChildElement(); c; c = c->NextSiblingElement()) {
      if (IsHeadElement(c->Name())) {
        ReadHeadElement(c, manager, dir);
        continue;
      }
      if (!top) top = BuildElement(c, callback, manager);
    }
    if (top && parent && parent->AsContainer()) parent->AsContainer()->Add(top);
    return top;
  }
  CControlUI* top = BuildElement(root, callback, manager);
  if (top && parent && parent->AsContainer()) parent->AsContainer()->Add(top);
  return top;
}

}  // namespace

CControlUI* CreateControlByClass(const std::wstring& c) {
  if (c == L"Control") return new CControlUI;
  if (c == L"Container") return new CContainerUI;
  if (c == L"VerticalLayout") return new CVerticalLayoutUI;
  if (c == L"HorizontalLayout") return new CHorizontalLayoutUI;
  if (c == L"TabLayout") return new CTabLayoutUI;
  if (c == L"Label") return new CLabelUI;
  if (c == L"Text") return new CTextUI;
  if (c == L"Button") return new CButtonUI;
  if (c == L"Option") return new COptionUI;
  if (c == L"CheckBox") return new CCheckBoxUI;
  if (c == L"Edit") return new CEditUI;
  if (c == L"Combo") return new CComboUI;
  if (c == L"Progress") return new CProgressUI;
  if (c == L"List") return new CListUI;
  if (c == L"ListHeader") return new CListHeaderUI;
  if (c == L"ListHeaderItem") return new CListHeaderItemUI;
  if (c == L"ListContainerElement") return new CListContainerElementUI;
  if (c == L"ListLabelElement") return new CListLabelElementUI;
  if (c == L"TreeView") return new CTreeViewUI;
  if (c == L"TreeNode") return new CTreeNodeUI;
  if (c == L"Menu") return new CMenuUI;
  if (c == L"MenuElement") return new CMenuElementUI;
  return nullptr;
}

CControlUI* CDialogBuilder::Create(const std::wstring& skin, IDialogBuilderCallback* callback, CPaintManagerUI* manager,
                                   CControlUI* parent) {
  error_.clear();
  std::filesystem::path p = SkinPath(skin);
  auto text = ReadText(p);
  if (!text) {
    error_ = "cannot read " + p.string();
    return nullptr;
  }
  Parsed parsed;
  parsed.dir = p.parent_path();
  if (parsed.doc.Parse(text->data(), text->size()) != tinyxml2::XML_SUCCESS) {
    error_ = p.string() + ": " + (parsed.doc.ErrorStr() ? parsed.doc.ErrorStr() : "parse error");
    return nullptr;
  }
  return BuildDocument(parsed.doc, parsed.dir, callback, manager, parent);
}

CControlUI* CDialogBuilder::CreateFromString(const std::string& xml, IDialogBuilderCallback* callback,
                                             CPaintManagerUI* manager, CControlUI* parent) {
  error_.clear();
  tinyxml2::XMLDocument doc;
  if (doc.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS) {
    error_ = doc.ErrorStr() ? doc.ErrorStr() : "parse error";
    return nullptr;
  }
  return BuildDocument(doc, CPaintManagerUI::GetResourcePath(), callback, manager, parent);
}

CControlUI* CDialogBuilder::CreateCached(const std::wstring& skin, IDialogBuilderCallback* callback,
                                         CPaintManagerUI* manager) {
  if (!cache_ || (!skin.empty() && skin != cachedSkin_)) {
    std::filesystem::path p = SkinPath(skin);
    auto text = ReadText(p);
    if (!text) {
      error_ = "cannot read " + p.string();
      return nullptr;
    }
    auto parsed = std::make_shared<Parsed>();
    parsed->dir = p.parent_path();
    if (parsed->doc.Parse(text->data(), text->size()) != tinyxml2::XML_SUCCESS) {
      error_ = p.string() + ": parse error";
      return nullptr;
    }
    cache_ = std::move(parsed);
    cachedSkin_ = skin;
  }
  return BuildDocument(cache_->doc, cache_->dir, callback, manager, nullptr);
}

}  // namespace orlin::dui
