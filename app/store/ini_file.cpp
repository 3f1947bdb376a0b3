#include "app/store/ini_file.h"

#include <system_error>

#include "common/atomic_file.h"

namespace orlin {
namespace {

std::optional<IniDocument> Fail(std::string* error, std::size_t line, std::string_view what) {
  if (error) *error = "l" + std::to_string(line) + ": ini parsing failed, " + std::string(what);
  return std::nullopt;
}

}  // namespace

std::optional<IniDocument> IniDocument::Parse(std::string_view text, std::string* error) {
  IniDocument doc;
  std::map<std::string, std::string, std::less<>>* section = nullptr;
  std::size_t lineNumber = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(start, end - start));
    start = end + 1;
    ++lineNumber;

    if (const auto cr = line.find('\r'); cr != std::string::npos) line.erase(cr, 1);
    if (line.empty() || line[0] == '#') continue;

    if (line[0] == '[') {
      const std::size_t close = line.find(']');
      if (close == std::string::npos) return Fail(error, lineNumber, "section not closed");
      if (close == 1) return Fail(error, lineNumber, "section is empty");
      if (close != line.size() - 1) return Fail(error, lineNumber, "no end of line after section");
      section = &doc.sections_[line.substr(1, close - 1)];
      continue;
    }

    if (!section) return Fail(error, lineNumber, "field has no section");
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) return Fail(error, lineNumber, "no '=' found");
    (*section)[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return doc;
}

std::optional<IniDocument> IniDocument::Load(const std::filesystem::path& file, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return IniDocument{};
  std::string text;
  if (!ReadWholeFile(file, text)) {
    if (error) {
      const std::u8string name = file.u8string();
      *error = "cannot read " + std::string(name.begin(), name.end());
    }
    return std::nullopt;
  }
  return Parse(text, error);
}

std::string IniDocument::Value(std::string_view section, std::string_view key) const {
  const auto s = sections_.find(section);
  if (s == sections_.end()) return {};
  const auto k = s->second.find(key);
  return k == s->second.end() ? std::string{} : k->second;
}

bool IniDocument::HasSection(std::string_view section) const { return sections_.find(section) != sections_.end(); }

std::string ProductDisplayName(const IniDocument& ini) {
  std::string name = ini.Value("product", "outname");
  for (auto& c : name)
    if (c == '_') c = ' ';
  return name;
}

}  // namespace orlin
