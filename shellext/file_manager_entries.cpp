#include "shellext/file_manager_entries.h"

#include <tinyxml2.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/atomic_file.h"
#include "common/text.h"
#include "shellext/ravel_texts.h"

namespace orlin::ravel {
namespace {

namespace fs = std::filesystem;

// Every file of ours says so on a line of its own; a file without it is the
// user's.
constexpr char kMarker[] = "orlin-ravel";
constexpr char kFolderId[] = "orlin-ravel-folder";
constexpr char kFileId[] = "orlin-ravel-file";

std::string U8(const std::wstring& text) { return WideToUtf8(text); }

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A word for sh and for GLib's command-line parsing (Nemo, Thunar).
std::string ShellQuote(const std::string& word) {
  std::string out = "'";
  for (char c : word) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out.push_back(c);
    }
  }
  return out + "'";
}

// An argument of a desktop entry's Exec key: double-quoted with the
// reserved characters escaped, then escaped again as a desktop-file string.
std::string DesktopExecQuote(const std::string& word) {
  std::string quoted = "\"";
  for (char c : word) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted.push_back('\\');
    quoted.push_back(c);
  }
  quoted += "\"";
  std::string out;
  for (char c : quoted) {
    if (c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// A desktop-file value on one line.
std::string DesktopValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

struct Entry {
  fs::path file;
  std::string content;
  bool executable = false;
};

std::string NautilusScript(const fs::path& ravel) {
  // Nautilus runs a script in the folder it shows, with the selected names
  // as arguments; ravel takes the first and makes it absolute.
  return "#!/bin/sh\n# " + std::string(kMarker) + ": hands the first selected item to Orlin.\nexec " +
         ShellQuote(ravel.string()) + " \"$@\"\n";
}

std::string ServiceMenu(const fs::path& ravel, const fs::path& icon, const std::wstring& language, bool folder) {
  std::string out = "[Desktop Entry]\n";
  out += "# " + std::string(kMarker) + "\n";
  out += "Type=Service\n";
  out += std::string("MimeType=") + (folder ? "inode/directory;" : "all/allfiles;") + "\n";
  out += "Actions=orlinRavel\n";
  out += "X-KDE-Priority=TopLevel\n\n";
  out += "[Desktop Action orlinRavel]\n";
  out += "Name=" + DesktopValue(U8(MenuEntryText(language))) + "\n";
  out += "Comment=" + DesktopValue(U8(HelpText(language, folder))) + "\n";
  out += "Icon=" + DesktopValue(icon.string()) + "\n";
  out += "Exec=" + DesktopExecQuote(ravel.string()) + " %f\n";
  return out;
}

std::string NemoAction(const fs::path& ravel, const fs::path& icon, const std::wstring& language, bool folder) {
  std::string out = "[Nemo Action]\n";
  out += "# " + std::string(kMarker) + "\n";
  out += "Active=true\n";
  out += "Name=" + DesktopValue(U8(MenuEntryText(language))) + "\n";
  out += "Comment=" + DesktopValue(U8(HelpText(language, folder))) + "\n";
  out += "Icon-Name=" + DesktopValue(icon.string()) + "\n";
  // %F: the selected paths, quoted by Nemo; ravel takes the first.
  out += "Exec=" + ShellQuote(ravel.string()) + " %F\n";
  out += "Selection=notnone\n";
  out += std::string("Extensions=") + (folder ? "dir;" : "nodirs;") + "\n";
  return out;
}

std::vector<Entry> FileEntries(const EntryPlaces& places, const fs::path& ravel, const fs::path& icon,
                               const std::wstring& language) {
  const fs::path services = places.dataHome / "kio" / "servicemenus";
  const fs::path nemo = places.dataHome / "nemo" / "actions";
  return {
      {places.dataHome / "nautilus" / "scripts" / PathFromWide(MenuEntryText(language)), NautilusScript(ravel), true},
      // Dolphin runs only service menus that may be executed.
      {services / (std::string(kFolderId) + ".desktop"), ServiceMenu(ravel, icon, language, true), true},
      {services / (std::string(kFileId) + ".desktop"), ServiceMenu(ravel, icon, language, false), true},
      {nemo / (std::string(kFolderId) + ".nemo_action"), NemoAction(ravel, icon, language, true), false},
      {nemo / (std::string(kFileId) + ".nemo_action"), NemoAction(ravel, icon, language, false), false},
  };
}

bool IsOurs(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return false;
  return ReadAll(file).find(std::string("# ") + kMarker) != std::string::npos;
}

void Write(const Entry& entry, EntriesRun& run) {
  std::error_code ec;
  const bool exists = fs::exists(fs::symlink_status(entry.file, ec));
  if (exists) {
    if (!IsOurs(entry.file)) return;  // the user's own file of that name
    if (ReadAll(entry.file) == entry.content) return;
  }
  fs::create_directories(entry.file.parent_path(), ec);
  if (WriteFileAtomically(entry.file, entry.content)) {
    run.failures.push_back("cannot write " + entry.file.string());
    return;
  }
  if (entry.executable) {
    fs::permissions(entry.file, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, ec);
  }
  run.written.push_back(entry.file);
}

void RemoveIfOurs(const fs::path& file, EntriesRun& run) {
  if (!IsOurs(file)) return;
  std::error_code ec;
  if (fs::remove(file, ec)) {
    run.written.push_back(file);
  } else if (ec) {
    run.failures.push_back("cannot remove " + file.string());
  }
}

// Thunar's custom actions: our two <action> elements, found by unique-id.
void ThunarAction(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* actions, const char* id, const fs::path& ravel,
                  const fs::path& icon, const std::wstring& language, bool folder) {
  tinyxml2::XMLElement* action = nullptr;
  for (auto* a = actions->FirstChildElement("action"); a; a = a->NextSiblingElement("action")) {
    const auto* uid = a->FirstChildElement("unique-id");
    if (uid && uid->GetText() && std::string(uid->GetText()) == id) {
      action = a;
      break;
    }
  }
  if (!action) action = actions->InsertNewChildElement("action");
  action->DeleteChildren();
  action->InsertNewChildElement("icon")->SetText(icon.string().c_str());
  action->InsertNewChildElement("name")->SetText(U8(MenuEntryText(language)).c_str());
  action->InsertNewChildElement("unique-id")->SetText(id);
  // %f: the first selected path, quoted by Thunar.
  action->InsertNewChildElement("command")->SetText((ShellQuote(ravel.string()) + " %f").c_str());
  action->InsertNewChildElement("description")->SetText(U8(HelpText(language, folder)).c_str());
  action->InsertNewChildElement("patterns")->SetText("*");
  if (folder) {
    action->InsertNewChildElement("directories");
  } else {
    for (const char* kind : {"audio-files", "image-files", "other-files", "text-files", "video-files"}) {
      action->InsertNewChildElement(kind);
    }
  }
}

std::string PrintXml(tinyxml2::XMLDocument& doc) {
  tinyxml2::XMLPrinter printer;
  doc.Print(&printer);
  return printer.CStr();
}

void UpdateThunar(const EntryPlaces& places, const fs::path* ravel, const fs::path* icon, const std::wstring& language,
                  EntriesRun& run) {
  const fs::path file = places.configHome / "Thunar" / "uca.xml";
  std::error_code ec;
  tinyxml2::XMLDocument doc;
  std::string before;
  if (fs::exists(file, ec)) {
    before = ReadAll(file);
    if (doc.Parse(before.data(), before.size()) != tinyxml2::XML_SUCCESS) {
      // The user's actions are in there: a file we cannot read stays as it is.
      run.failures.push_back(file.string() + " is not readable XML; left as it is");
      return;
    }
  } else if (!ravel) {
    return;
  }
  auto* actions = doc.FirstChildElement("actions");
  if (!actions) {
    if (!ravel) return;
    if (doc.RootElement()) {
      run.failures.push_back(file.string() + " holds no <actions>; left as it is");
      return;
    }
    if (!doc.FirstChild()) doc.InsertFirstChild(doc.NewDeclaration());
    actions = doc.InsertEndChild(doc.NewElement("actions"))->ToElement();
  }
  if (ravel) {
    ThunarAction(doc, actions, kFolderId, *ravel, *icon, language, true);
    ThunarAction(doc, actions, kFileId, *ravel, *icon, language, false);
  } else {
    for (auto* a = actions->FirstChildElement("action"); a;) {
      auto* next = a->NextSiblingElement("action");
      const auto* uid = a->FirstChildElement("unique-id");
      const std::string id = uid && uid->GetText() ? uid->GetText() : "";
      if (id == kFolderId || id == kFileId) actions->DeleteChild(a);
      a = next;
    }
  }
  const std::string after = PrintXml(doc);
  if (after == before) return;
  // Thunar writes the file itself without our actions only when the user
  // edits actions; we change ours and keep everything else.
  {
    tinyxml2::XMLDocument check;
    if (!before.empty() && check.Parse(before.data(), before.size()) == tinyxml2::XML_SUCCESS &&
        PrintXml(check) == after) {
      return;
    }
  }
  fs::create_directories(file.parent_path(), ec);
  if (WriteFileAtomically(file, after)) {
    run.failures.push_back("cannot write " + file.string());
    return;
  }
  run.written.push_back(file);
}

}  // namespace

EntryPlaces EntryPlaces::FromEnvironment() {
  EntryPlaces places;
  const char* home = std::getenv("HOME");
  const char* data = std::getenv("XDG_DATA_HOME");
  const char* config = std::getenv("XDG_CONFIG_HOME");
  // Relative values are to be ignored, as the base directory rules say.
  if (data && *data == '/') {
    places.dataHome = data;
  } else if (home && *home) {
    places.dataHome = fs::path(home) / ".local" / "share";
  }
  if (config && *config == '/') {
    places.configHome = config;
  } else if (home && *home) {
    places.configHome = fs::path(home) / ".config";
  }
  return places;
}

EntriesRun InstallFileManagerEntries(const EntryPlaces& places, const fs::path& ravel, const fs::path& icon,
                                     const std::wstring& language) {
  EntriesRun run;
  if (places.dataHome.empty() || places.configHome.empty()) {
    run.failures.push_back("no home directory to install the file-manager entries in");
    return run;
  }
  for (const auto& entry : FileEntries(places, ravel, icon, language)) Write(entry, run);
  // The Nautilus script is named by its entry text: the other language's
  // script of ours goes.
  for (const wchar_t* other : {L"en", L"zh_cn"}) {
    const std::wstring otherName = MenuEntryText(other);
    if (otherName != MenuEntryText(language)) {
      RemoveIfOurs(places.dataHome / "nautilus" / "scripts" / PathFromWide(otherName), run);
    }
  }
  UpdateThunar(places, &ravel, &icon, language, run);
  return run;
}

EntriesRun RemoveFileManagerEntries(const EntryPlaces& places) {
  EntriesRun run;
  if (places.dataHome.empty() || places.configHome.empty()) return run;
  for (const wchar_t* language : {L"en", L"zh_cn"}) {
    for (const auto& entry : FileEntries(places, {}, {}, language)) RemoveIfOurs(entry.file, run);
  }
  UpdateThunar(places, nullptr, nullptr, L"", run);
  return run;
}

}  // namespace orlin::ravel
