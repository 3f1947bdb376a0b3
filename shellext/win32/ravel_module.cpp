// Ravel.dll's entry points: DllMain and the five exports of a COM
// in-process server (DllCanUnloadNow, DllGetClassObject, DllInstall,
// DllRegisterServer, DllUnregisterServer), and the module's registration.

#include "shellext/win32/ravel_module.h"

#include <oleauto.h>

#include <map>
#include <string>
#include <vector>

#include "common/text.h"
#include "ravel_h.h"
#include "shellext/registry_script.h"
#include "shellext/win32/class_factory.h"
#include "shellext/win32/win32_registry.h"

// Per-user type library registration (Windows Vista and later); the
// toolchain's headers leave it out, its import library has it.
extern "C" DECLSPEC_IMPORT HRESULT STDAPICALLTYPE RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path,
                                                                         OLECHAR* helpDirectory);
extern "C" DECLSPEC_IMPORT HRESULT STDAPICALLTYPE UnRegisterTypeLibForUser(REFGUID library, WORD major, WORD minor,
                                                                           LCID lcid, SYSKIND system);

namespace orlin::ravel::win32 {
namespace {

constexpr int kModuleScript = 101;
constexpr int kClassScript = 106;
constexpr wchar_t kApplicationId[] = L"{41d21a68-def8-4d2c-840e-41f2f74725e7}";
constexpr wchar_t kUserClasses[] = L"Software\\Classes";

CRavelModule g_module;
CRavelApp g_app;

// A script resource as text (the scripts are plain ASCII, read as UTF-8).
std::wstring ScriptText(HINSTANCE instance, int resource) {
  HRSRC found = ::FindResourceW(instance, MAKEINTRESOURCEW(resource), L"REGISTRY");
  if (!found) return {};
  HGLOBAL loaded = ::LoadResource(instance, found);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  if (!data) return {};
  std::string text(static_cast<const char*>(data), ::SizeofResource(instance, found));
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  return Utf8ToWide(text);
}

// HKEY_CLASSES_ROOT, or the current user's classes for a per-user
// registration: the registrar's root and, while the type library is
// registered, the process's view of HKEY_CLASSES_ROOT itself.
class ClassesRoot {
 public:
  explicit ClassesRoot(bool perUser) {
    if (!perUser) {
      key_ = HKEY_CLASSES_ROOT;
      return;
    }
    error_ = ::RegCreateKeyExW(HKEY_CURRENT_USER, kUserClasses, 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_ALL_ACCESS, nullptr, &owned_, nullptr);
    key_ = owned_;
  }
  ~ClassesRoot() {
    if (overridden_) ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    if (owned_) ::RegCloseKey(owned_);
  }
  ClassesRoot(const ClassesRoot&) = delete;
  ClassesRoot& operator=(const ClassesRoot&) = delete;

  HKEY key() const { return key_; }
  long error() const { return error_; }
  // The system's type library registration writes below
  // HKEY_CLASSES_ROOT: for a per-user registration that view is pointed at
  // the user's classes while it runs.
  void RedirectClassesRoot() {
    if (owned_ && !overridden_) overridden_ = ::RegOverridePredefKey(HKEY_CLASSES_ROOT, owned_) == ERROR_SUCCESS;
  }

 private:
  HKEY key_ = nullptr;
  HKEY owned_ = nullptr;
  long error_ = ERROR_SUCCESS;
  bool overridden_ = false;
};

HRESULT FromRegistryError(long error) { return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error); }

SYSKIND TypeLibrarySystem() { return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32; }

}  // namespace

CRavelModule& Module() { return g_module; }

void CRavelModule::Init(HINSTANCE instance) {
  instance_ = instance;
  ::InitializeCriticalSection(&section_);
  initialized_ = true;
}

void CRavelModule::Term() {
  if (!initialized_) return;
  initialized_ = false;
  if (factory_) {
    factory_->Release();
    factory_ = nullptr;
  }
  ::DeleteCriticalSection(&section_);
}

std::wstring CRavelModule::ModulePath() const {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(instance_, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring CRavelModule::ModuleDirectory() const {
  const std::wstring path = ModulePath();
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

HRESULT CRavelModule::GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!initialized_) return E_UNEXPECTED;
  if (!IsEqualCLSID(clsid, CLSID_RavelContextMenu)) return CLASS_E_CLASSNOTAVAILABLE;
  ::EnterCriticalSection(&section_);
  if (!factory_) factory_ = CRavelClassFactory::CreateCached();
  IClassFactory* factory = factory_;
  ::LeaveCriticalSection(&section_);
  if (!factory) return E_OUTOFMEMORY;
  HRESULT result = factory->QueryInterface(iid, out);
  if (SUCCEEDED(result) && !*out) result = CLASS_E_CLASSNOTAVAILABLE;
  return result;
}

HRESULT CRavelModule::RunScript(int resource, bool registering, const std::wstring& replaceName,
                                const std::wstring& replaceWith) {
  const std::wstring text = ScriptText(instance_, resource);
  if (text.empty()) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
  ScriptParse parse = ParseRegistryScript(text, {{replaceName, replaceWith}});
  if (!parse.script) return HRESULT_FROM_WIN32(kMalformedScript);
  ClassesRoot classes(perUser_);
  if (classes.error() != ERROR_SUCCESS) return FromRegistryError(classes.error());
  Win32Registry registry(classes.key());
  auto roots = [&](const std::wstring& root) -> RegistryEditor* {
    return EqualsIgnoreCase(root, L"HKCR") || EqualsIgnoreCase(root, L"HKEY_CLASSES_ROOT") ? &registry : nullptr;
  };
  const ScriptRun run = registering ? RegisterScript(*parse.script, roots) : UnregisterScript(*parse.script, roots);
  return FromRegistryError(run.error);
}

HRESULT CRavelModule::RegisterTypeLibrary() {
  std::wstring path = ModulePath();
  ITypeLib* library = nullptr;
  HRESULT result = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
  if (FAILED(result)) return result;
  const std::wstring directory = ModuleDirectory();
  std::wstring helpDirectory = directory.size() > 3 ? directory.substr(0, directory.size() - 1) : directory;
  ClassesRoot classes(perUser_);
  if (perUser_) {
    classes.RedirectClassesRoot();
    result = ::RegisterTypeLibForUser(library, path.data(), helpDirectory.data());
  } else {
    result = ::RegisterTypeLib(library, path.data(), helpDirectory.data());
  }
  library->Release();
  return result;
}

HRESULT CRavelModule::UnregisterTypeLibrary() {
  ClassesRoot classes(perUser_);
  if (classes.error() != ERROR_SUCCESS) return FromRegistryError(classes.error());
  // Nothing registered: nothing to do (unregistering twice is no failure).
  if (!Win32Registry(classes.key()).KeyExists(std::wstring(L"TypeLib\\") + kApplicationId)) return S_OK;
  HRESULT result;
  if (perUser_) {
    classes.RedirectClassesRoot();
    result = ::UnRegisterTypeLibForUser(LIBID_RavelLib, 1, 0, LOCALE_NEUTRAL, TypeLibrarySystem());
  } else {
    result = ::UnRegisterTypeLib(LIBID_RavelLib, 1, 0, LOCALE_NEUTRAL, TypeLibrarySystem());
  }
  return result == TYPE_E_REGISTRYACCESS ? S_OK : result;
}

HRESULT CRavelModule::RegisterServer() {
  // Registration does not depend on the user's locale.
  const LCID locale = ::GetThreadLocale();
  ::SetThreadLocale(LOCALE_SYSTEM_DEFAULT);
  HRESULT result = RunScript(kModuleScript, true, L"APPID", kApplicationId);
  if (SUCCEEDED(result)) result = RunScript(kClassScript, true, L"MODULE", ModulePath());
  if (SUCCEEDED(result)) result = RegisterTypeLibrary();
  ::SetThreadLocale(locale);
  return result;
}

HRESULT CRavelModule::UnregisterServer() {
  // Every step runs; the first failure is reported.
  HRESULT result = RunScript(kClassScript, false, L"MODULE", ModulePath());
  const HRESULT library = UnregisterTypeLibrary();
  if (SUCCEEDED(result)) result = library;
  const HRESULT module = RunScript(kModuleScript, false, L"APPID", kApplicationId);
  if (SUCCEEDED(result)) result = module;
  return result;
}

}  // namespace orlin::ravel::win32

using orlin::ravel::win32::Module;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    ::DisableThreadLibraryCalls(instance);
    Module().Init(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    Module().Term();
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() {
  return orlin::ravel::win32::g_app.CanUnload() && Module().LockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) { return Module().GetClassObject(clsid, iid, out); }

STDAPI DllRegisterServer() { return Module().RegisterServer(); }

STDAPI DllUnregisterServer() { return Module().UnregisterServer(); }

STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
  Module().SetPerUser(orlin::ravel::IsPerUserCommandLine(commandLine));
  HRESULT result;
  if (!install) {
    result = DllUnregisterServer();
  } else {
    result = DllRegisterServer();
    // A registration that failed half-way is undone.
    if (FAILED(result)) DllUnregisterServer();
  }
  Module().SetPerUser(false);
  return result;
}
