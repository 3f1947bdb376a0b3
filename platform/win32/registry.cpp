// The Windows registry behind CRegistry: every open and create asks for full
// access in the 64-bit view, and strings are REG_SZ with the terminating NUL
// counted in the data size.

#include "platform/registry.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace orlin::platform {
namespace {

constexpr REGSAM kAccess = KEY_ALL_ACCESS | KEY_WOW64_64KEY;

HKEY RootHandle(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kLocalMachine: return HKEY_LOCAL_MACHINE;
    case RegistryRoot::kClassesRoot: return HKEY_CLASSES_ROOT;
    case RegistryRoot::kCurrentUser: break;
  }
  return HKEY_CURRENT_USER;
}

// Reads need a 200-byte buffer: 99 characters and the terminator.
constexpr DWORD kReadBufferBytes = (kRegistryMaxReadChars + 1) * sizeof(wchar_t) + sizeof(wchar_t);

}  // namespace

struct CRegistry::Impl {
  HKEY root = HKEY_CURRENT_USER;
  HKEY current = nullptr;

  HKEY Base() const { return current != nullptr ? current : root; }
  void Replace(HKEY key) {
    if (current != nullptr) ::RegCloseKey(current);
    current = key;
  }
};

CRegistry::CRegistry(RegistryRoot root, RegistryLocation /*location*/) : impl_(std::make_unique<Impl>()) {
  impl_->root = RootHandle(root);
}

CRegistry::~CRegistry() { Close(); }

bool CRegistry::CreateKey(std::wstring_view subKey) {
  const std::wstring name(subKey);
  HKEY key = nullptr;
  if (::RegCreateKeyExW(impl_->Base(), name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kAccess, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  impl_->Replace(key);
  return true;
}

bool CRegistry::OpenKey(std::wstring_view subKey) {
  const std::wstring name(subKey);
  HKEY key = nullptr;
  if (::RegOpenKeyExW(impl_->Base(), name.c_str(), 0, kAccess, &key) != ERROR_SUCCESS) return false;
  impl_->Replace(key);
  return true;
}

void CRegistry::Close() { impl_->Replace(nullptr); }

bool CRegistry::IsOpen() const { return impl_->current != nullptr; }

bool CRegistry::WriteString(std::wstring_view valueName, std::wstring_view text) {
  if (impl_->current == nullptr) return false;
  const std::wstring name(valueName);
  const std::wstring data(text);
  const DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));  // NUL included
  return ::RegSetValueExW(impl_->current, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          bytes) == ERROR_SUCCESS;
}

bool CRegistry::ReadString(std::wstring_view valueName, std::wstring& text) {
  if (impl_->current == nullptr) return false;
  const std::wstring name(valueName);
  wchar_t buffer[kReadBufferBytes / sizeof(wchar_t)] = {};
  DWORD type = 0;
  DWORD bytes = (kRegistryMaxReadChars + 1) * sizeof(wchar_t);
  if (::RegQueryValueExW(impl_->current, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
      ERROR_SUCCESS) {
    return false;  // includes ERROR_MORE_DATA: longer than the buffer
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  // The stored data may or may not carry its terminator; the buffer was
  // cleared, so the text ends at the first NUL either way.
  std::size_t chars = bytes / sizeof(wchar_t);
  while (chars > 0 && buffer[chars - 1] == L'\0') --chars;
  if (chars > kRegistryMaxReadChars) return false;
  text.assign(buffer, chars);
  return true;
}

bool CRegistry::DeleteValue(std::wstring_view valueName) {
  if (impl_->current == nullptr) return false;
  const std::wstring name(valueName);
  return ::RegDeleteValueW(impl_->current, name.c_str()) == ERROR_SUCCESS;
}

bool CRegistry::DeleteKey(std::wstring_view subKey) {
  const std::wstring name(subKey);
  // Deletes the key itself together with everything below it. HKEY_CURRENT_USER
  // is shared by both registry views, so no view flag is needed here.
  if (::RegDeleteTreeW(impl_->Base(), name.c_str()) != ERROR_SUCCESS) {
    std::printf("删除%ls项失败\n", name.c_str());
  }
  return true;
}

std::filesystem::path CRegistry::StoreDirectory(const RegistryLocation& /*location*/) { return {}; }

}  // namespace orlin::platform
