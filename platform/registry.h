#pragma once
// CRegistry: a thin class over the registry that Orlin uses for its autostart
// value and its file-manager entry. One open key at a time (the current key)
// below the root key given at construction; every relative key name is taken
// below the current key, or below the root when no key is open.
//
// Windows: the system registry (64-bit view, full access).
// POSIX: a small file-backed store of ours with the same semantics: one file
// per root key in the store directory, rewritten atomically on every change;
// key and value names compare case-insensitively (ASCII) and keep the case
// they were created with.
//
// Not thread-safe: one object per thread. Several objects (and processes) may
// use the same store; each change is a whole load-edit-save of the root's file.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace orlin::platform {

enum class RegistryRoot {
  kCurrentUser,   // HKEY_CURRENT_USER
  kLocalMachine,  // HKEY_LOCAL_MACHINE
  kClassesRoot,   // HKEY_CLASSES_ROOT
};

// Where the registry lives. Windows ignores it (the system registry). POSIX:
// the directory of the store; empty means the default,
// $XDG_CONFIG_HOME/orlin/registry (or ~/.config/orlin/registry).
struct RegistryLocation {
  std::filesystem::path storeDir;
};

// A read value is at most this many characters (UTF-16 code units) long: it
// has to fit a 200-byte buffer together with its terminator.
inline constexpr std::size_t kRegistryMaxReadChars = 99;

// The operations on one open key, as an interface so that callers can be
// tested against a recording or failing registry.
class Registry {
 public:
  virtual ~Registry() = default;

  // Creates (or opens) `subKey` below the current key and makes it current.
  // `subKey` may hold several levels separated by backslashes.
  virtual bool CreateKey(std::wstring_view subKey) = 0;
  // Opens the existing `subKey` below the current key and makes it current.
  virtual bool OpenKey(std::wstring_view subKey) = 0;
  // Closes the current key if one is open; later names are below the root.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  // REG_SZ value of the current key; an empty name is the default value.
  virtual bool WriteString(std::wstring_view valueName, std::wstring_view text) = 0;
  // Fails when the value is missing, is not a string, or is longer than
  // kRegistryMaxReadChars; `text` is then unchanged.
  virtual bool ReadString(std::wstring_view valueName, std::wstring& text) = 0;
  virtual bool DeleteValue(std::wstring_view valueName) = 0;
  // Deletes `subKey` below the current key with all its sub-keys and values.
  // A failure is reported on the console as "删除<subKey>项失败" and the call
  // still returns true, so that removal sequences go on.
  virtual bool DeleteKey(std::wstring_view subKey) = 0;
};

class CRegistry final : public Registry {
 public:
  explicit CRegistry(RegistryRoot root, RegistryLocation location = {});
  ~CRegistry() override;
  CRegistry(const CRegistry&) = delete;
  CRegistry& operator=(const CRegistry&) = delete;

  bool CreateKey(std::wstring_view subKey) override;
  bool OpenKey(std::wstring_view subKey) override;
  void Close() override;
  bool IsOpen() const override;
  bool WriteString(std::wstring_view valueName, std::wstring_view text) override;
  bool ReadString(std::wstring_view valueName, std::wstring& text) override;
  bool DeleteValue(std::wstring_view valueName) override;
  bool DeleteKey(std::wstring_view subKey) override;

  // The directory the POSIX store uses for `location` (empty on Windows).
  static std::filesystem::path StoreDirectory(const RegistryLocation& location);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orlin::platform
