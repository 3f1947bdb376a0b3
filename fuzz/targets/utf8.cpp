// The text codec every parser's text goes through (UTF-8, UTF-16 and the
// platform's wide text), and the path of a WM_COPYDATA payload that Ravel
// hands over.
#include "common/utf/utf.h"
#include "fuzz/fuzz_support.h"
#include "platform/window_lookup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orlin;
  const std::string_view bytes = fuzz::Bytes(data, size);
  const std::wstring wide = Utf8ToWide(bytes);
  const std::string back = WideToUtf8(wide);
  FUZZ_CHECK(IsValidUtf8(back), "whatever is decoded encodes as valid UTF-8");
  FUZZ_CHECK(IsValidUtf8(bytes) == (back == bytes), "exactly the valid texts come back unchanged");
  FUZZ_CHECK(Utf8ToWide(back) == wide, "decoding is settled after one pass");
  FUZZ_CHECK(Utf16ToWide(WideToUtf16(wide)) == wide, "UTF-16 keeps every decoded text");

  // The same bytes as UTF-16 units (the account archive's strings).
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  const std::wstring fromUnits = Utf16ToWide(units);
  FUZZ_CHECK(IsValidUtf8(WideToUtf8(fromUnits)), "UTF-16 decodes to text UTF-8 can carry");
  FUZZ_CHECK(Utf16ToWide(WideToUtf16(fromUnits)) == fromUnits, "and back to the same units' text");

  // A payload is read up to its first NUL unit and never past its size.
  const platform::CopyDataMessage message{0, static_cast<std::uint32_t>(size), data};
  const std::wstring path = platform::CopyDataPath(message);
  FUZZ_CHECK(path.find(L'\0') == std::wstring::npos, "a handed-over path ends at its first NUL");
  FUZZ_CHECK(path.size() <= size / 2, "a handed-over path lies within the payload");
  return 0;
}
