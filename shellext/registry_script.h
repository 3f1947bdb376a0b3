#pragma once
// Ravel's registrar: reads the registry scripts kept as text in the DLL's
// resources and registers or unregisters what they describe.
//
// The script language is the usual one of COM servers:
//
//   HKCR
//   {
//     NoRemove CLSID
//     {
//       ForceRemove {0bb7e4b6-...} = s 'RavelContextMenu class'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Apartment'
//         }
//       }
//     }
//   }
//
// A key marked NoRemove is created when missing and never deleted; one
// marked ForceRemove is deleted with everything below it before it is
// written, and deleted whole at unregistration; an unmarked key is deleted
// at unregistration once nothing is left in it (its own values and keys
// gone, nobody else's added). Values are strings (s) or numbers (d).
// "%NAME%" is replaced inside each word and quoted text after the script is
// split into words, so a replacement holding quotes or braces (a module path
// such as C:\Users\O'Brien\...) cannot change the script's structure; "%%"
// stands for "%". Unregistering keys that are not there is no failure, so
// unregistering twice, or without a registration, leaves nothing behind and
// succeeds.
//
// Portable: the registry itself is behind RegistryEditor (the Win32 registry
// in the DLL, a map in tests).

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlin::ravel {

enum class KeyMarking { kNone, kNoRemove, kForceRemove };

struct ScriptValue {
  std::wstring name;  // empty: the key's default value
  bool isNumber = false;
  std::wstring text;
  std::uint32_t number = 0;
};

struct ScriptKey {
  std::wstring name;
  KeyMarking marking = KeyMarking::kNone;
  std::vector<ScriptValue> values;  // the default value (name "") first, when the script gives one
  std::vector<ScriptKey> subkeys;
};

struct RegistryScript {
  // The top level: root keys ("HKCR", "HKCU", ...) with their keys below.
  std::vector<ScriptKey> roots;
};

struct ScriptParse {
  std::optional<RegistryScript> script;
  std::string error;  // where and why, when the script is malformed
};

ScriptParse ParseRegistryScript(std::wstring_view text, const std::map<std::wstring, std::wstring>& replacements);

// The registry below one root key. Key paths are relative to the root, with
// "\" between the names. Every call returns 0 or the system's error code.
class RegistryEditor {
 public:
  virtual ~RegistryEditor() = default;
  virtual bool KeyExists(const std::wstring& key) = 0;
  // Creates the key and any missing parents; an existing key is no error.
  virtual long CreateKey(const std::wstring& key) = 0;
  virtual long SetString(const std::wstring& key, const std::wstring& name, const std::wstring& value) = 0;
  virtual long SetNumber(const std::wstring& key, const std::wstring& name, std::uint32_t value) = 0;
  // A value that is not there is no error.
  virtual long DeleteValue(const std::wstring& key, const std::wstring& name) = 0;
  // The key and everything below it; a key that is not there is no error.
  virtual long DeleteTree(const std::wstring& key) = 0;
  // True when the key holds no value (the default one included) and no key.
  virtual bool IsEmpty(const std::wstring& key) = 0;
};

struct ScriptRun {
  long error = 0;         // the first failure's code, 0 when everything worked
  std::wstring failedKey;  // the key it happened at
};

// The editor of a root key of the script ("HKCR", "HKEY_CLASSES_ROOT", ...),
// null for a root the caller does not serve.
using RootEditors = std::function<RegistryEditor*(const std::wstring& root)>;

// Writes everything the script describes. Stops at the first failure.
ScriptRun RegisterScript(const RegistryScript& script, const RootEditors& roots);
// Removes what the script wrote, as its markings say. Goes on past a
// failure and reports the first.
ScriptRun UnregisterScript(const RegistryScript& script, const RootEditors& roots);

// The error code of a root the caller does not serve, and of a malformed
// script (ERROR_INVALID_DATA and ERROR_BAD_FORMAT on Windows).
inline constexpr long kUnknownRoot = 13;
inline constexpr long kMalformedScript = 11;

// DllInstall's command line asks for registration of the current user only:
// exactly "user", in any letter case.
bool IsPerUserCommandLine(const wchar_t* commandLine);

}  // namespace orlin::ravel
