// The registrar: the scripts the DLL carries register exactly the keys and
// values the handler needs, unregistration leaves the shared keys and
// everything of others, and running either twice is harmless.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "common/text.h"
#include "shellext/registry_script.h"

namespace orlin::ravel {
namespace {

// A registry below one root: key paths compared without case, as Windows
// does, each with its values.
class MapRegistry final : public RegistryEditor {
 public:
  using Values = std::map<std::wstring, std::wstring>;
  bool KeyExists(const std::wstring& key) override { return keys_.count(Fold(key)) > 0; }
  long CreateKey(const std::wstring& key) override {
    if (failCreate_ == Fold(key)) return 5;
    std::wstring path;
    for (const auto& part : Split(key)) {
      path = path.empty() ? part : path + L"\\" + part;
      keys_.emplace(Fold(path), Values{});
    }
    return 0;
  }
  long SetString(const std::wstring& key, const std::wstring& name, const std::wstring& value) override {
    if (!KeyExists(key)) return 2;
    keys_[Fold(key)][name] = value;
    return 0;
  }
  long SetNumber(const std::wstring& key, const std::wstring& name, std::uint32_t value) override {
    return SetString(key, name, L"#" + std::to_wstring(value));
  }
  long DeleteValue(const std::wstring& key, const std::wstring& name) override {
    keys_[Fold(key)].erase(name);
    return 0;
  }
  long DeleteTree(const std::wstring& key) override {
    const std::wstring k = Fold(key);
    for (auto it = keys_.begin(); it != keys_.end();) {
      it = it->first == k || it->first.rfind(k + L"\\", 0) == 0 ? keys_.erase(it) : std::next(it);
    }
    return 0;
  }
  bool IsEmpty(const std::wstring& key) override {
    const std::wstring k = Fold(key);
    if (!keys_[k].empty()) return false;
    for (const auto& [path, values] : keys_) {
      if (path.rfind(k + L"\\", 0) == 0) return false;
    }
    return true;
  }

  std::set<std::wstring> Keys() const {
    std::set<std::wstring> out;
    for (const auto& [k, v] : keys_) out.insert(k);
    return out;
  }
  const Values& ValuesOf(const std::wstring& key) { return keys_[Fold(key)]; }
  void FailCreating(const std::wstring& key) { failCreate_ = Fold(key); }

 private:
  static std::wstring Fold(const std::wstring& s) { return AsciiLower(s); }
  static std::vector<std::wstring> Split(const std::wstring& key) {
    std::vector<std::wstring> parts;
    std::wstring part;
    for (wchar_t c : key) {
      if (c == L'\\') {
        parts.push_back(part);
        part.clear();
      } else {
        part.push_back(c);
      }
    }
    parts.push_back(part);
    return parts;
  }
  std::map<std::wstring, Values> keys_;
  std::wstring failCreate_;
};

std::wstring ReadScript(const char* name) {
  std::ifstream in(std::string(ORLIN_RAVEL_SCRIPTS) + "/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return Utf8ToWide(text.str());
}

constexpr wchar_t kClsidKey[] = L"clsid\\{0bb7e4b6-4c48-4dd1-930d-0b8adb1ec9d6}";
constexpr wchar_t kClsid[] = L"{0bb7e4b6-4c48-4dd1-930d-0b8adb1ec9d6}";
const std::wstring kModule = L"C:\\Users\\O'Brien\\{x} %Tools%\\Ravel.dll";

class ClassScript : public ::testing::Test {
 protected:
  void SetUp() override {
    ScriptParse parse = ParseRegistryScript(ReadScript("ravel_context_menu.rgs"), {{L"MODULE", kModule}});
    ASSERT_TRUE(parse.script) << parse.error;
    script = *parse.script;
  }
  RootEditors Roots() {
    return [this](const std::wstring& root) -> RegistryEditor* {
      return root == L"HKCR" ? &hkcr : nullptr;
    };
  }
  RegistryScript script;
  MapRegistry hkcr;
};

TEST_F(ClassScript, RegistersTheHandlerForFilesFoldersAndShortcuts) {
  ScriptRun run = RegisterScript(script, Roots());
  ASSERT_EQ(run.error, 0) << WideToUtf8(run.failedKey);
  EXPECT_EQ(hkcr.ValuesOf(kClsidKey).at(L""), L"RavelContextMenu class");
  EXPECT_TRUE(hkcr.KeyExists(std::wstring(kClsidKey) + L"\\Programmable"));
  // A module path with quotes, braces and percent signs arrives as it is.
  EXPECT_EQ(hkcr.ValuesOf(std::wstring(kClsidKey) + L"\\InprocServer32").at(L""), kModule);
  EXPECT_EQ(hkcr.ValuesOf(std::wstring(kClsidKey) + L"\\InprocServer32").at(L"ThreadingModel"), L"Apartment");
  EXPECT_EQ(hkcr.ValuesOf(std::wstring(kClsidKey) + L"\\TypeLib").at(L""), L"{41d21a68-def8-4d2c-840e-41f2f74725e7}");
  EXPECT_EQ(hkcr.ValuesOf(std::wstring(kClsidKey) + L"\\Version").at(L""), L"1.0");
  EXPECT_EQ(hkcr.ValuesOf(L"*\\ShellEx\\ContextMenuHandlers\\Ravel").at(L""), kClsid);
  EXPECT_EQ(hkcr.ValuesOf(L"Folder\\ShellEx\\ContextMenuHandlers\\Ravel").at(L""), kClsid);
  // Shortcuts under the key name of their own.
  EXPECT_EQ(hkcr.ValuesOf(L"lnkfile\\ShellEx\\ContextMenuHandlers\\DODEdezUroZiv").at(L""), kClsid);
  EXPECT_FALSE(hkcr.KeyExists(L"lnkfile\\ShellEx\\ContextMenuHandlers\\Ravel"));
}

TEST_F(ClassScript, ForceRemoveReplacesWhatWasThereAndUnregistrationLeavesTheSharedKeys) {
  // Somebody else's handler and an old value of ours from an earlier version.
  hkcr.CreateKey(L"*\\ShellEx\\ContextMenuHandlers\\Other");
  hkcr.SetString(L"*\\ShellEx\\ContextMenuHandlers\\Other", L"", L"{other}");
  hkcr.CreateKey(std::wstring(kClsidKey) + L"\\Stale");
  hkcr.CreateKey(L"CLSID\\{someone-else}");
  const auto before = hkcr.Keys();

  ASSERT_EQ(RegisterScript(script, Roots()).error, 0);
  EXPECT_FALSE(hkcr.KeyExists(std::wstring(kClsidKey) + L"\\Stale")) << "a force-removed key starts empty";
  // Twice: the same keys.
  const auto once = hkcr.Keys();
  ASSERT_EQ(RegisterScript(script, Roots()).error, 0);
  EXPECT_EQ(hkcr.Keys(), once);

  ASSERT_EQ(UnregisterScript(script, Roots()).error, 0);
  auto after = hkcr.Keys();
  for (const auto& key : after) EXPECT_EQ(key.find(L"{0bb7e4b6"), std::wstring::npos) << WideToUtf8(key);
  EXPECT_EQ(after.count(L"*\\shellex\\contextmenuhandlers\\ravel"), 0u);
  EXPECT_EQ(after.count(L"lnkfile\\shellex\\contextmenuhandlers\\dodedezuroziv"), 0u);
  for (const wchar_t* shared : {L"clsid", L"*\\shellex\\contextmenuhandlers", L"folder\\shellex\\contextmenuhandlers",
                                L"lnkfile\\shellex\\contextmenuhandlers"}) {
    EXPECT_EQ(after.count(shared), 1u) << WideToUtf8(shared) << " is shared and stays";
  }
  EXPECT_EQ(hkcr.ValuesOf(L"*\\ShellEx\\ContextMenuHandlers\\Other").at(L""), L"{other}");
  EXPECT_EQ(after.count(L"clsid\\{someone-else}"), 1u);
  // Before the registration minus our stale key, plus the shared keys it made.
  for (const auto& key : before) {
    if (key.find(L"stale") == std::wstring::npos && key.find(L"{0bb7e4b6") == std::wstring::npos) {
      EXPECT_EQ(after.count(key), 1u) << WideToUtf8(key);
    }
  }
  // Unregistering again, or with nothing registered, is no failure.
  EXPECT_EQ(UnregisterScript(script, Roots()).error, 0);
  MapRegistry empty;
  EXPECT_EQ(UnregisterScript(script, [&](const std::wstring&) -> RegistryEditor* { return &empty; }).error, 0);
  EXPECT_TRUE(empty.Keys().empty());
}

TEST_F(ClassScript, AFailingStepStopsTheRegistrationWithItsCode) {
  hkcr.FailCreating(L"Folder\\ShellEx\\ContextMenuHandlers\\Ravel");
  ScriptRun run = RegisterScript(script, Roots());
  EXPECT_EQ(run.error, 5);
  EXPECT_EQ(AsciiLower(run.failedKey), L"folder\\shellex\\contextmenuhandlers\\ravel");
  EXPECT_FALSE(hkcr.KeyExists(L"lnkfile\\ShellEx\\ContextMenuHandlers\\DODEdezUroZiv")) << "went on after the failure";
  // A root nobody serves.
  EXPECT_EQ(RegisterScript(script, [](const std::wstring&) -> RegistryEditor* { return nullptr; }).error, kUnknownRoot);
}

TEST(RegistryScriptParse, UnmarkedKeysGoOnlyWhenNothingElseIsLeftInThem) {
  ScriptParse parse = ParseRegistryScript(
      L"HKCR { Shared = s 'ours' { val Mine = d '0x10' val Name = s 'it''s' } Solo { Inner } }", {});
  ASSERT_TRUE(parse.script) << parse.error;
  MapRegistry reg;
  auto roots = [&](const std::wstring&) -> RegistryEditor* { return &reg; };
  ASSERT_EQ(RegisterScript(*parse.script, roots).error, 0);
  EXPECT_EQ(reg.ValuesOf(L"Shared").at(L"Mine"), L"#16");
  EXPECT_EQ(reg.ValuesOf(L"Shared").at(L"Name"), L"it's");
  reg.SetString(L"Shared", L"TheirValue", L"kept");
  ASSERT_EQ(UnregisterScript(*parse.script, roots).error, 0);
  EXPECT_TRUE(reg.KeyExists(L"Shared")) << "a value of someone else keeps the key";
  EXPECT_EQ(reg.ValuesOf(L"Shared").size(), 1u) << "our values went";
  EXPECT_FALSE(reg.KeyExists(L"Solo"));
}

TEST(RegistryScriptParse, MalformedScriptsAreRefusedWithAReason) {
  for (const wchar_t* bad : {L"HKCR {", L"HKCR { Key = s 'open }", L"HKCR { Key = x 'y' }", L"HKCR { val X = s 'y' }",
                             L"HKCR { Key = d 'ten' }", L"HKCR { A\\B }", L"HKCR { %UNKNOWN% }", L"{ }"}) {
    ScriptParse parse = ParseRegistryScript(bad, {});
    EXPECT_FALSE(parse.script) << WideToUtf8(bad);
    EXPECT_FALSE(parse.error.empty()) << WideToUtf8(bad);
  }
  ScriptParse module = ParseRegistryScript(ReadScript("ravel_module.rgs"), {{L"APPID", L"{41d21a68}"}});
  ASSERT_TRUE(module.script) << module.error;
  ASSERT_EQ(module.script->roots.size(), 1u);
  EXPECT_TRUE(module.script->roots[0].subkeys.empty()) << "the module script writes nothing";
}

TEST(DllInstallCommandLine, OnlyTheWholeWordUserInAnyCaseMeansPerUser) {
  EXPECT_TRUE(IsPerUserCommandLine(L"user"));
  EXPECT_TRUE(IsPerUserCommandLine(L"USER"));
  EXPECT_TRUE(IsPerUserCommandLine(L"uSeR"));
  EXPECT_FALSE(IsPerUserCommandLine(L"users"));
  EXPECT_FALSE(IsPerUserCommandLine(L"user "));
  EXPECT_FALSE(IsPerUserCommandLine(L""));
  EXPECT_FALSE(IsPerUserCommandLine(nullptr));
}

}  // namespace
}  // namespace orlin::ravel
