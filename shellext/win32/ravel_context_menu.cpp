#include "shellext/win32/ravel_context_menu.h"

#include <shellapi.h>

#include <new>
#include <vector>

#include "platform/shell.h"
#include "platform/window_lookup.h"
#include "shellext/hand_over.h"
#include "shellext/ravel_texts.h"
#include "shellext/win32/ravel_module.h"

namespace orlin::ravel::win32 {
namespace {

constexpr int kMenuBitmap = 202;
// The program Ravel starts, beside it, when no Orlin runs.
constexpr wchar_t kStartedProgram[] = L"Tarn Cloud.exe";

// The module this code lies in, found from one of its own functions.
HMODULE OwnModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&OwnModule), &module);
  return module;
}

}  // namespace

// ------------------------------------------------------------ life

HRESULT CRavelContextMenu::Create(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  auto* object = new (std::nothrow) CRavelContextMenu(outer);
  if (!object) return E_OUTOFMEMORY;
  // One reference while it is asked; a failed question destroys it again.
  object->own_.AddRef();
  const HRESULT result = object->own_.QueryInterface(iid, out);
  object->own_.Release();
  return result;
}

CRavelContextMenu::CRavelContextMenu(IUnknown* outer) : outer_(outer ? outer : &own_) {
  Module().Lock();
  menuBitmap_ = static_cast<HBITMAP>(
      ::LoadImageW(OwnModule(), MAKEINTRESOURCEW(kMenuBitmap), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
}

CRavelContextMenu::~CRavelContextMenu() {
  if (menuBitmap_) ::DeleteObject(menuBitmap_);
  if (typeInfo_) typeInfo_->Release();
  Module().Unlock();
}

STDMETHODIMP CRavelContextMenu::OwnUnknown::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown)) {
    *out = static_cast<IUnknown*>(this);
  } else if (IsEqualIID(iid, IID_IRavelContextMenu) || IsEqualIID(iid, IID_IDispatch)) {
    *out = static_cast<IRavelContextMenu*>(&self_);
  } else if (IsEqualIID(iid, IID_IShellExtInit)) {
    *out = static_cast<IShellExtInit*>(&self_);
  } else if (IsEqualIID(iid, IID_IContextMenu)) {
    *out = static_cast<IContextMenu*>(&self_);
  } else {
    return E_NOINTERFACE;
  }
  // Through the interface handed out: an aggregated object's interfaces
  // count on the outer object.
  static_cast<IUnknown*>(*out)->AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CRavelContextMenu::OwnUnknown::AddRef() {
  return static_cast<ULONG>(::InterlockedIncrement(&self_.refs_));
}

STDMETHODIMP_(ULONG) CRavelContextMenu::OwnUnknown::Release() {
  const LONG refs = ::InterlockedDecrement(&self_.refs_);
  if (refs == 0) delete &self_;
  return static_cast<ULONG>(refs);
}

// ------------------------------------------------------------ IDispatch

HRESULT CRavelContextMenu::LoadTypeInfo() {
  if (typeInfo_) return S_OK;
  ITypeLib* library = nullptr;
  HRESULT result = ::LoadTypeLibEx(Module().ModulePath().c_str(), REGKIND_NONE, &library);
  if (FAILED(result)) return result;
  result = library->GetTypeInfoOfGuid(IID_IRavelContextMenu, &typeInfo_);
  library->Release();
  return result;
}

STDMETHODIMP CRavelContextMenu::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP CRavelContextMenu::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  const HRESULT result = LoadTypeInfo();
  if (FAILED(result)) return result;
  typeInfo_->AddRef();
  *info = typeInfo_;
  return S_OK;
}

STDMETHODIMP CRavelContextMenu::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const HRESULT result = LoadTypeInfo();
  if (FAILED(result)) return result;
  return ::DispGetIDsOfNames(typeInfo_, names, count, ids);
}

STDMETHODIMP CRavelContextMenu::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                       VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const HRESULT loaded = LoadTypeInfo();
  if (FAILED(loaded)) return loaded;
  return ::DispInvoke(static_cast<IRavelContextMenu*>(this), typeInfo_, id, flags, params, result, exception,
                      argError);
}

// ------------------------------------------------------------ IShellExtInit

STDMETHODIMP CRavelContextMenu::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) {
  if (!data) return E_INVALIDARG;
  FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  if (FAILED(data->GetData(&format, &medium))) return E_INVALIDARG;
  auto drop = static_cast<HDROP>(::GlobalLock(medium.hGlobal));
  if (!drop) {
    ::ReleaseStgMedium(&medium);
    return E_INVALIDARG;
  }
  HRESULT result = E_INVALIDARG;
  if (::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) > 0) {
    // The whole first name, however long: a path cut to a fixed buffer
    // would name another file or none.
    const UINT length = ::DragQueryFileW(drop, 0, nullptr, 0);
    std::vector<wchar_t> name(length + 1, L'\0');
    const UINT copied = length > 0 ? ::DragQueryFileW(drop, 0, name.data(), length + 1) : 0;
    if (copied > 0) {
      selectedPath_.assign(name.data(), copied);
      ::OutputDebugStringW(selectedPath_.c_str());
      result = S_OK;
    }
  }
  ::GlobalUnlock(medium.hGlobal);
  ::ReleaseStgMedium(&medium);
  return result;
}

// ------------------------------------------------------------ IContextMenu

STDMETHODIMP CRavelContextMenu::QueryContextMenu(HMENU menu, UINT index, UINT firstCommand, UINT, UINT flags) {
  // Default verbs only, or verbs only: nothing of ours.
  if (flags & (CMF_DEFAULTONLY | CMF_VERBSONLY)) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
  // All three go in at the same position: the menu then reads separator,
  // entry, separator.
  ::InsertMenuW(menu, index, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
  extensionDirectory_ = Module().ModuleDirectory();
  language_ = ReadLanguage(std::filesystem::path(extensionDirectory_) / L"lang.xml");
  const std::wstring text = MenuEntryText(language_);
  ::InsertMenuW(menu, index, MF_BYPOSITION | MF_STRING, firstCommand, text.c_str());
  if (menuBitmap_) ::SetMenuItemBitmaps(menu, index, MF_BYPOSITION, menuBitmap_, menuBitmap_);
  ::InsertMenuW(menu, index, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
  return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
}

STDMETHODIMP CRavelContextMenu::GetCommandString(UINT_PTR command, UINT flags, UINT*, CHAR* name, UINT size) {
  // Help text (GCS_HELPTEXTA, GCS_HELPTEXTW) and the wide verb (GCS_VERBW)
  // are all answered with the help text.
  if (command != 0 || (flags & (GCS_HELPTEXTA | GCS_UNICODE)) == 0) return E_INVALIDARG;
  if (!name || size == 0) return E_INVALIDARG;
  const DWORD attributes = ::GetFileAttributesW(selectedPath_.c_str());
  const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  const std::wstring help = HelpText(language_, folder);
  if (flags & GCS_UNICODE) {
    ::lstrcpynW(reinterpret_cast<LPWSTR>(name), help.c_str(), static_cast<int>(size));
    return S_OK;
  }
  const int bytes = ::WideCharToMultiByte(CP_THREAD_ACP, 0, help.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string ansi(bytes > 0 ? static_cast<std::size_t>(bytes) : 1u, '\0');
  if (bytes > 0) ::WideCharToMultiByte(CP_THREAD_ACP, 0, help.c_str(), -1, ansi.data(), bytes, nullptr, nullptr);
  ::lstrcpynA(name, ansi.c_str(), static_cast<int>(size));
  return S_OK;
}

STDMETHODIMP CRavelContextMenu::InvokeCommand(CMINVOKECOMMANDINFO* info) {
  if (!info) return E_INVALIDARG;
  // Only our command, by its offset 0; a verb string is not ours.
  const auto verb = reinterpret_cast<UINT_PTR>(info->lpVerb);
  if (HIWORD(verb) != 0 || LOWORD(verb) != 0) return E_INVALIDARG;
  if (extensionDirectory_.empty()) extensionDirectory_ = Module().ModuleDirectory();
  const std::filesystem::path directory(extensionDirectory_);
  HandOverDesktop desktop;
  desktop.findMainWindow = platform::FindMainWindow;
  desktop.startOrlin = [&](const std::wstring& path) {
    return platform::StartProgram(directory / kStartedProgram, {path}, directory);
  };
  // Whatever came of it, the command was carried out as far as it goes:
  // Explorer has nothing to show for a failure.
  HandPathToOrlin(selectedPath_, OrlinMainWindow(directory), desktop);
  return S_OK;
}

}  // namespace orlin::ravel::win32
