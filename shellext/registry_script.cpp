#include "shellext/registry_script.h"

#include <cwctype>

#include "common/text.h"

namespace orlin::ravel {
namespace {

struct Token {
  std::wstring text;
  bool quoted = false;
  std::size_t offset = 0;
};

std::wstring Replace(const std::wstring& word, const std::map<std::wstring, std::wstring>& replacements, bool& ok) {
  std::wstring out;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (word[i] != L'%') {
      out.push_back(word[i]);
      continue;
    }
    const std::size_t end = word.find(L'%', i + 1);
    if (end == std::wstring::npos) {
      ok = false;
      return out;
    }
    const std::wstring name = word.substr(i + 1, end - i - 1);
    if (name.empty()) {
      out.push_back(L'%');
    } else if (auto it = replacements.find(name); it != replacements.end()) {
      out += it->second;
    } else {
      ok = false;
      return out;
    }
    i = end;
  }
  return out;
}

class Parser {
 public:
  Parser(std::wstring_view text, const std::map<std::wstring, std::wstring>& replacements)
      : text_(text), replacements_(replacements) {}

  ScriptParse Run() {
    if (!Split()) return Fail();
    RegistryScript script;
    while (at_ < tokens_.size()) {
      const Token& root = tokens_[at_++];
      if (root.quoted || IsPunct(root, L"{") || IsPunct(root, L"}")) return Fail("a root key name", root);
      ScriptKey key;
      key.name = root.text;
      if (!Expect(L"{")) return Fail();
      if (!Body(key, true)) return Fail();
      script.roots.push_back(std::move(key));
    }
    return {std::move(script), {}};
  }

 private:
  static bool IsPunct(const Token& t, const wchar_t* p) { return !t.quoted && t.text == p; }

  bool Split() {
    std::size_t i = 0;
    while (i < text_.size()) {
      if (std::iswspace(static_cast<std::wint_t>(text_[i]))) {
        ++i;
        continue;
      }
      Token token;
      token.offset = i;
      if (text_[i] == L'\'') {
        token.quoted = true;
        ++i;
        for (;;) {
          if (i >= text_.size()) {
            error_ = "unterminated quoted text at " + std::to_string(token.offset);
            return false;
          }
          if (text_[i] == L'\'') {
            if (i + 1 < text_.size() && text_[i + 1] == L'\'') {
              token.text.push_back(L'\'');
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          token.text.push_back(text_[i++]);
        }
      } else {
        while (i < text_.size() && !std::iswspace(static_cast<std::wint_t>(text_[i]))) token.text.push_back(text_[i++]);
      }
      bool ok = true;
      token.text = Replace(token.text, replacements_, ok);
      if (!ok) {
        error_ = "unknown replacement in \"" + WideToUtf8(token.text) + "\" at " + std::to_string(token.offset);
        return false;
      }
      tokens_.push_back(std::move(token));
    }
    return true;
  }

  const Token* Next() { return at_ < tokens_.size() ? &tokens_[at_++] : nullptr; }
  const Token* Peek() const { return at_ < tokens_.size() ? &tokens_[at_] : nullptr; }

  bool Expect(const wchar_t* punct) {
    const Token* t = Next();
    if (t && IsPunct(*t, punct)) return true;
    error_ = std::string("\"") + WideToUtf8(punct) + "\" expected" +
             (t ? " at " + std::to_string(t->offset) : std::string(" at the end"));
    return false;
  }

  bool Value(ScriptValue& value) {
    const Token* type = Next();
    const Token* data = Next();
    if (!type || !data || type->quoted) {
      error_ = "a value type and its data expected";
      return false;
    }
    const std::wstring kind = AsciiLower(type->text);
    if (kind == L"s") {
      value.text = data->text;
      return true;
    }
    if (kind == L"d") {
      value.isNumber = true;
      try {
        std::size_t used = 0;
        const unsigned long n = std::stoul(data->text, &used, 0);
        if (used != data->text.size() || n > 0xFFFFFFFFul) throw std::out_of_range("number");
        value.number = static_cast<std::uint32_t>(n);
      } catch (const std::exception&) {
        error_ = "a number expected at " + std::to_string(data->offset);
        return false;
      }
      return true;
    }
    error_ = "unknown value type at " + std::to_string(type->offset);
    return false;
  }

  // The keys and values inside "{ ... }" of `key`, the closing brace included.
  bool Body(ScriptKey& key, bool root) {
    for (;;) {
      const Token* t = Next();
      if (!t) {
        error_ = "\"}\" missing at the end";
        return false;
      }
      if (IsPunct(*t, L"}")) return true;
      if (IsPunct(*t, L"{") || IsPunct(*t, L"=")) {
        error_ = "a key name expected at " + std::to_string(t->offset);
        return false;
      }
      if (!t->quoted && EqualsIgnoreCase(t->text, L"val")) {
        if (root) {
          error_ = "a value directly below a root key at " + std::to_string(t->offset);
          return false;
        }
        const Token* name = Next();
        if (!name || !Expect(L"=")) {
          if (error_.empty()) error_ = "a value name expected";
          return false;
        }
        ScriptValue value;
        value.name = name->text;
        if (!Value(value)) return false;
        key.values.push_back(std::move(value));
        continue;
      }
      ScriptKey sub;
      if (!t->quoted && EqualsIgnoreCase(t->text, L"NoRemove")) {
        sub.marking = KeyMarking::kNoRemove;
        t = Next();
      } else if (!t->quoted && EqualsIgnoreCase(t->text, L"ForceRemove")) {
        sub.marking = KeyMarking::kForceRemove;
        t = Next();
      }
      if (!t || IsPunct(*t, L"{") || IsPunct(*t, L"}") || IsPunct(*t, L"=") || t->text.empty()) {
        error_ = "a key name expected";
        return false;
      }
      sub.name = t->text;
      if (sub.name.find(L'\\') != std::wstring::npos) {
        error_ = "a key name with \"\\\" at " + std::to_string(t->offset);
        return false;
      }
      if (const Token* p = Peek(); p && IsPunct(*p, L"=")) {
        ++at_;
        ScriptValue value;
        if (!Value(value)) return false;
        sub.values.push_back(std::move(value));
      }
      if (const Token* p = Peek(); p && IsPunct(*p, L"{")) {
        ++at_;
        if (!Body(sub, false)) return false;
      }
      key.subkeys.push_back(std::move(sub));
    }
  }

  ScriptParse Fail() { return {std::nullopt, error_.empty() ? "malformed script" : error_}; }
  ScriptParse Fail(const char* expected, const Token& t) {
    error_ = std::string(expected) + " expected at " + std::to_string(t.offset);
    return Fail();
  }

  std::wstring_view text_;
  const std::map<std::wstring, std::wstring>& replacements_;
  std::vector<Token> tokens_;
  std::size_t at_ = 0;
  std::string error_;
};

std::wstring Join(const std::wstring& parent, const std::wstring& name) {
  return parent.empty() ? name : parent + L"\\" + name;
}

long WriteValues(RegistryEditor& editor, const std::wstring& path, const ScriptKey& key) {
  for (const auto& value : key.values) {
    const long error = value.isNumber ? editor.SetNumber(path, value.name, value.number)
                                      : editor.SetString(path, value.name, value.text);
    if (error != 0) return error;
  }
  return 0;
}

bool RegisterKey(RegistryEditor& editor, const std::wstring& parent, const ScriptKey& key, ScriptRun& run) {
  const std::wstring path = Join(parent, key.name);
  long error = 0;
  if (key.marking == KeyMarking::kForceRemove) error = editor.DeleteTree(path);
  if (error == 0 && !(key.marking == KeyMarking::kNoRemove && editor.KeyExists(path))) error = editor.CreateKey(path);
  if (error == 0) error = WriteValues(editor, path, key);
  if (error != 0) {
    run = {error, path};
    return false;
  }
  for (const auto& sub : key.subkeys) {
    if (!RegisterKey(editor, path, sub, run)) return false;
  }
  return true;
}

void Note(ScriptRun& run, long error, const std::wstring& path) {
  if (error != 0 && run.error == 0) run = {error, path};
}

void UnregisterKey(RegistryEditor& editor, const std::wstring& parent, const ScriptKey& key, ScriptRun& run) {
  const std::wstring path = Join(parent, key.name);
  if (!editor.KeyExists(path)) return;
  if (key.marking == KeyMarking::kForceRemove) {
    Note(run, editor.DeleteTree(path), path);
    return;
  }
  for (const auto& sub : key.subkeys) UnregisterKey(editor, path, sub, run);
  if (key.marking == KeyMarking::kNoRemove) return;
  for (const auto& value : key.values) Note(run, editor.DeleteValue(path, value.name), path);
  // Whatever someone else keeps in the key keeps the key.
  if (editor.IsEmpty(path)) Note(run, editor.DeleteTree(path), path);
}

}  // namespace

ScriptParse ParseRegistryScript(std::wstring_view text, const std::map<std::wstring, std::wstring>& replacements) {
  return Parser(text, replacements).Run();
}

ScriptRun RegisterScript(const RegistryScript& script, const RootEditors& roots) {
  ScriptRun run;
  for (const auto& root : script.roots) {
    RegistryEditor* editor = roots(root.name);
    if (!editor) return {kUnknownRoot, root.name};
    for (const auto& key : root.subkeys) {
      if (!RegisterKey(*editor, L"", key, run)) return run;
    }
  }
  return run;
}

ScriptRun UnregisterScript(const RegistryScript& script, const RootEditors& roots) {
  ScriptRun run;
  for (const auto& root : script.roots) {
    RegistryEditor* editor = roots(root.name);
    if (!editor) {
      Note(run, kUnknownRoot, root.name);
      continue;
    }
    for (const auto& key : root.subkeys) UnregisterKey(*editor, L"", key, run);
  }
  return run;
}

bool IsPerUserCommandLine(const wchar_t* commandLine) {
  return commandLine && EqualsIgnoreCase(commandLine, L"user");
}

}  // namespace orlin::ravel
