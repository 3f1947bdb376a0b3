// What the Tarn server answers to the login and to the kept-versions
// setting, and the detail of a failed login the user reads.
#include "account/login_request.h"
#include "common/text.h"
#include "engine/config_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orlin;
  const std::wstring answer = Utf8ToWide(fuzz::Bytes(data, size));

  const RegistrationAnswer registration = ParseRegistrationAnswer(answer);
  if (registration.verdict == RegistrationVerdict::kAccepted) {
    // The ID goes into config.xml, where a malformed one stops the engine.
    FUZZ_CHECK(IsWellFormedDeviceId(registration.serverDeviceId), "an accepted ID is one the engine takes");
    FUZZ_CHECK(IsValidDeviceId(Utf8ToWide(registration.serverDeviceId)), "and has its check characters");
  } else {
    FUZZ_CHECK(registration.serverDeviceId.empty(), "only an accepted answer carries an ID");
  }
  const RegistrationAnswer broken = ParseRegistrationAnswer(L"\r\n" + answer + L"\n");
  FUZZ_CHECK(broken.verdict == registration.verdict && broken.serverDeviceId == registration.serverDeviceId,
             "line breaks do not change the verdict");
  IsVersioningAccepted(answer);

  // A failure's detail fits the message window: bounded and readable.
  const std::wstring shown = ShownDetail(answer);
  FUZZ_CHECK(shown.size() <= kMaxShownDetailChars + 3, "the detail is bounded");
  for (const wchar_t c : shown) {
    FUZZ_CHECK(c >= 0x20 && c != 0x7F, "the detail has no control characters");
  }
  FUZZ_CHECK(shown.find(L"  ") == std::wstring::npos, "a run of white space shows as one blank");
  return 0;
}
