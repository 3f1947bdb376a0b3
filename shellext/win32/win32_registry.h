#pragma once
// The registrar's registry on Windows: the keys below one open root key.

#include <windows.h>

#include "shellext/registry_script.h"

namespace orlin::ravel::win32 {

class Win32Registry final : public RegistryEditor {
 public:
  explicit Win32Registry(HKEY root) : root_(root) {}
  bool KeyExists(const std::wstring& key) override;
  long CreateKey(const std::wstring& key) override;
  long SetString(const std::wstring& key, const std::wstring& name, const std::wstring& value) override;
  long SetNumber(const std::wstring& key, const std::wstring& name, std::uint32_t value) override;
  long DeleteValue(const std::wstring& key, const std::wstring& name) override;
  long DeleteTree(const std::wstring& key) override;
  bool IsEmpty(const std::wstring& key) override;

 private:
  HKEY root_;
};

}  // namespace orlin::ravel::win32
