// The credentials marker (config.xml.configured): three scrambled lines read
// back to server, user name and password.
#include "app/store/state_cipher.h"
#include "app/store/state_files.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orlin;
  static const InstallLayout layout = [] {
    InstallLayout made{fuzz::ScratchDir() / "marker"};
    std::filesystem::create_directories(made.EngineHome());
    return made;
  }();
  const std::string_view bytes = fuzz::Bytes(data, size);

  // Each line on its own, under each key: a text read is scrambled back to
  // letters that read the same text.
  for (const std::uint16_t key : {StateCipher::kServerKey, StateCipher::kUserKey, StateCipher::kPasswordKey}) {
    const std::optional<std::wstring> text = StateCipher::Unscramble(bytes, key);
    if (!text) continue;
    const std::string letters = StateCipher::Scramble(*text, key);
    FUZZ_CHECK(letters.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos, "letters only");
    FUZZ_CHECK(StateCipher::Unscramble(letters, key) == text, "a text read is scrambled back to itself");
  }

  fuzz::QuietPresenter presenter;
  StateFiles files(layout, presenter);
  fuzz::WriteInput(layout.Marker(), bytes);
  const std::optional<MarkerLines> lines = files.ReadMarker();
  if (!lines) return 0;
  FUZZ_CHECK(files.CreateMarker(*lines), "the marker is written");
  FUZZ_CHECK(files.ReadMarker() == lines, "a marker read is written back unchanged");
  return 0;
}
