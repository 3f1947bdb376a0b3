#include "shellext/win32/win32_registry.h"

namespace orlin::ravel::win32 {
namespace {

class Key {
 public:
  Key(HKEY root, const std::wstring& path, REGSAM access) {
    error_ = ::RegOpenKeyExW(root, path.c_str(), 0, access, &key_);
    if (error_ != ERROR_SUCCESS) key_ = nullptr;
  }
  ~Key() {
    if (key_) ::RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return key_; }
  long error() const { return error_; }

 private:
  HKEY key_ = nullptr;
  long error_ = 0;
};

const wchar_t* ValueName(const std::wstring& name) { return name.empty() ? nullptr : name.c_str(); }

}  // namespace

bool Win32Registry::KeyExists(const std::wstring& key) { return Key(root_, key, KEY_READ).get() != nullptr; }

long Win32Registry::CreateKey(const std::wstring& key) {
  HKEY created = nullptr;
  const long error =
      ::RegCreateKeyExW(root_, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &created, nullptr);
  if (created) ::RegCloseKey(created);
  return error;
}

long Win32Registry::SetString(const std::wstring& key, const std::wstring& name, const std::wstring& value) {
  Key k(root_, key, KEY_SET_VALUE);
  if (!k.get()) return k.error();
  return ::RegSetValueExW(k.get(), ValueName(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

long Win32Registry::SetNumber(const std::wstring& key, const std::wstring& name, std::uint32_t value) {
  Key k(root_, key, KEY_SET_VALUE);
  if (!k.get()) return k.error();
  const DWORD number = value;
  return ::RegSetValueExW(k.get(), ValueName(name), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                          sizeof number);
}

long Win32Registry::DeleteValue(const std::wstring& key, const std::wstring& name) {
  Key k(root_, key, KEY_SET_VALUE);
  if (!k.get()) return k.error() == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : k.error();
  const long error = ::RegDeleteValueW(k.get(), ValueName(name));
  return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

long Win32Registry::DeleteTree(const std::wstring& key) {
  // RegDeleteTreeW on the key empties it; the key itself goes with
  // RegDeleteKeyW from its parent.
  {
    Key k(root_, key, KEY_ALL_ACCESS);
    if (!k.get()) return k.error() == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : k.error();
    const long error = ::RegDeleteTreeW(k.get(), nullptr);
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) return error;
  }
  const long error = ::RegDeleteKeyW(root_, key.c_str());
  return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

bool Win32Registry::IsEmpty(const std::wstring& key) {
  Key k(root_, key, KEY_READ);
  if (!k.get()) return true;
  DWORD subkeys = 0, values = 0;
  if (::RegQueryInfoKeyW(k.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return subkeys == 0 && values == 0;
}

}  // namespace orlin::ravel::win32
