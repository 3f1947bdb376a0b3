// This computer's device ID from the engine's status answer (system/status,
// read at start-up).
#include "common/text.h"
#include "engine/rest_commands.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orlin;
  const std::wstring answer = Utf8ToWide(fuzz::Bytes(data, size));
  const std::optional<std::wstring> id = EngineCommands::ParseDeviceId(answer);
  // Text before the answer's first "{" is not part of it.
  FUZZ_CHECK(EngineCommands::ParseDeviceId(L"HTTP/1.1 200 OK\r\n\r\n" + answer) == id, "leading text ignored");
  return 0;
}
