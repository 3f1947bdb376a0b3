#pragma once
// Ravel.dll's module: the module object CRavelModule (the class table of
// its one class, the lock count, the critical section, the cached class
// factory, registration) and the application object CRavelApp.
//
// Threads: Explorer calls the exports on any thread; the lock count is
// atomic and the factory is made under the critical section.

#include <windows.h>
#include <unknwn.h>

#include <string>

namespace orlin::ravel::win32 {

class CRavelApp {
 public:
  // Nothing of the application layer holds the DLL: it may go whenever the
  // module's lock count allows.
  bool CanUnload() const { return true; }
};

class CRavelModule {
 public:
  // DllMain: the module exists from the DLL's load to its unload.
  void Init(HINSTANCE instance);
  void Term();
  bool IsInitialized() const { return initialized_; }
  HINSTANCE Instance() const { return instance_; }

  // Live handlers, locked servers and outside references to the factory.
  LONG Lock() { return ::InterlockedIncrement(&locks_); }
  LONG Unlock() { return ::InterlockedDecrement(&locks_); }
  LONG LockCount() const { return locks_; }

  // The full path of this DLL, and its directory with the trailing
  // backslash.
  std::wstring ModulePath() const;
  std::wstring ModuleDirectory() const;

  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out);
  HRESULT RegisterServer();
  HRESULT UnregisterServer();
  // Registration for the current user only (DllInstall "user"): every key
  // for HKEY_CLASSES_ROOT goes to HKEY_CURRENT_USER\Software\Classes.
  void SetPerUser(bool perUser) { perUser_ = perUser; }

 private:
  HRESULT RunScript(int resource, bool registering, const std::wstring& replaceName, const std::wstring& replaceWith);
  HRESULT RegisterTypeLibrary();
  HRESULT UnregisterTypeLibrary();

  HINSTANCE instance_ = nullptr;
  bool initialized_ = false;
  bool perUser_ = false;
  volatile LONG locks_ = 0;
  CRITICAL_SECTION section_{};
  IClassFactory* factory_ = nullptr;  // the cached factory, made once
};

CRavelModule& Module();

}  // namespace orlin::ravel::win32
