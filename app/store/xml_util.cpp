#include "app/store/xml_util.h"

#include <string>
#include <string_view>

#include "common/atomic_file.h"

namespace orlin {

bool LoadXmlFile(const std::filesystem::path& file, tinyxml2::XMLDocument& doc) {
  std::string text;
  if (!ReadWholeFile(file, text)) return false;
  if (doc.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) return false;
  return doc.RootElement() != nullptr;
}

std::error_code SaveXmlFile(const tinyxml2::XMLDocument& doc, const std::filesystem::path& file) {
  tinyxml2::XMLPrinter printer(nullptr, /*compact=*/false);
  if (doc.HasBOM()) printer.PushHeader(/*writeBOM=*/true, /*writeDeclaration=*/false);
  // Text outside the root element (junk after it, as a hand-edited file may
  // have) is no content of the document. tinyxml2 reads such text when a tag
  // follows it but not when it ends the file, which is where it would be
  // printed: a save would make a readable file unreadable. It is left out.
  for (const tinyxml2::XMLNode* node = doc.FirstChild(); node != nullptr; node = node->NextSibling()) {
    if (node->ToText() == nullptr) node->Accept(&printer);
  }
  // CStrSize counts the terminating NUL.
  const int size = printer.CStrSize();
  return WriteFileAtomically(file, std::string_view(printer.CStr(), size > 0 ? static_cast<std::size_t>(size - 1) : 0));
}

tinyxml2::XMLElement* FirstChild(tinyxml2::XMLNode* parent, const char* name) {
  return parent ? parent->FirstChildElement(name) : nullptr;
}

}  // namespace orlin
