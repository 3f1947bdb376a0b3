#include "shellext/win32/class_factory.h"

#include <new>

#include "shellext/win32/ravel_context_menu.h"
#include "shellext/win32/ravel_module.h"

namespace orlin::ravel::win32 {

CRavelClassFactory* CRavelClassFactory::CreateCached() { return new (std::nothrow) CRavelClassFactory(); }

STDMETHODIMP CRavelClassFactory::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
  *out = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CRavelClassFactory::AddRef() {
  const LONG refs = ::InterlockedIncrement(&refs_);
  // The first reference beyond the cache's holds the DLL.
  if (refs == 2) Module().Lock();
  return static_cast<ULONG>(refs);
}

STDMETHODIMP_(ULONG) CRavelClassFactory::Release() {
  const LONG refs = ::InterlockedDecrement(&refs_);
  if (refs == 1) Module().Unlock();
  if (refs == 0) delete this;
  return static_cast<ULONG>(refs);
}

STDMETHODIMP CRavelClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return CRavelContextMenu::Create(outer, iid, out);
}

STDMETHODIMP CRavelClassFactory::LockServer(BOOL lock) {
  if (lock) {
    Module().Lock();
  } else {
    Module().Unlock();
  }
  return S_OK;
}

}  // namespace orlin::ravel::win32
