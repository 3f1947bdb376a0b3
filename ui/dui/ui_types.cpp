#include "ui/dui/ui_types.h"

#include <charconv>
#include <cstdlib>

#include "common/text.h"

namespace orlin::dui {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::vector<int> ParseInts(std::string_view text) {
  std::vector<int> out;
  while (!text.empty()) {
    auto comma = text.find(',');
    auto part = Trim(text.substr(0, comma));
    int v = 0;
    std::from_chars(part.data(), part.data() + part.size(), v);
    out.push_back(v);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return out;
}

}  // namespace

std::optional<Color> ParseColor(std::string_view text) {
  text = Trim(text);
  if (text.starts_with("#")) {
    text.remove_prefix(1);
  } else if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
  } else {
    return std::nullopt;
  }
  if (text.size() != 6 && text.size() != 8) return std::nullopt;
  Color v = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 16);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  if (text.size() == 6) v |= 0xFF000000u;
  return v;
}

Rect ParseRect(std::string_view text) {
  auto v = ParseInts(text);
  v.resize(4, 0);
  return Rect{v[0], v[1], v[2], v[3]};
}

Size ParseSize(std::string_view text) {
  auto v = ParseInts(text);
  v.resize(2, 0);
  return Size{v[0], v[1]};
}

bool ParseBool(std::string_view text) {
  return AsciiLower(Trim(text)) == "true" || Trim(text) == "1";
}

ImageSpec ParseImage(std::string_view text) {
  ImageSpec spec;
  text = Trim(text);
  if (text.find('=') == std::string_view::npos) {
    spec.file = std::string(text);
    return spec;
  }
  // key='value' pairs, separated by blanks.
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    auto eq = text.find('=', i);
    if (eq == std::string_view::npos) break;
    auto key = Trim(text.substr(i, eq - i));
    std::size_t valueStart = eq + 1;
    std::string_view value;
    if (valueStart < text.size() && (text[valueStart] == '\'' || text[valueStart] == '"')) {
      char quote = text[valueStart];
      auto end = text.find(quote, valueStart + 1);
      if (end == std::string_view::npos) end = text.size();
      value = text.substr(valueStart + 1, end - valueStart - 1);
      i = end + 1;
    } else {
      auto end = text.find(' ', valueStart);
      if (end == std::string_view::npos) end = text.size();
      value = text.substr(valueStart, end - valueStart);
      i = end;
    }
    if (key == "file") spec.file = std::string(value);
    else if (key == "dest") spec.dest = ParseRect(value);
    else if (key == "source") spec.source = ParseRect(value);
    else if (key == "corner") spec.corner = ParseRect(value);
  }
  return spec;
}

std::filesystem::path ResolveImagePath(const std::filesystem::path& resourceDir, std::string_view file) {
  std::string portable(file);
  for (auto& c : portable) {
    if (c == '\\') c = '/';
  }
  std::filesystem::path p(std::u8string(portable.begin(), portable.end()));
  if (p.is_absolute()) return p;
  return resourceDir / p;
}

}  // namespace orlin::dui
