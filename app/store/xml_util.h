#pragma once
// How Orlin's XML state files are loaded and saved: read whole, parsed with
// entity processing on and whitespace inside text kept, saved whole in the
// indented form through an atomic replace (a crash or a full disk never
// leaves half a file behind).

#include <filesystem>
#include <system_error>

#include <tinyxml2.h>

namespace orlin {

// A document set up the way every state file is parsed.
class StateXmlDocument : public tinyxml2::XMLDocument {
 public:
  StateXmlDocument() : tinyxml2::XMLDocument(/*processEntities=*/true, tinyxml2::PRESERVE_WHITESPACE) {}
};

// False when the file cannot be read, is not well-formed XML or has no root
// element.
bool LoadXmlFile(const std::filesystem::path& file, tinyxml2::XMLDocument& doc);

std::error_code SaveXmlFile(const tinyxml2::XMLDocument& doc, const std::filesystem::path& file);

// The first child element of `parent` named `name`, or nullptr.
tinyxml2::XMLElement* FirstChild(tinyxml2::XMLNode* parent, const char* name);

}  // namespace orlin
