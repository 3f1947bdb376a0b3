// lang.xml, the language of every window and of Ravel's menu entry: the
// program's reader, the state files' reader and writer, and Ravel's reader
// agree, and a language written reads back.
#include "app/store/state_files.h"
#include "app/store/xml_util.h"
#include "fuzz/fuzz_support.h"
#include "shellext/ravel_texts.h"

namespace orlin::fuzz {
namespace {

// The elements of the file, with their attributes and texts, the language's
// own text aside: what a write of the language must leave as it was (the
// printer may lay out white space, comments and text outside the root
// differently, which no reader sees).
void Describe(const tinyxml2::XMLElement* element, const tinyxml2::XMLElement* language, std::string& out) {
  out += '<';
  out += element->Name();
  for (const tinyxml2::XMLAttribute* a = element->FirstAttribute(); a; a = a->Next()) {
    out += ' ';
    out += a->Name();
    out += '=';
    out += a->Value();
  }
  out += '>';
  for (const tinyxml2::XMLNode* child = element->FirstChild(); child; child = child->NextSibling()) {
    if (const tinyxml2::XMLElement* e = child->ToElement()) {
      Describe(e, language, out);
    } else if (const tinyxml2::XMLText* text = child->ToText(); text != nullptr && element != language) {
      const std::string_view value = text->Value();
      if (value.find_first_not_of(" \t\r\n") != std::string_view::npos) out += value;
    }
  }
  out += "</>";
}

std::string Elements(const std::filesystem::path& file) {
  StateXmlDocument doc;
  if (!LoadXmlFile(file, doc)) return "(not loaded)";
  std::string out;
  Describe(doc.RootElement(), doc.RootElement()->FirstChildElement("lang"), out);
  return out;
}

void Run(std::string_view bytes) {
  static const InstallLayout layout = [] {
    InstallLayout made{ScratchDir() / "lang"};
    std::filesystem::create_directories(made.installDir);
    return made;
  }();
  WriteInput(layout.LangFile(), bytes);
  QuietPresenter presenter;
  StateFiles files(layout, presenter);

  const std::optional<std::wstring> language = ReadLanguageFile(layout.installDir);
  FUZZ_CHECK(files.ReadLanguage() == language, "both readers of the program agree");
  FUZZ_CHECK(ravel::ReadLanguage(layout.LangFile()) == language.value_or(L"zh_cn"), "Ravel reads the same");
  if (!language) return;

  // A language written reads back, and writing the old one again leaves
  // the rest of the file as a save of the original would have.
  const std::string before = Elements(layout.LangFile());
  FUZZ_CHECK(files.WriteLanguage(L"en"), "a readable lang.xml takes a language");
  FUZZ_CHECK(files.ReadLanguage() == L"en", "the language written reads back");
  FUZZ_CHECK(files.WriteLanguage(*language), "and takes the old one again");
  if (language->find(L'\r') == std::wstring::npos) {
    FUZZ_CHECK(files.ReadLanguage() == language, "the old language reads back");
    FUZZ_CHECK(Elements(layout.LangFile()) == before, "nothing else of the file changed");
  }
  FUZZ_CHECK(presenter.shown == 0, "no message while the file is readable");
}

}  // namespace
}  // namespace orlin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orlin::fuzz::Run(orlin::fuzz::Bytes(data, size));
  return 0;
}
