// userconfig.xml (the user's sync folder and default flag) and setting.xml
// (DPI and the taskbar style): every read, and every write read back.
#include "app/store/state_files.h"
#include "app/store/xml_util.h"
#include "common/text.h"
#include "fuzz/fuzz_support.h"

namespace orlin::fuzz {
namespace {

// The name of the first entry, as the file has it: the user the file knows.
std::wstring FirstUserName(const std::filesystem::path& file) {
  StateXmlDocument doc;
  if (!LoadXmlFile(file, doc)) return L"alice";
  const tinyxml2::XMLElement* entry = doc.RootElement()->FirstChildElement();
  const char* name = entry ? entry->Attribute("name") : nullptr;
  return name ? Utf8ToWide(name) : L"alice";
}

void UserConfig(StateFiles& files, QuietPresenter& presenter, std::size_t variant) {
  const InstallLayout& layout = files.layout();
  const std::wstring user = FirstUserName(layout.UserConfig());
  files.ReadUserEntry(user);
  const bool loaded = presenter.shown == 0;
  files.UserHasDefault(user);
  files.IsPathTakenByAnotherUser(L"/home/alice/Tarn", user);
  if (!loaded) return;
  FUZZ_CHECK(presenter.shown == 0, "a readable userconfig.xml shows no message");

  const UserEntry wanted{L"/home/\u7528\u6237/a&b <\"Tarn\">", variant % 2 == 0};
  FUZZ_CHECK(files.WriteUserEntry(user, wanted), "a readable userconfig.xml takes an entry");
  FUZZ_CHECK(files.ReadUserEntry(user) == wanted, "the entry written reads back");
  FUZZ_CHECK(files.UserHasDefault(user) == wanted.isDefault, "with its default flag");
  FUZZ_CHECK(!files.IsPathTakenByAnotherUser(wanted.path, user), "the user's own path is not another's");
  FUZZ_CHECK(files.WriteUserPath(user, L"/elsewhere") && files.ReadUserEntry(user)->path == L"/elsewhere",
             "the path alone changes");
  FUZZ_CHECK(files.WriteUserDefault(user, !wanted.isDefault) && files.UserHasDefault(user) == !wanted.isDefault,
             "the flag alone changes");
}

// Whether setting.xml has General/<name>: only an existing element takes a write.
bool HasSetting(const std::filesystem::path& file, const char* name) {
  StateXmlDocument doc;
  return LoadXmlFile(file, doc) && FirstChild(FirstChild(doc.RootElement(), "General"), name) != nullptr;
}

void Setting(StateFiles& files, QuietPresenter& presenter, std::size_t variant) {
  const int dpi = files.ReadDpi(120);
  FUZZ_CHECK(dpi >= StateFiles::kMinDpi && dpi <= StateFiles::kMaxDpi, "the DPI is within 96..192");
  const bool loaded = presenter.shown == 0;
  files.ReadTaskbarStyle(false);
  if (!loaded) return;

  const int wantedDpi = 96 + static_cast<int>(variant % 97);
  const std::filesystem::path& file = files.layout().SettingFile();
  const bool hasDpi = HasSetting(file, "DPI");
  FUZZ_CHECK(files.WriteDpi(wantedDpi, false), "a readable setting.xml takes a DPI");
  if (hasDpi) FUZZ_CHECK(files.ReadDpi(120) == wantedDpi, "a DPI written reads back");
  FUZZ_CHECK(HasSetting(file, "DPI") == hasDpi, "a missing DPI element is not created");
  const bool hasStyle = HasSetting(file, "WndStyles");
  const bool hide = variant % 2 == 1;
  FUZZ_CHECK(files.WriteTaskbarStyle(hide), "a readable setting.xml takes the taskbar style");
  if (hasStyle) FUZZ_CHECK(files.ReadTaskbarStyle(!hide) == hide, "the taskbar style written reads back");
  FUZZ_CHECK(presenter.shown == 0, "a readable setting.xml shows no message");
}

void Run(std::string_view bytes, std::size_t variant) {
  static const InstallLayout layout = [] {
    InstallLayout made{ScratchDir() / "state"};
    std::filesystem::create_directories(made.installDir);
    return made;
  }();
  {
    WriteInput(layout.UserConfig(), bytes);
    QuietPresenter presenter;
    StateFiles files(layout, presenter);
    UserConfig(files, presenter, variant);
  }
  {
    WriteInput(layout.SettingFile(), bytes);
    QuietPresenter presenter;
    StateFiles files(layout, presenter);
    Setting(files, presenter, variant);
  }
}

}  // namespace
}  // namespace orlin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orlin::fuzz::Run(orlin::fuzz::Bytes(data, size), size);
  return 0;
}
