// The registration scripts Ravel.dll carries (.rgs): keys, values and the
// %NAME% replacements.
#include "common/text.h"
#include "fuzz/fuzz_support.h"
#include "shellext/registry_script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orlin;
  static const std::map<std::wstring, std::wstring> kReplacements = {
      {L"MODULE", L"C:\\Program Files\\Orlin\\Ravel.dll"}, {L"CLSID", L"{A5F4E1C4-B6E2-4E9A-8865-BDBC5DEE6598}"}};
  const ravel::ScriptParse parse = ravel::ParseRegistryScript(Utf8ToWide(fuzz::Bytes(data, size)), kReplacements);
  FUZZ_CHECK(parse.script.has_value() == parse.error.empty(), "a script parses, or the error says why");
  return 0;
}
