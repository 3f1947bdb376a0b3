#include "ui/dialogs/ignoring_wnd.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <system_error>

#include "common/text.h"
#include "ui/dialogs/settings_texts.h"
#include "ui/dui/find_control.h"

namespace orlin {

using namespace dui;
namespace fs = std::filesystem;

namespace {

constexpr const wchar_t* kStyleNames[] = {L"treeview_root_style", L"treeview_folder_style",
                                          L"treeview_single_folder_style", L"treeview_file_style"};
enum NodeKind { kRoot = 0, kFolder = 1, kEmptyFolder = 2, kFile = 3 };

bool IsPatternCharacter(wchar_t c) {
  return c == L'*' || c == L'?' || c == L'[' || c == L']' || c == L'{' || c == L'}';
}

// The engine's own temporary files come and go and are never synchronised.
bool IsEngineTemporary(const std::wstring& name) {
  const bool prefix = name.rfind(L".syncthing.", 0) == 0 || name.rfind(L"~syncthing~", 0) == 0;
  return prefix && name.size() > 4 && name.compare(name.size() - 4, 4, L".tmp") == 0;
}

// The relative path as the ignore text writes it: the system's separator
// between names, no leading separator.
std::wstring Relative(const fs::path& full, const fs::path& root) {
  std::error_code ec;
  fs::path rel = full.lexically_relative(root);
  if (rel.empty() || rel == ".") return {};
  return rel.make_preferred().wstring();
}

struct BuiltTree {
  std::unique_ptr<CTreeNodeUI> root;
};

}  // namespace

std::wstring EscapeIgnoreEntry(const std::wstring& relativePath, wchar_t escape) {
  std::wstring out;
  out.reserve(relativePath.size());
  for (std::size_t i = 0; i < relativePath.size(); ++i) {
    const wchar_t c = relativePath[i];
    const bool leadingMark = i == 0 && (c == L'!' || c == L'#');
    if (IsPatternCharacter(c) || leadingMark || (c == escape && escape != L'\\')) out.push_back(escape);
    // On POSIX the escape character is also a name character: doubled.
    if (c == L'\\' && escape == L'\\') out.push_back(escape);
    out.push_back(c);
  }
  return out;
}

std::wstring UnescapeIgnoreEntry(const std::wstring& entry, wchar_t escape) {
  std::wstring out;
  out.reserve(entry.size());
  for (std::size_t i = 0; i < entry.size(); ++i) {
    if (entry[i] == escape && i + 1 < entry.size()) {
      const wchar_t next = entry[i + 1];
      if (IsPatternCharacter(next) || next == escape || next == L'!' || next == L'#') {
        out.push_back(next);
        ++i;
        continue;
      }
    }
    out.push_back(entry[i]);
  }
  return out;
}

wchar_t IgnoreEscapeCharacter() { return fs::path::preferred_separator == L'\\' ? L'|' : L'\\'; }

std::vector<std::wstring> SplitIgnoreText(const std::wstring& text) {
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

CIgnoredWnd::CIgnoredWnd(SyncSettings& record) : record_(record) {}

CIgnoredWnd::~CIgnoredWnd() {
  // The worker hands its tree to this window: it ends before the window goes.
  if (builder_.joinable()) {
    builder_.request_stop();
    builder_.join();
  }
  CResourceManager::GetInstance().RemoveTextQueryInterface(this);
}

void CIgnoredWnd::ApplyDpiAndCaption(int dpi) {
  ApplyDPI(dpi);
  const float scale = static_cast<float>(pm_.GetDPIObj()->GetScale());
  Rect caption = pm_.GetCaptionRect();
  caption.right = static_cast<int>(static_cast<float>(skinCaption_.right) * scale / 100.0f);
  caption.bottom = static_cast<int>(static_cast<float>(skinCaption_.bottom) * scale / 100.0f);
  pm_.SetCaptionRect(caption);
}

void CIgnoredWnd::InitWindow() {
  auto& resources = CResourceManager::GetInstance();
  resources.SetTextQueryInterface(this);
  resources.SetLanguage(record_.language);
  resources.ReloadText();
  skinCaption_ = pm_.GetCaptionRect();
  ApplyDpiAndCaption(record_.dpi > 0 ? std::min(record_.dpi, kMaxDpi) : 96);

  for (const auto& line : SplitIgnoreText(record_.ignoreText)) {
    entries_.push_back(line == L"/" ? line : UnescapeIgnoreEntry(line, IgnoreEscapeCharacter()));
  }
  for (int i = 0; i < 4; ++i) styles_[i] = pm_.GetStyle(kStyleNames[i]);

  if (auto* tree = FindControlAs<CTreeViewUI>(pm_, L"IGNORING_TREEVIEW")) tree->SetEnabled(false);
  if (auto* ok = FindControlAs<CButtonUI>(pm_, L"OKBTN")) ok->SetEnabled(false);
  builder_ = std::jthread([this](std::stop_token stop) { Build(stop); });
}

std::optional<std::wstring> CIgnoredWnd::QueryControlText(const std::wstring& id, const std::wstring&) {
  return IgnoringTextTable().Find(id, CResourceManager::GetInstance().GetLanguage());
}

// The build worker: the folder read into detached nodes, the ignore entries
// marked, then the whole tree handed to the window at once.
void CIgnoredWnd::Build(std::stop_token stop) {
  const fs::path root = PathFromWide(record_.syncFolderPath);
  auto styled = [this](CTreeNodeUI* node, NodeKind kind) {
    if (!styles_[kind].empty()) node->ApplyAttributeList(styles_[kind]);
  };

  auto rootNode = std::make_unique<CTreeNodeUI>();
  styled(rootNode.get(), kRoot);
  rootNode->SetText(record_.syncFolderPath);
  rootNode->SetExpanded(true);

  std::function<void(CTreeNodeUI*, const fs::path&)> fill = [&](CTreeNodeUI* parent, const fs::path& path) {
    std::vector<fs::path> folders, files;
    std::error_code ec;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end && !stop.stop_requested(); it.increment(ec)) {
      std::error_code statusError;
      const auto status = it->symlink_status(statusError);
      if (statusError) continue;
      // A link is an entry of its own; it is never followed (it may lead out
      // of the folder or back into it).
      (fs::is_directory(status) ? folders : files).push_back(it->path());
    }
    for (const auto& folder : folders) {
      if (stop.stop_requested()) return;
      const std::wstring name = folder.filename().wstring();
      if (name == L".stfolder") continue;
      auto* node = new CTreeNodeUI;
      std::error_code emptyError;
      const bool empty = fs::is_empty(folder, emptyError);
      styled(node, empty ? kEmptyFolder : kFolder);
      node->SetText(name);
      node->SetUserData(folder.wstring());
      node->SetExpanded(false);
      parent->AddChildNode(node);
      fill(node, folder);
    }
    for (const auto& file : files) {
      const std::wstring name = file.filename().wstring();
      if (name == L".stignore" || IsEngineTemporary(name)) continue;
      auto* node = new CTreeNodeUI;
      styled(node, kFile);
      node->GetCheckBox()->SetPadding(Rect{2, 0, 0, 0});
      node->SetText(name);
      node->SetUserData(file.wstring());
      parent->AddChildNode(node);
    }
  };
  fill(rootNode.get(), root);
  if (stop.stop_requested()) return;

  // The entries of the ignore text, checked (with everything inside them).
  if (std::find(entries_.begin(), entries_.end(), L"/") != entries_.end()) rootNode->SetCheck(true, false);
  std::function<void(CTreeNodeUI*)> mark = [&](CTreeNodeUI* parent) {
    for (int i = 0; i < parent->GetChildNodeCount(); ++i) {
      CTreeNodeUI* node = parent->GetChildNode(i);
      const std::wstring rel = Relative(PathFromWide(node->GetUserData()), root);
      if (std::find(entries_.begin(), entries_.end(), rel) != entries_.end()) {
        node->SetCheck(true, false);
      } else if (node->GetChildNodeCount() > 0) {
        mark(node);
      }
    }
  };
  mark(rootNode.get());

  {
    auto lock = pm_.ModelLock();
    if (auto* tree = FindControlAs<CTreeViewUI>(pm_, L"IGNORING_TREEVIEW")) {
      tree->AddRoot(rootNode.release());
      tree->SetEnabled(true);
      if (auto* ok = FindControlAs<CButtonUI>(pm_, L"OKBTN")) ok->SetEnabled(true);
      treeReady_.store(true);
    }
  }
  // Hop: the window hears on its own thread that the tree is there.
  PostMessageW(kMsgTreeBuilt, 0, 0);
}

void CIgnoredWnd::UpdateAncestors(CTreeNodeUI* node) {
  for (CTreeNodeUI* parent = node ? node->GetParentNode() : nullptr; parent; parent = parent->GetParentNode()) {
    bool all = parent->GetChildNodeCount() > 0;
    for (int i = 0; all && i < parent->GetChildNodeCount(); ++i) all = parent->GetChildNode(i)->GetCheck();
    parent->GetCheckBox()->SetOwnState(all);
  }
}

int CIgnoredWnd::ExcludedCount() {
  auto lock = pm_.ModelLock();
  auto* tree = dynamic_cast<CTreeViewUI*>(pm_.FindControl(L"IGNORING_TREEVIEW"));
  if (!tree || !tree->GetRoot(0)) return 0;
  int count = 0;
  std::function<void(CTreeNodeUI*)> walk = [&](CTreeNodeUI* node) {
    if (node->GetCheck()) ++count;
    for (int i = 0; i < node->GetChildNodeCount(); ++i) walk(node->GetChildNode(i));
  };
  walk(tree->GetRoot(0));
  return count;
}

std::wstring CIgnoredWnd::IgnoreText() {
  auto lock = pm_.ModelLock();
  auto* tree = dynamic_cast<CTreeViewUI*>(pm_.FindControl(L"IGNORING_TREEVIEW"));
  CTreeNodeUI* rootNode = tree ? tree->GetRoot(0) : nullptr;
  if (!rootNode) return record_.ignoreText;
  if (rootNode->GetCheck()) return L"/\n";
  const fs::path root = PathFromWide(record_.syncFolderPath);
  const wchar_t escape = IgnoreEscapeCharacter();
  std::wstring text;
  std::function<void(CTreeNodeUI*)> collect = [&](CTreeNodeUI* parent) {
    for (int i = 0; i < parent->GetChildNodeCount(); ++i) {
      CTreeNodeUI* node = parent->GetChildNode(i);
      if (node->GetCheck()) {
        text += EscapeIgnoreEntry(Relative(PathFromWide(node->GetUserData()), root), escape) + L"\n";
      } else if (node->GetChildNodeCount() > 0) {
        collect(node);
      }
    }
  };
  collect(rootNode);
  return text;
}

void CIgnoredWnd::Notify(TNotifyUI& msg) {
  if (!msg.pSender) return;
  if (msg.sType == kEventSelectChanged) {
    // A check box of the tree changed (the tree has set the entries inside
    // a folder already): the folders above follow.
    if (auto* box = dynamic_cast<CTreeCheckBoxUI*>(msg.pSender)) UpdateAncestors(&box->GetNode());
    return;
  }
  if (msg.sType != kEventClick) return;
  if (auto* node = dynamic_cast<CTreeNodeUI*>(msg.pSender)) {
    // A click on a folder's name opens or closes it.
    if (node->GetChildNodeCount() > 0 && node->GetParentNode() != nullptr) node->SetExpanded(!node->IsExpanded());
    return;
  }
  const std::wstring& name = msg.pSender->GetName();
  if (name == L"CLOSEBTN" || name == L"CANCELBTN") {
    Close(kModalCancel);
  } else if (name == L"OKBTN") {
    if (!treeReady_.load()) return;
    record_.ignoreText = IgnoreText();
    Close(kModalOk);
  } else if (name == L"MINBTN") {
    ShowWindowCommand(kSwMinimize);
  }
}

std::intptr_t CIgnoredWnd::HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                                               bool& handled) {
  if (msg == kMsgTreeBuilt) {
    handled = true;
    if (builder_.joinable()) builder_.join();
    return 0;
  }
  if (msg == kWmMouseWheel) {
    handled = true;
    auto lock = pm_.ModelLock();
    auto* tree = dynamic_cast<CTreeViewUI*>(pm_.FindControl(L"IGNORING_TREEVIEW"));
    if (tree && tree->GetPos().Contains(PointFromLParam(lParam))) {
      const int delta = static_cast<std::int16_t>((wParam >> 16) & 0xFFFF);
      // Three rows per notch, as list views scroll.
      tree->ScrollBy(-delta * 3 * tree->GetItemHeight() / kWheelDelta);
    }
    return 0;
  }
  if (msg != kWmDpiChanged) return 0;
  handled = true;
  ApplyDpiAndCaption(std::min(static_cast<int>(wParam & 0xFFFF), kMaxDpi));
  return 0;
}

}  // namespace orlin
