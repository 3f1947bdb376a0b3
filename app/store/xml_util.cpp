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
  doc.Print(&printer);
  // CStrSize counts the terminating NUL.
  const int size = printer.CStrSize();
  return WriteFileAtomically(file, std::string_view(printer.CStr(), size > 0 ? static_cast<std::size_t>(size - 1) : 0));
}

tinyxml2::XMLElement* FirstChild(tinyxml2::XMLNode* parent, const char* name) {
  return parent ? parent->FirstChildElement(name) : nullptr;
}

}  // namespace orlin
