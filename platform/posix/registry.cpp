// The POSIX registry: a file-backed store with the semantics of the Windows
// registry functions Orlin uses. Each root key is one UTF-8 text file
//
//   orlin-registry 1
//   K <full key path>
//   V <value name><TAB><data>
//
// where "V" lines belong to the "K" line above them and '%', TAB, CR and LF in
// names and data are written as %25, %09, %0D and %0A. Every change loads the
// file under an advisory lock, edits it and writes it back atomically, so two
// objects or processes working on the same store see each other's changes.

#include "platform/registry.h"

#include "common/utf/utf.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file_sync.h"

namespace orlin::platform {
namespace fs = std::filesystem;

namespace {

constexpr const char* kHeader = "orlin-registry 1";

// Length as the Windows registry counts it: UTF-16 code units.
std::size_t Utf16Length(std::wstring_view w) {
  std::size_t n = 0;
  for (wchar_t wc : w) n += static_cast<char32_t>(wc) > 0xFFFF ? 2 : 1;
  return n;
}

std::wstring Fold(std::wstring_view w) {
  std::wstring out(w);
  for (auto& c : out) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return out;
}

std::string Escape(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '%': out += "%25"; break;
      case '\t': out += "%09"; break;
      case '\r': out += "%0D"; break;
      case '\n': out += "%0A"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string Unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      const std::string hex(s.substr(i + 1, 2));
      char* end = nullptr;
      const long v = std::strtol(hex.c_str(), &end, 16);
      if (end == hex.c_str() + 2) {
        out.push_back(static_cast<char>(v));
        i += 2;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

struct Value {
  std::wstring name;
  std::wstring data;
};

struct Key {
  std::wstring path;  // full path below the root, as created
  std::vector<Value> values;

  Value* Find(std::wstring_view name) {
    const auto folded = Fold(name);
    for (auto& v : values) {
      if (Fold(v.name) == folded) return &v;
    }
    return nullptr;
  }
};

// All keys of one root, by folded full path. The root itself is the empty
// path and always exists.
using KeyMap = std::map<std::wstring, Key>;

bool ParseStore(const std::string& text, KeyMap& keys) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return text.empty();
  Key* current = nullptr;
  while (std::getline(in, line)) {
    if (line.size() < 2 || line[1] != ' ') continue;
    const std::string_view rest = std::string_view(line).substr(2);
    if (line[0] == 'K') {
      const auto path = Utf8ToWide(Unescape(rest));
      auto& key = keys[Fold(path)];
      key.path = path;
      current = &key;
    } else if (line[0] == 'V' && current) {
      const auto tab = rest.find('\t');
      if (tab == std::string_view::npos) continue;
      current->values.push_back({Utf8ToWide(Unescape(rest.substr(0, tab))), Utf8ToWide(Unescape(rest.substr(tab + 1)))});
    }
  }
  return true;
}

std::string SerialiseStore(const KeyMap& keys) {
  std::string out = kHeader;
  out += '\n';
  for (const auto& [folded, key] : keys) {
    out += "K " + Escape(WideToUtf8(key.path)) + '\n';
    for (const auto& v : key.values) {
      out += "V " + Escape(WideToUtf8(v.name)) + '\t' + Escape(WideToUtf8(v.data)) + '\n';
    }
  }
  return out;
}

// Splits a relative key name into its levels. Empty levels ("a\\\\b",
// a leading backslash) are invalid, as they are for the Windows functions.
bool SplitKeyName(std::wstring_view name, std::vector<std::wstring>& parts) {
  parts.clear();
  if (name.empty()) return true;
  std::size_t start = 0;
  while (true) {
    const auto sep = name.find(L'\\', start);
    const auto part = name.substr(start, sep == std::wstring_view::npos ? std::wstring_view::npos : sep - start);
    if (part.empty()) {
      // A single trailing backslash is tolerated.
      return sep == std::wstring_view::npos && !parts.empty();
    }
    parts.emplace_back(part);
    if (sep == std::wstring_view::npos) return true;
    start = sep + 1;
  }
}

const char* RootFileName(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kCurrentUser: return "HKEY_CURRENT_USER.txt";
    case RegistryRoot::kLocalMachine: return "HKEY_LOCAL_MACHINE.txt";
    case RegistryRoot::kClassesRoot: return "HKEY_CLASSES_ROOT.txt";
  }
  return "HKEY_UNKNOWN.txt";
}

// Holds the advisory lock of one root's store for the length of a change.
class StoreLock {
 public:
  explicit StoreLock(const fs::path& lockFile) {
    fd_ = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~StoreLock() {
    if (fd_ >= 0) {
      ::flock(fd_, LOCK_UN);
      ::close(fd_);
    }
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace

struct CRegistry::Impl {
  RegistryRoot root;
  fs::path dir;
  fs::path file;
  bool open = false;
  std::wstring current;  // full path of the current key ("" = the root)

  bool Load(KeyMap& keys) const {
    keys.clear();
    std::error_code ec;
    if (!fs::exists(file, ec)) return !ec;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    return !in.bad() && ParseStore(ss.str(), keys);
  }

  bool Save(const KeyMap& keys) const {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return false;
    fs::path temp = file;
    temp += ".tmp" + std::to_string(CurrentProcessId());
    if (WriteAndSync(temp, SerialiseStore(keys), 0600)) {
      fs::remove(temp, ec);
      return false;
    }
    fs::rename(temp, file, ec);
    if (ec) {
      std::error_code ignored;
      fs::remove(temp, ignored);
      return false;
    }
    return true;
  }

  fs::path LockFile() const {
    fs::path lock = file;
    lock += ".lock";
    return lock;
  }

  std::unique_ptr<StoreLock> Lock() const {
    std::error_code ec;
    fs::create_directories(dir, ec);
    auto lock = std::make_unique<StoreLock>(LockFile());
    return lock->held() ? std::move(lock) : nullptr;
  }

  // The base of relative names; false when the current key has gone.
  bool BaseExists(const KeyMap& keys) const {
    return current.empty() || keys.count(Fold(current)) != 0;
  }

  static std::wstring Join(const std::wstring& base, const std::vector<std::wstring>& parts) {
    std::wstring path = base;
    for (const auto& p : parts) {
      if (!path.empty()) path += L'\\';
      path += p;
    }
    return path;
  }

  // Resolves `name` below the current key to the path of an existing key as
  // stored (in the case of its creation).
  bool Resolve(const KeyMap& keys, std::wstring_view name, std::wstring& path) const {
    std::vector<std::wstring> parts;
    if (!SplitKeyName(name, parts) || !BaseExists(keys)) return false;
    const auto wanted = Join(current, parts);
    if (wanted.empty()) {
      path.clear();
      return true;
    }
    const auto it = keys.find(Fold(wanted));
    if (it == keys.end()) return false;
    path = it->second.path;
    return true;
  }
};

CRegistry::CRegistry(RegistryRoot root, RegistryLocation location) : impl_(std::make_unique<Impl>()) {
  impl_->root = root;
  impl_->dir = StoreDirectory(location);
  impl_->file = impl_->dir / RootFileName(root);
}

CRegistry::~CRegistry() = default;

fs::path CRegistry::StoreDirectory(const RegistryLocation& location) {
  if (!location.storeDir.empty()) return location.storeDir;
  fs::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    config = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      if (const passwd* pw = ::getpwuid(::getuid())) home = pw->pw_dir;
    }
    config = fs::path(home ? home : "/tmp") / ".config";
  }
  return config / "orlin" / "registry";
}

bool CRegistry::CreateKey(std::wstring_view subKey) {
  std::vector<std::wstring> parts;
  if (!SplitKeyName(subKey, parts)) return false;
  auto lock = impl_->Lock();
  KeyMap keys;
  if (!lock || !impl_->Load(keys) || !impl_->BaseExists(keys)) return false;

  // Every missing level is created; existing levels keep their case.
  std::wstring path = impl_->current;
  bool changed = false;
  for (const auto& part : parts) {
    const auto candidate = path.empty() ? part : path + L'\\' + part;
    auto it = keys.find(Fold(candidate));
    if (it == keys.end()) {
      it = keys.emplace(Fold(candidate), Key{candidate, {}}).first;
      changed = true;
    }
    path = it->second.path;
  }
  if (changed && !impl_->Save(keys)) return false;
  impl_->current = path;
  impl_->open = true;
  return true;
}

bool CRegistry::OpenKey(std::wstring_view subKey) {
  KeyMap keys;
  auto lock = impl_->Lock();
  if (!lock || !impl_->Load(keys)) return false;
  std::wstring path;
  if (!impl_->Resolve(keys, subKey, path)) return false;
  impl_->current = path;
  impl_->open = true;
  return true;
}

void CRegistry::Close() {
  impl_->open = false;
  impl_->current.clear();
}

bool CRegistry::IsOpen() const { return impl_->open; }

bool CRegistry::WriteString(std::wstring_view valueName, std::wstring_view text) {
  if (!impl_->open) return false;
  auto lock = impl_->Lock();
  KeyMap keys;
  if (!lock || !impl_->Load(keys)) return false;
  const auto it = keys.find(Fold(impl_->current));
  if (impl_->current.empty() || it == keys.end()) return false;
  if (Value* v = it->second.Find(valueName)) {
    v->data = std::wstring(text);
  } else {
    it->second.values.push_back({std::wstring(valueName), std::wstring(text)});
  }
  return impl_->Save(keys);
}

bool CRegistry::ReadString(std::wstring_view valueName, std::wstring& text) {
  if (!impl_->open || impl_->current.empty()) return false;
  auto lock = impl_->Lock();
  KeyMap keys;
  if (!lock || !impl_->Load(keys)) return false;
  const auto it = keys.find(Fold(impl_->current));
  if (it == keys.end()) return false;
  const Value* v = it->second.Find(valueName);
  if (!v || Utf16Length(v->data) > kRegistryMaxReadChars) return false;
  text = v->data;
  return true;
}

bool CRegistry::DeleteValue(std::wstring_view valueName) {
  if (!impl_->open || impl_->current.empty()) return false;
  auto lock = impl_->Lock();
  KeyMap keys;
  if (!lock || !impl_->Load(keys)) return false;
  const auto it = keys.find(Fold(impl_->current));
  if (it == keys.end()) return false;
  auto& values = it->second.values;
  const auto folded = Fold(valueName);
  for (auto v = values.begin(); v != values.end(); ++v) {
    if (Fold(v->name) == folded) {
      values.erase(v);
      return impl_->Save(keys);
    }
  }
  return false;
}

bool CRegistry::DeleteKey(std::wstring_view subKey) {
  bool deleted = false;
  if (!subKey.empty()) {
    auto lock = impl_->Lock();
    KeyMap keys;
    std::wstring path;
    if (lock && impl_->Load(keys) && impl_->Resolve(keys, subKey, path) && !path.empty()) {
      const auto folded = Fold(path);
      const auto prefix = folded + L'\\';
      for (auto it = keys.begin(); it != keys.end();) {
        if (it->first == folded || it->first.compare(0, prefix.size(), prefix) == 0) {
          it = keys.erase(it);
        } else {
          ++it;
        }
      }
      deleted = impl_->Save(keys);
    }
  }
  if (!deleted) {
    // The removal sequences go on after a failed step; the console line is
    // the only trace of it.
    const std::string line = "删除" + WideToUtf8(subKey) + "项失败\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
  }
  return true;
}

}  // namespace orlin::platform
