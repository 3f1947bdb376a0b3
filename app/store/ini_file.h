#pragma once
// Orlin.ini, the product information the installer leaves in the current
// directory. The grammar:
//   - lines are read one by one; the first carriage return of a line is
//     removed; empty lines are skipped; a line starting with '#' is a comment;
//   - "[name]" opens (or continues) section `name`: the ']' must be present,
//     must not follow the '[' directly and must end the line;
//   - any other line is "key=value", split at the first '=', neither side
//     trimmed; a field needs a section; a repeated key replaces the value.
// The first error stops the parse; its message is "l<line>: ini parsing
// failed, ..." with the 1-based line number.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace orlin {

class IniDocument {
 public:
  // The document, or std::nullopt with `error` set to the message of the
  // first error.
  static std::optional<IniDocument> Parse(std::string_view text, std::string* error = nullptr);

  // A missing file is an empty document; an existing file that cannot be
  // read is an error ("cannot read <file>").
  static std::optional<IniDocument> Load(const std::filesystem::path& file, std::string* error = nullptr);

  // Empty for a missing section or key.
  std::string Value(std::string_view section, std::string_view key) const;
  bool HasSection(std::string_view section) const;

 private:
  std::map<std::string, std::map<std::string, std::string, std::less<>>, std::less<>> sections_;
};

// The product name of the About tab: product/outname with every '_' shown as
// a blank. Empty when the document has none.
std::string ProductDisplayName(const IniDocument& ini);

}  // namespace orlin
