// Stands in for Orlin in the handler's test, in a process of its own:
//
//   ravel_test_window --window RECORD [--login]
//     makes a top-level window of class "UIOrlinFrameWnd" titled "Orlin"
//     (and, with --login, one of class "UILoginWnd"), appends every path it
//     receives by WM_COPYDATA to RECORD as a UTF-8 line "cb=<cbData> <path>"
//     and answers 1; ends on WM_CLOSE or after two minutes.
//   anything else: started as "Tarn Cloud.exe" by the handler; writes its
//     command line and working directory to "started.txt" beside itself.

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::wstring g_record;

void Append(const std::wstring& file, const std::wstring& line) {
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0,
                                          nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8.data(), bytes, nullptr, nullptr);
  utf8.push_back('\n');
  HANDLE h = ::CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(h, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  ::CloseHandle(h);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    std::wstring path;
    const auto* units = static_cast<const wchar_t*>(data->lpData);
    for (DWORD i = 0; units && i < data->cbData / sizeof(wchar_t) && units[i] != 0; ++i) path.push_back(units[i]);
    Append(g_record, L"cb=" + std::to_wstring(data->cbData) + L" " + path);
    return 1;
  }
  if (message == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeWindow(HINSTANCE instance, const wchar_t* windowClass, const wchar_t* title) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = windowClass;
  ::RegisterClassW(&wc);
  return ::CreateWindowExW(0, windowClass, title, WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, instance, nullptr);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argc >= 3 && std::wstring(argv[1]) == L"--window") {
    g_record = argv[2];
    const bool login = argc >= 4 && std::wstring(argv[3]) == L"--login";
    if (!MakeWindow(instance, L"UIOrlinFrameWnd", L"Orlin")) return 1;
    if (login && !MakeWindow(instance, L"UILoginWnd", L"Orlin")) return 1;
    ::SetTimer(nullptr, 0, 120000, nullptr);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (msg.message == WM_TIMER && msg.hwnd == nullptr) break;
      ::DispatchMessageW(&msg);
    }
    return 0;
  }
  wchar_t self[MAX_PATH * 4];
  const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
  std::wstring dir(self, n);
  dir = dir.substr(0, dir.find_last_of(L'\\') + 1);
  wchar_t cwd[MAX_PATH * 4];
  ::GetCurrentDirectoryW(MAX_PATH * 4, cwd);
  std::wstring record = L"args=" + std::to_wstring(argc - 1);
  for (int i = 1; i < argc; ++i) record += L"\nargv=" + std::wstring(argv[i]);
  record += L"\ncwd=" + std::wstring(cwd);
  Append(dir + L"started.txt", record);
  return 0;
}
