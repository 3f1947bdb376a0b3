#pragma once
// The selective synchronisation window: the sync folder as a tree with a
// check box on every entry; a checked entry is excluded from
// synchronisation. On OK the checked entries become the ignore text of the
// settings record, one path relative to the sync folder per line ("/" alone
// when the whole folder is excluded); the settings apply writes it to
// .stignore.
//
// The tree is built on a worker thread, so a large folder never freezes the
// window: the worker reads the folder into nodes that belong to no window
// yet and hands the finished tree over in one step. Meanwhile the tree and
// OK wait; Cancel and the close button still work. Folders start closed (a
// click on a folder's name opens it), so a folder of many entries costs only
// what is shown, and the tree scrolls with the wheel.
//
// Checking a folder checks everything in it; after every check the folders
// above the entry are checked exactly when all their entries are.
//
// Threads: made and run modally by the settings window on the UI thread; the
// build worker ends before the window goes (the destructor stops and joins
// it).

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/sync_settings.h"
#include "ui/dui/window_impl_base.h"

namespace orlin {

// An ignore entry as the engine reads it: the characters its patterns give a
// meaning ('*', '?', '[', ']', '{', '}', and '!' or '#' at the start) are
// escaped, so a file named "[draft].txt" excludes that file and nothing else.
// `escape` is the engine's escape character: '\' on POSIX, '|' on Windows,
// where '\' separates folders.
std::wstring EscapeIgnoreEntry(const std::wstring& relativePath, wchar_t escape);
std::wstring UnescapeIgnoreEntry(const std::wstring& entry, wchar_t escape);
// The escape character of the engine on this system.
wchar_t IgnoreEscapeCharacter();
// The ignore text's lines, empty ones dropped.
std::vector<std::wstring> SplitIgnoreText(const std::wstring& text);

class CIgnoredWnd : public dui::WindowImplBase {
 public:
  static constexpr wchar_t kClassName[] = L"UIIgnoredWnd";
  static constexpr wchar_t kSkin[] = L"Ignoring.xml";
  // WS_POPUP | WS_VISIBLE; the skin draws the title bar.
  static constexpr std::uint32_t kStyle = 0x90000000u;
  static constexpr int kMaxDpi = 192;
  // Posted by the build worker once the tree is in place.
  static constexpr unsigned kMsgTreeBuilt = dui::kWmUserBase + 230;

  // `record`'s sync folder is shown and its ignore text rewritten on OK; it
  // must outlive the window.
  explicit CIgnoredWnd(SyncSettings& record);
  ~CIgnoredWnd() override;

  std::wstring GetWindowClassName() const override { return kClassName; }
  std::wstring GetSkinFile() override { return kSkin; }
  void InitWindow() override;
  void Notify(dui::TNotifyUI& msg) override;
  std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                                    bool& handled) override;
  std::optional<std::wstring> QueryControlText(const std::wstring& id, const std::wstring& type) override;

  bool TreeReady() const { return treeReady_.load(); }
  // Checked entries of the whole tree, the sync folder itself included and
  // every checked entry inside a checked folder counted too.
  int ExcludedCount();
  // The ignore text the checked entries make (what OK writes).
  std::wstring IgnoreText();

 private:
  void Build(std::stop_token stop);
  void UpdateAncestors(dui::CTreeNodeUI* node);
  void ApplyDpiAndCaption(int dpi);

  SyncSettings& record_;
  std::vector<std::wstring> entries_;
  std::wstring styles_[4];  // root, folder, empty folder, file
  std::atomic<bool> treeReady_{false};
  dui::Rect skinCaption_;
  std::jthread builder_;
};

}  // namespace orlin
