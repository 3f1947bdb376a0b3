#pragma once
// CRavelContextMenu, the COM class RavelContextMenu: Explorer's context
// menu handler for files, folders and shortcuts. It adds "Using Orlin to
// Synchronize" between two separators and hands the first selected path to
// the running Orlin (shellext/hand_over.h).
//
// One instance per Explorer request, created by the class factory, plain or
// aggregated; its interfaces in the order of its table: IRavelContextMenu
// and IDispatch (one dispatch implementation over the type library),
// IShellExtInit, IContextMenu.
//
// Threads: Explorer calls an instance on its apartment thread (the class
// is registered "Apartment"); instances share nothing.

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "ravel_h.h"

namespace orlin::ravel::win32 {

class CRavelContextMenu final : public IRavelContextMenu, public IShellExtInit, public IContextMenu {
 public:
  // The factory's creation: `outer` null for a plain object. Queries the new
  // object for `iid` and destroys it again when that fails.
  static HRESULT Create(IUnknown* outer, REFIID iid, void** out);

  // IUnknown: to the outer object when aggregated, else to our own.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return outer_->QueryInterface(iid, out); }
  STDMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return outer_->Release(); }

  // IDispatch over the type library's IRavelContextMenu.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override;

  // IShellExtInit: the first item of the selection.
  STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY key) override;

  // IContextMenu.
  STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT firstCommand, UINT lastCommand, UINT flags) override;
  STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
  STDMETHODIMP GetCommandString(UINT_PTR command, UINT flags, UINT* reserved, CHAR* name, UINT size) override;

 private:
  // The object's own IUnknown, which an outer object holds.
  class OwnUnknown final : public IUnknown {
   public:
    explicit OwnUnknown(CRavelContextMenu& self) : self_(self) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

   private:
    CRavelContextMenu& self_;
  };

  explicit CRavelContextMenu(IUnknown* outer);
  ~CRavelContextMenu();
  CRavelContextMenu(const CRavelContextMenu&) = delete;
  CRavelContextMenu& operator=(const CRavelContextMenu&) = delete;

  HRESULT LoadTypeInfo();

  OwnUnknown own_{*this};
  IUnknown* outer_;
  volatile LONG refs_ = 0;
  // The first selected item; any length the shell hands over.
  std::wstring selectedPath_;
  std::wstring extensionDirectory_;
  std::wstring language_ = L"zh_cn";
  HBITMAP menuBitmap_ = nullptr;
  ITypeInfo* typeInfo_ = nullptr;
};

}  // namespace orlin::ravel::win32
