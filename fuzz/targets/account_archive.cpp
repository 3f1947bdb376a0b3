// The account archive (config.xml.tarncloud): user name and server as
// archive strings, in the wide and the 8-bit form.
#include "app/store/account_archive.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orlin;
  const std::string_view bytes = fuzz::Bytes(data, size);
  std::size_t pos = 0;
  const std::optional<std::wstring> first = DecodeArchiveString(bytes, pos);
  FUZZ_CHECK(first ? pos <= bytes.size() && pos > 0 : pos == 0, "the position moves only past a whole string");

  const std::optional<AccountArchive> account = DecodeAccountArchive(bytes);
  if (!account) return 0;
  FUZZ_CHECK(first && account->userName == *first, "the archive starts with the user name");
  // What was read is written back in the wide form and reads the same.
  const std::string written = EncodeAccountArchive(*account);
  const std::optional<AccountArchive> again = DecodeAccountArchive(written);
  FUZZ_CHECK(again && *again == *account, "an archive read is written back unchanged");
  FUZZ_CHECK(EncodeAccountArchive(*again) == written, "and written the same way again");
  return 0;
}
