// Pictures Ravel's entry in a real context menu, for the eye: loads the DLL
// given, builds a menu as Explorer would (a few items of its own, Ravel's at
// the offered position), opens it with TrackPopupMenu and saves what the
// screen shows of it as a 24-bit BMP. Runs under Wine on a virtual display.
//
//   ravel_menu_shot RAVEL.DLL SELECTED-PATH OUT.bmp
//
// The entry's language is the one of lang.xml beside the DLL.

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ravel_h.h"

namespace {

std::wstring g_out;
bool g_saved = false;

// A data object holding a CF_HDROP of one path.
class OnePath final : public IDataObject {
 public:
  explicit OnePath(std::wstring path) : path_(std::move(path)) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDataObject) ? this : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (format->cfFormat != CF_HDROP) return DV_E_FORMATETC;
    const std::wstring list = path_ + L'\0' + L'\0';
    HGLOBAL memory = ::GlobalAlloc(GHND, sizeof(DROPFILES) + list.size() * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::memcpy(drop + 1, list.data(), list.size() * sizeof(wchar_t));
    ::GlobalUnlock(memory);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC*) override { return S_OK; }
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

 private:
  std::wstring path_;
};

// The open menu's window as a 24-bit bottom-up BMP.
bool SaveMenu(const std::wstring& file) {
  HWND menu = ::FindWindowW(L"#32768", nullptr);
  if (!menu) return false;
  RECT r{};
  ::GetWindowRect(menu, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  ::SelectObject(memory, old);
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const int stride = (width * 3 + 3) & ~3;
  std::vector<char> pixels(static_cast<std::size_t>(stride) * height);
  ::GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof header + sizeof info;
  header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
  std::ofstream out(std::filesystem::path(file), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(reinterpret_cast<const char*>(&info), sizeof info);
  out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
  return static_cast<bool>(out);
}

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER) {
    ::KillTimer(window, 1);
    g_saved = SaveMenu(g_out);
    ::EndMenu();
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

template <class F>
F Export(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argc != 4) return 2;
  g_out = argv[3];
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HMODULE dll = ::LoadLibraryW(argv[1]);
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto getClassObject = dll ? Export<GetClassObject>(dll, "DllGetClassObject") : nullptr;
  IClassFactory* factory = nullptr;
  if (!getClassObject || FAILED(getClassObject(CLSID_RavelContextMenu, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) {
    return 1;
  }
  IShellExtInit* init = nullptr;
  factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init));
  OnePath data(argv[2]);
  if (!init || FAILED(init->Initialize(nullptr, &data, nullptr))) return 1;
  IContextMenu* handler = nullptr;
  init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&handler));

  HMENU menu = ::CreatePopupMenu();
  ::AppendMenuW(menu, MF_STRING, 1, L"&Open");
  ::AppendMenuW(menu, MF_STRING, 2, L"Open &with...");
  ::AppendMenuW(menu, MF_STRING, 3, L"Cu&t");
  ::AppendMenuW(menu, MF_STRING, 4, L"&Copy");
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING, 5, L"P&roperties");
  handler->QueryContextMenu(menu, 2, 100, 200, CMF_NORMAL);

  WNDCLASSW wc{};
  wc.lpfnWndProc = OwnerProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"RavelMenuShot";
  ::RegisterClassW(&wc);
  HWND owner = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
  ::ShowWindow(owner, SW_SHOW);
  ::SetForegroundWindow(owner);
  ::SetTimer(owner, 1, 1500, nullptr);
  ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN, 40, 40, 0, owner, nullptr);
  handler->Release();
  init->Release();
  factory->Release();
  return g_saved ? 0 : 1;
}
