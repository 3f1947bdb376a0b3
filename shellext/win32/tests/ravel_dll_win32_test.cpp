// Ravel.dll as Windows uses it: regsvr32 and DllInstall "user" write and
// remove exactly the keys of the handler (read back with reg query); the
// handler made through CoCreateInstance takes a CF_HDROP of several files,
// fills a real menu, answers its help texts in both languages and widths,
// and InvokeCommand hands the first path whole to a window of class
// "UIOrlinFrameWnd" in another process, or starts "Tarn Cloud.exe" beside the
// DLL when there is none.

#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/text.h"
#include "ravel_h.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr wchar_t kClsid[] = L"{0bb7e4b6-4c48-4dd1-930d-0b8adb1ec9d6}";
constexpr wchar_t kLibid[] = L"{41d21a68-def8-4d2c-840e-41f2f74725e7}";
constexpr auto kDeadline = 120s;

// A path of the build tree as Windows (Wine) names it.
std::wstring WindowsPath(const char* unixPath) {
  std::wstring path = orlin::Utf8ToWide(unixPath);
  if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

struct Run {
  DWORD exitCode = 0xFFFFFFFF;
  std::string out;
};

// Runs a command line and collects its output.
Run RunProgram(std::wstring commandLine) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readPipe = nullptr, writePipe = nullptr;
  ::CreatePipe(&readPipe, &writePipe, &inherit, 0);
  ::SetHandleInformation(readPipe, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writePipe;
  si.hStdError = writePipe;
  si.hStdInput = nullptr;
  PROCESS_INFORMATION pi{};
  Run run;
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                        &pi)) {
    ::CloseHandle(readPipe);
    ::CloseHandle(writePipe);
    run.out = "cannot start";
    return run;
  }
  ::CloseHandle(writePipe);
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(readPipe, buffer, sizeof buffer, &got, nullptr) && got > 0) run.out.append(buffer, got);
  ::WaitForSingleObject(pi.hProcess, 120000);
  ::GetExitCodeProcess(pi.hProcess, &run.exitCode);
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(readPipe);
  return run;
}

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

// An export by name as the function type it has.
template <class F>
F Export(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// What reg query says about a key and everything below it; empty when the
// key does not exist.
std::string RegQuery(const std::wstring& key) {
  Run run = RunProgram(L"reg.exe query " + Quoted(key) + L" /s");
  return run.exitCode == 0 ? run.out : std::string();
}

std::string ReadUtf8(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class RavelDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  static void TearDownTestSuite() { ::CoUninitialize(); }

  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    static int run = 0;
    dir = fs::path(temp) /
          (L"ravel-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++run) + L" dir");
    fs::create_directories(dir);
    dll = dir / L"Ravel.dll";
    fs::copy_file(WindowsPath(ORLIN_RAVEL_DLL), dll, fs::copy_options::overwrite_existing);
  }
  void TearDown() override {
    Regsvr(L"/u /s");
    // Let go of the DLL COM loaded, so its folder can go.
    ::CoFreeUnusedLibrariesEx(0, 0);
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  DWORD Regsvr(const std::wstring& options) {
    return RunProgram(L"regsvr32.exe " + options + L" " + Quoted(dll.wstring())).exitCode;
  }

  // The helper's window in a process of its own, found by its class.
  PROCESS_INFORMATION StartWindow(const fs::path& record, bool login) {
    std::wstring command = Quoted(WindowsPath(ORLIN_RAVEL_TEST_WINDOW)) + L" --window " + Quoted(record.wstring());
    if (login) command += L" --login";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    EXPECT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!(::FindWindowW(L"UIOrlinFrameWnd", L"Orlin") && (!login || ::FindWindowW(L"UILoginWnd", nullptr)))) {
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "the stand-in's window never appeared";
        break;
      }
      std::this_thread::sleep_for(20ms);
    }
    return pi;
  }

  void EndWindow(PROCESS_INFORMATION& pi) {
    if (HWND w = ::FindWindowW(L"UIOrlinFrameWnd", L"Orlin")) ::PostMessageW(w, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) ::TerminateProcess(pi.hProcess, 1);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(pi.hThread);
  }

  fs::path dir, dll;
};

// --------------------------------------------------------------- exports

TEST_F(RavelDll, ExportsExactlyTheFiveEntryPoints) {
  HMODULE module = ::LoadLibraryW(dll.c_str());
  ASSERT_NE(module, nullptr);
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const auto& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  ASSERT_NE(entry.VirtualAddress, 0u);
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  std::vector<std::string> found;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) found.emplace_back(reinterpret_cast<const char*>(base + names[i]));
  EXPECT_EQ(found, (std::vector<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllInstall", "DllRegisterServer",
                                             "DllUnregisterServer"}));
  EXPECT_EQ(exports->NumberOfFunctions, 5u);

  // The class factory's rules, straight through the export.
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
  auto getClassObject = Export<GetClassObject>(module, "DllGetClassObject");
  auto canUnload = Export<CanUnloadNow>(module, "DllCanUnloadNow");
  ASSERT_TRUE(getClassObject && canUnload);
  EXPECT_EQ(getClassObject(CLSID_RavelContextMenu, IID_IClassFactory, nullptr), E_POINTER);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject(IID_IUnknown, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr) << "the out pointer is cleared";
  EXPECT_EQ(getClassObject(CLSID_RavelContextMenu, IID_IContextMenu, &out), E_NOINTERFACE);
  EXPECT_EQ(canUnload(), S_OK) << "the cached factory alone does not hold the DLL";

  IClassFactory* factory = nullptr;
  ASSERT_EQ(getClassObject(CLSID_RavelContextMenu, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(canUnload(), S_FALSE) << "an outside reference to the factory holds the DLL";
  IClassFactory* again = nullptr;
  ASSERT_EQ(getClassObject(CLSID_RavelContextMenu, IID_IUnknown, reinterpret_cast<void**>(&again)), S_OK);
  EXPECT_EQ(again, factory) << "one factory per process";
  again->Release();

  // Aggregation: only IUnknown may be asked for, and the inner object's
  // interfaces count their references on the outer one.
  struct Outer : IUnknown {
    LONG refs = 1;
    STDMETHODIMP QueryInterface(REFIID, void** p) override {
      *p = nullptr;
      return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
  } outer;
  void* refused = nullptr;
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IContextMenu, &refused), CLASS_E_NOAGGREGATION);
  IUnknown* inner = nullptr;
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  IContextMenu* menu = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
  EXPECT_EQ(outer.refs, 2) << "the interface's reference went to the outer object";
  IUnknown* viaMenu = nullptr;
  EXPECT_EQ(menu->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaMenu)), E_NOINTERFACE)
      << "the aggregated interfaces ask the outer object";
  menu->Release();
  EXPECT_EQ(outer.refs, 1);
  inner->Release();
  factory->Release();
  EXPECT_EQ(canUnload(), S_OK);
  ::FreeLibrary(module);
}

// --------------------------------------------------------------- registration

TEST_F(RavelDll, Regsvr32WritesTheHandlersKeysAndRemovesOnlyThem) {
  const std::wstring classes = L"HKLM\\Software\\Classes\\";
  ASSERT_EQ(Regsvr(L"/s"), 0u);
  ASSERT_EQ(Regsvr(L"/s"), 0u) << "registering twice";

  const std::string clsid = RegQuery(classes + L"CLSID\\" + kClsid);
  EXPECT_NE(clsid.find("RavelContextMenu class"), std::string::npos) << clsid;
  EXPECT_NE(clsid.find("Programmable"), std::string::npos) << clsid;
  EXPECT_NE(clsid.find("Apartment"), std::string::npos) << clsid;
  EXPECT_NE(clsid.find(orlin::WideToUtf8(dll.wstring())), std::string::npos) << "InprocServer32 names the DLL: " << clsid;
  EXPECT_NE(clsid.find(orlin::WideToUtf8(kLibid)), std::string::npos) << clsid;
  EXPECT_NE(clsid.find("1.0"), std::string::npos) << clsid;
  for (const wchar_t* handler : {L"*\\ShellEx\\ContextMenuHandlers\\Ravel", L"Folder\\ShellEx\\ContextMenuHandlers\\Ravel",
                                 L"lnkfile\\ShellEx\\ContextMenuHandlers\\DODEdezUroZiv"}) {
    const std::string text = RegQuery(classes + handler);
    EXPECT_NE(text.find("{0bb7e4b6-4c48-4dd1-930d-0b8adb1ec9d6}"), std::string::npos) << orlin::WideToUtf8(handler);
  }
  EXPECT_FALSE(RegQuery(classes + L"TypeLib\\" + kLibid).empty()) << "the type library is registered";
  EXPECT_TRUE(RegQuery(L"HKCU\\Software\\Classes\\CLSID\\" + std::wstring(kClsid)).empty()) << "machine-wide only";

  ASSERT_EQ(Regsvr(L"/u /s"), 0u);
  ASSERT_EQ(Regsvr(L"/u /s"), 0u) << "unregistering twice";
  EXPECT_TRUE(RegQuery(classes + L"CLSID\\" + kClsid).empty());
  EXPECT_TRUE(RegQuery(classes + L"TypeLib\\" + kLibid).empty());
  EXPECT_TRUE(RegQuery(classes + L"*\\ShellEx\\ContextMenuHandlers\\Ravel").empty());
  EXPECT_TRUE(RegQuery(classes + L"Folder\\ShellEx\\ContextMenuHandlers\\Ravel").empty());
  EXPECT_TRUE(RegQuery(classes + L"lnkfile\\ShellEx\\ContextMenuHandlers\\DODEdezUroZiv").empty());
  for (const wchar_t* shared : {L"CLSID", L"*\\ShellEx\\ContextMenuHandlers", L"Folder\\ShellEx\\ContextMenuHandlers",
                                L"lnkfile\\ShellEx\\ContextMenuHandlers"}) {
    EXPECT_EQ(RunProgram(L"reg.exe query " + Quoted(classes + shared)).exitCode, 0u)
        << orlin::WideToUtf8(shared) << " is shared and stays";
  }
  // The DLL's own keys are all gone, wherever they were.
  EXPECT_EQ(RegQuery(classes + L"CLSID").find("0bb7e4b6"), std::string::npos);
}

TEST_F(RavelDll, DllInstallUserRegistersForTheCurrentUserOnly) {
  const std::wstring user = L"HKCU\\Software\\Classes\\";
  const std::wstring machine = L"HKLM\\Software\\Classes\\";
  ASSERT_EQ(Regsvr(L"/s /n /i:user"), 0u);
  const std::string clsid = RegQuery(user + L"CLSID\\" + kClsid);
  EXPECT_NE(clsid.find("RavelContextMenu class"), std::string::npos) << clsid;
  EXPECT_FALSE(RegQuery(user + L"lnkfile\\ShellEx\\ContextMenuHandlers\\DODEdezUroZiv").empty());
  EXPECT_FALSE(RegQuery(user + L"TypeLib\\" + kLibid).empty());
  EXPECT_TRUE(RegQuery(machine + L"CLSID\\" + kClsid).empty()) << "nothing machine-wide";
  ASSERT_EQ(Regsvr(L"/u /s /n /i:user"), 0u);
  EXPECT_TRUE(RegQuery(user + L"CLSID\\" + kClsid).empty());
  EXPECT_TRUE(RegQuery(user + L"TypeLib\\" + kLibid).empty());
  EXPECT_TRUE(RegQuery(user + L"Folder\\ShellEx\\ContextMenuHandlers\\Ravel").empty());

  // The command line is compared whole, in any letter case.
  HMODULE module = ::LoadLibraryW(dll.c_str());
  ASSERT_NE(module, nullptr);
  using Install = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
  auto install = Export<Install>(module, "DllInstall");
  ASSERT_NE(install, nullptr);
  EXPECT_EQ(install(TRUE, L"USER"), S_OK);
  EXPECT_FALSE(RegQuery(user + L"CLSID\\" + kClsid).empty());
  EXPECT_TRUE(RegQuery(machine + L"CLSID\\" + kClsid).empty());
  EXPECT_EQ(install(FALSE, L"User"), S_OK);
  EXPECT_TRUE(RegQuery(user + L"CLSID\\" + kClsid).empty());
  EXPECT_EQ(install(TRUE, L"users"), S_OK);
  EXPECT_FALSE(RegQuery(machine + L"CLSID\\" + kClsid).empty()) << "a longer word registers machine-wide";
  EXPECT_TRUE(RegQuery(user + L"CLSID\\" + kClsid).empty());
  EXPECT_EQ(install(FALSE, nullptr), S_OK);
  EXPECT_TRUE(RegQuery(machine + L"CLSID\\" + kClsid).empty());
  ::FreeLibrary(module);
}

// --------------------------------------------------------------- the handler

// A data object with a real CF_HDROP: DROPFILES with wide names in global
// memory, a fresh copy for every GetData, as the shell hands them out.
class DropData final : public IDataObject {
 public:
  explicit DropData(std::vector<std::wstring> files) : files_(std::move(files)) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDataObject)) {
      *out = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }
  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (format->cfFormat != CF_HDROP || !(format->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
    std::wstring list;
    for (const auto& f : files_) list += f + L'\0';
    list += L'\0';
    const SIZE_T bytes = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
    HGLOBAL memory = ::GlobalAlloc(GHND, bytes);
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::memcpy(reinterpret_cast<BYTE*>(drop) + sizeof(DROPFILES), list.data(), list.size() * sizeof(wchar_t));
    ::GlobalUnlock(memory);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC* format) override { return format->cfFormat == CF_HDROP ? S_OK : S_FALSE; }
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    out->ptd = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  std::vector<std::wstring> files_;
  LONG refs_ = 1;
};

class RavelHandler : public RavelDll {
 protected:
  void SetUp() override {
    RavelDll::SetUp();
    ASSERT_EQ(Regsvr(L"/s"), 0u);
    // A folder and a file whose names hold characters outside any code
    // page; the file's path has 259 characters.
    folder = (dir / L"同步 ü \U0001F600 folder").wstring();
    fs::create_directories(folder);
    const std::wstring base = (dir / L"同步 ü \U0001F600 ").wstring();
    longFile = base + std::wstring(259 - base.size() - 4, L'f') + L".txt";
    std::ofstream(fs::path(longFile)) << "z";
    ASSERT_EQ(longFile.size(), 259u);
    ASSERT_TRUE(fs::exists(longFile));
    file = (dir / L"a file.txt").wstring();
    std::ofstream(fs::path(file)) << "x";
    other = (dir / L"other.txt").wstring();
    std::ofstream(fs::path(other)) << "y";
  }

  IContextMenu* Handler(const std::vector<std::wstring>& selection) {
    IShellExtInit* init = nullptr;
    HRESULT created = ::CoCreateInstance(CLSID_RavelContextMenu, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                         reinterpret_cast<void**>(&init));
    EXPECT_EQ(created, S_OK);
    if (FAILED(created)) return nullptr;
    DropData data(selection);
    EXPECT_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);
    IContextMenu* menu = nullptr;
    EXPECT_EQ(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    init->Release();
    return menu;
  }

  std::wstring HelpText(IContextMenu* menu, UINT flags) {
    wchar_t wide[512] = {};
    if (FAILED(menu->GetCommandString(0, flags, nullptr, reinterpret_cast<CHAR*>(wide), 512))) return L"<failed>";
    return wide;
  }

  std::wstring folder, longFile, file, other;
};

TEST_F(RavelHandler, AnswersItsInterfacesThroughCoCreateInstance) {
  IUnknown* object = nullptr;
  ASSERT_EQ(::CoCreateInstance(CLSID_RavelContextMenu, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
            S_OK);
  for (const IID* iid : {&IID_IRavelContextMenu, &IID_IDispatch, &IID_IShellExtInit, &IID_IContextMenu}) {
    IUnknown* p = nullptr;
    EXPECT_EQ(object->QueryInterface(*iid, reinterpret_cast<void**>(&p)), S_OK);
    if (p) p->Release();
  }
  IUnknown* none = nullptr;
  EXPECT_EQ(object->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&none)), E_NOINTERFACE);
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  UINT count = 0;
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ITypeInfo* info = nullptr;
  ASSERT_EQ(dispatch->GetTypeInfo(0, 0, &info), S_OK) << "the type library is read from the DLL";
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IRavelContextMenu));
  info->ReleaseTypeAttr(attr);
  info->Release();
  dispatch->Release();
  object->Release();

  // Nothing selected: no entry.
  IShellExtInit* init = nullptr;
  ASSERT_EQ(::CoCreateInstance(CLSID_RavelContextMenu, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                               reinterpret_cast<void**>(&init)),
            S_OK);
  DropData empty({});
  EXPECT_EQ(init->Initialize(nullptr, &empty, nullptr), E_INVALIDARG);
  init->Release();
}

TEST_F(RavelHandler, FillsTheMenuBetweenSeparatorsAndAnswersHelpTextsInBothLanguages) {
  IContextMenu* menu = Handler({folder, file, other});
  ASSERT_NE(menu, nullptr);
  HMENU popup = ::CreatePopupMenu();
  ::AppendMenuW(popup, MF_STRING, 1, L"Open");
  ::AppendMenuW(popup, MF_STRING, 2, L"Properties");

  EXPECT_EQ(menu->QueryContextMenu(popup, 1, 100, 200, CMF_DEFAULTONLY), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0));
  EXPECT_EQ(::GetMenuItemCount(popup), 2) << "nothing for default verbs only";

  // No lang.xml beside the DLL: Chinese.
  EXPECT_EQ(menu->QueryContextMenu(popup, 1, 100, 200, CMF_NORMAL), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
  ASSERT_EQ(::GetMenuItemCount(popup), 5);
  EXPECT_EQ(::GetMenuState(popup, 1, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
  EXPECT_EQ(::GetMenuItemID(popup, 2), 100u);
  wchar_t text[128] = {};
  ::GetMenuStringW(popup, 2, text, 128, MF_BYPOSITION);
  EXPECT_EQ(std::wstring(text), L"使用 Orlin 同步");
  EXPECT_EQ(::GetMenuState(popup, 3, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
  MENUITEMINFOW item{};
  item.cbSize = sizeof item;
  item.fMask = MIIM_CHECKMARKS;
  ASSERT_TRUE(::GetMenuItemInfoW(popup, 2, TRUE, &item));
  EXPECT_NE(item.hbmpUnchecked, nullptr) << "the entry has its bitmap";
  EXPECT_EQ(item.hbmpChecked, item.hbmpUnchecked);
  ::GetMenuStringW(popup, 4, text, 128, MF_BYPOSITION);
  EXPECT_EQ(std::wstring(text), L"Properties");

  // The first item is a folder.
  EXPECT_EQ(HelpText(menu, GCS_HELPTEXTW), L"将该文件夹复制到Tarn Cloud 同步文件夹里进行自动同步");
  EXPECT_EQ(HelpText(menu, GCS_VERBW), L"将该文件夹复制到Tarn Cloud 同步文件夹里进行自动同步");
  char ansi[512] = {};
  EXPECT_EQ(menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, ansi, 512), S_OK);
  EXPECT_GT(std::strlen(ansi), 10u) << "converted to the thread's code page";
  EXPECT_EQ(menu->GetCommandString(0, GCS_VERBA, nullptr, ansi, 512), E_INVALIDARG);
  EXPECT_EQ(menu->GetCommandString(1, GCS_HELPTEXTW, nullptr, ansi, 512), E_INVALIDARG);
  // A small buffer gets what fits, terminated.
  wchar_t small[8];
  EXPECT_EQ(menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<CHAR*>(small), 8), S_OK);
  EXPECT_EQ(std::wstring(small), std::wstring(L"将该文件夹复制到").substr(0, 7));
  menu->Release();
  ::DestroyMenu(popup);

  // lang.xml "en": English, and "file" for a file.
  std::ofstream(dir / L"lang.xml") << "<?xml version=\"1.0\"?><Orlin><lang>en</lang></Orlin>";
  menu = Handler({file, folder});
  ASSERT_NE(menu, nullptr);
  popup = ::CreatePopupMenu();
  EXPECT_EQ(menu->QueryContextMenu(popup, 0, 7, 7, CMF_NORMAL), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
  ::GetMenuStringW(popup, 1, text, 128, MF_BYPOSITION);
  EXPECT_EQ(std::wstring(text), L"Using Orlin to Synchronize");
  EXPECT_EQ(HelpText(menu, GCS_HELPTEXTW), L"Copy the file to the Tarn Cloud Synchro Folder for automatic synchronization");
  EXPECT_EQ(menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, ansi, 512), S_OK);
  EXPECT_EQ(std::string(ansi), "Copy the file to the Tarn Cloud Synchro Folder for automatic synchronization");
  menu->Release();
  ::DestroyMenu(popup);
}

TEST_F(RavelHandler, InvokeCommandHandsTheFirstPathWholeToTheMainWindow) {
  const fs::path record = dir / L"received.txt";
  PROCESS_INFORMATION window = StartWindow(record, false);
  IContextMenu* menu = Handler({longFile, folder, other});
  ASSERT_NE(menu, nullptr);
  HMENU popup = ::CreatePopupMenu();
  menu->QueryContextMenu(popup, 0, 1, 1, CMF_NORMAL);

  CMINVOKECOMMANDINFO verb{};
  verb.cbSize = sizeof verb;
  verb.lpVerb = "open";
  EXPECT_EQ(menu->InvokeCommand(&verb), E_INVALIDARG) << "a verb string is not ours";
  verb.lpVerb = MAKEINTRESOURCEA(1);
  EXPECT_EQ(menu->InvokeCommand(&verb), E_INVALIDARG) << "another offset is not ours";
  EXPECT_FALSE(fs::exists(record));

  CMINVOKECOMMANDINFO info{};
  info.cbSize = sizeof info;
  info.lpVerb = MAKEINTRESOURCEA(0);
  // Synchronous: the window has answered when InvokeCommand returns.
  EXPECT_EQ(menu->InvokeCommand(&info), S_OK);
  const std::string received = ReadUtf8(record);
  EXPECT_EQ(received, "cb=" + std::to_string((longFile.size() + 1) * 2) + " " + orlin::WideToUtf8(longFile) + "\n")
      << "only the first item, whole, with its terminator";
  menu->Release();
  ::DestroyMenu(popup);
  EndWindow(window);
}

TEST_F(RavelHandler, NothingReachesOrlinWhileItsLoginWindowShows) {
  const fs::path record = dir / L"received.txt";
  PROCESS_INFORMATION window = StartWindow(record, true);
  IContextMenu* menu = Handler({file});
  ASSERT_NE(menu, nullptr);
  CMINVOKECOMMANDINFO info{};
  info.cbSize = sizeof info;
  info.lpVerb = MAKEINTRESOURCEA(0);
  EXPECT_EQ(menu->InvokeCommand(&info), S_OK);
  EXPECT_FALSE(fs::exists(record)) << ReadUtf8(record);
  EXPECT_FALSE(fs::exists(dir / L"started.txt")) << "nothing started either";
  menu->Release();
  EndWindow(window);
}

TEST_F(RavelHandler, WithoutOrlinRunningTarnCloudIsStartedBesideTheDllWithThePath) {
  ASSERT_EQ(::FindWindowW(L"UIOrlinFrameWnd", L"Orlin"), nullptr);
  fs::copy_file(WindowsPath(ORLIN_RAVEL_TEST_WINDOW), dir / L"Tarn Cloud.exe");
  IContextMenu* menu = Handler({folder});
  ASSERT_NE(menu, nullptr);
  CMINVOKECOMMANDINFO info{};
  info.cbSize = sizeof info;
  info.lpVerb = MAKEINTRESOURCEA(0);
  EXPECT_EQ(menu->InvokeCommand(&info), S_OK);
  const fs::path started = dir / L"started.txt";
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (ReadUtf8(started).find("cwd=") == std::string::npos && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(50ms);
  }
  std::wstring directory = dir.wstring();
  const std::string text = ReadUtf8(started);
  EXPECT_EQ(text, "args=1\nargv=" + orlin::WideToUtf8(folder) + "\ncwd=" + orlin::WideToUtf8(directory) + "\n")
      << "the path arrives as one argument, however many blanks it holds";
  menu->Release();

  // A start that fails is not reported.
  fs::remove(dir / L"Tarn Cloud.exe");
  menu = Handler({folder});
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->InvokeCommand(&info), S_OK);
  menu->Release();
}

}  // namespace
