#pragma once
// The class factory of RavelContextMenu. The module keeps one per process:
// that cached reference does not lock the DLL, every other one does, so the
// DLL can unload while only the cache holds the factory.

#include <windows.h>
#include <unknwn.h>

namespace orlin::ravel::win32 {

class CRavelClassFactory final : public IClassFactory {
 public:
  // With one reference, the cache's.
  static CRavelClassFactory* CreateCached();

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // An outer object makes the handler aggregated (and then only IUnknown may
  // be asked for, as COM's aggregation requires).
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  STDMETHODIMP LockServer(BOOL lock) override;

 private:
  CRavelClassFactory() = default;
  volatile LONG refs_ = 1;
};

}  // namespace orlin::ravel::win32
