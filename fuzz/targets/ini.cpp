// Orlin.ini, the product information beside the program.
#include <algorithm>
#include <charconv>

#include "app/store/ini_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orlin;
  const std::string_view text = fuzz::Bytes(data, size);
  std::string error;
  const std::optional<IniDocument> doc = IniDocument::Parse(text, &error);
  if (!doc) {
    // "l<line>: ini parsing failed, ..." with a line the text has.
    FUZZ_CHECK(error.size() > 2 && error[0] == 'l', "an error names its line");
    const std::size_t colon = error.find(": ini parsing failed, ");
    FUZZ_CHECK(colon != std::string::npos && colon > 1, "an error says that the ini failed");
    std::size_t line = 0;
    const auto parsed = std::from_chars(error.data() + 1, error.data() + colon, line);
    FUZZ_CHECK(parsed.ec == std::errc() && parsed.ptr == error.data() + colon, "the line is a number");
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    FUZZ_CHECK(line >= 1 && line <= lines, "the line named exists");
    return 0;
  }
  FUZZ_CHECK(ProductDisplayName(*doc).find('_') == std::string::npos, "the product name shows no underscores");
  // Windows line ends read the same: a line loses its first carriage return.
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  const std::optional<IniDocument> again = IniDocument::Parse(crlf);
  if (text.find('\r') == std::string_view::npos) {
    FUZZ_CHECK(again.has_value(), "the same file with CR LF line ends parses");
    FUZZ_CHECK(again->Value("product", "outname") == doc->Value("product", "outname"), "and reads the same");
    FUZZ_CHECK(again->HasSection("product") == doc->HasSection("product"), "with the same sections");
  }
  return 0;
}
