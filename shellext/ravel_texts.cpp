#include "shellext/ravel_texts.h"

#include <tinyxml2.h>

#include <fstream>
#include <sstream>

#include "common/text.h"

namespace orlin::ravel {

namespace {
constexpr wchar_t kChinese[] = L"zh_cn";
}

std::wstring ReadLanguage(const std::filesystem::path& langFile) {
  // Read through a stream of our own: tinyxml2's file loading takes a
  // narrow path, which on Windows cannot name every directory.
  std::ifstream in(langFile, std::ios::binary);
  if (!in) return kChinese;
  std::stringstream text;
  text << in.rdbuf();
  const std::string content = text.str();
  tinyxml2::XMLDocument doc;
  if (doc.Parse(content.data(), content.size()) != tinyxml2::XML_SUCCESS || !doc.RootElement()) return kChinese;
  const auto* lang = doc.RootElement()->FirstChildElement("lang");
  if (!lang) return kChinese;
  const char* value = lang->GetText();
  return value ? Utf8ToWide(value) : std::wstring{};
}

std::wstring MenuEntryText(const std::wstring& language) {
  return language == kChinese ? L"使用 Orlin 同步" : L"Using Orlin to Synchronize";
}

std::wstring HelpText(const std::wstring& language, bool folder) {
  if (language == kChinese) return std::wstring(L"将该") + (folder ? L"文件夹" : L"文件") + L"复制到Tarn Cloud 同步文件夹里进行自动同步";
  return std::wstring(L"Copy the ") + (folder ? L"folder" : L"file") +
         L" to the Tarn Cloud Synchro Folder for automatic synchronization";
}

}  // namespace orlin::ravel
