#include "ui/dui/win32/win32_folder_picker.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace orlin::dui::win32 {

namespace {

// Releases a COM interface when it goes.
template <typename T>
struct Com {
  T* p = nullptr;
  ~Com() {
    if (p) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

struct BrowseStart {
  std::wstring title;
  std::wstring folder;
};

int CALLBACK BrowseCallback(HWND hwnd, UINT msg, LPARAM, LPARAM data) {
  if (msg == BFFM_INITIALIZED) {
    const auto* start = reinterpret_cast<const BrowseStart*>(data);
    // The window is found by its title, as the other picker is.
    ::SetWindowTextW(hwnd, start->title.c_str());
    if (!start->folder.empty()) ::SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(start->folder.c_str()));
  }
  return 0;
}

// Windows before Vista have no IFileOpenDialog: the older folder tree.
std::optional<std::filesystem::path> BrowseTree(HWND owner, const std::wstring& title,
                                                const std::filesystem::path& start) {
  BrowseStart info{title, start.wstring()};
  BROWSEINFOW bi{};
  bi.hwndOwner = owner;
  bi.lpszTitle = info.title.c_str();
  bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  bi.lpfn = &BrowseCallback;
  bi.lParam = reinterpret_cast<LPARAM>(&info);
  PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&bi);
  if (!chosen) return std::nullopt;
  wchar_t path[MAX_PATH] = {};
  const bool ok = ::SHGetPathFromIDListW(chosen, path) != FALSE;
  ::CoTaskMemFree(chosen);
  if (!ok || !path[0]) return std::nullopt;
  return std::filesystem::path(path);
}

}  // namespace

FolderPick PickFolder(HWND owner, const std::wstring& title, const std::filesystem::path& start) {
  // The dialogs are COM objects of a single-threaded apartment.
  const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  FolderPick pick;
  {
    Com<IFileOpenDialog> dialog;
    if (SUCCEEDED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                     reinterpret_cast<void**>(&dialog)))) {
      pick.vistaDialog = true;
      FILEOPENDIALOGOPTIONS options = 0;
      dialog->GetOptions(&options);
      dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
      dialog->SetTitle(title.c_str());
      Com<IShellItem> folder;
      if (!start.empty() &&
          SUCCEEDED(::SHCreateItemFromParsingName(start.wstring().c_str(), nullptr, IID_IShellItem,
                                                  reinterpret_cast<void**>(&folder)))) {
        dialog->SetFolder(folder.p);
      }
      if (dialog->Show(owner) == S_OK) {
        Com<IShellItem> result;
        if (SUCCEEDED(dialog->GetResult(&result))) {
          PWSTR path = nullptr;
          if (SUCCEEDED(result->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) {
            pick.folder = std::filesystem::path(path);
            ::CoTaskMemFree(path);
          }
        }
      }
    } else {
      pick.folder = BrowseTree(owner, title, start);
    }
  }
  if (SUCCEEDED(init)) ::CoUninitialize();
  return pick;
}

}  // namespace orlin::dui::win32
