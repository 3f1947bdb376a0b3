#pragma once
// What orlin-skin-preview does whatever backend shows the window: reads the
// command line, prepares a scratch instance folder in the chosen language and
// builds the window the command line asks for (a skin, the tray menu of a
// menu skin, or the message window). The backend's own program installs the
// backend, lets the window settle and takes its picture.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "ui/dui/window_impl_base.h"

namespace orlin::preview {

struct PreviewRequest {
  std::filesystem::path out;
  std::optional<std::filesystem::path> resources;  // default: the program's folder
  std::string lang = "en";
  std::wstring skin;  // empty with a message key: msg.xml
  std::optional<std::string> messageKey;
  int cx = dui::kCwUseDefault, cy = dui::kCwUseDefault;
  int dpi = 96;
};

// Null after printing the usage when the command line is not understood.
std::optional<PreviewRequest> ParseRequest(int argc, char** argv);

// A scratch instance folder holding lang.xml in the request's language (the
// message window reads it there), gone with the object.
class ScratchInstance {
 public:
  explicit ScratchInstance(const std::string& lang);
  ~ScratchInstance();
  ScratchInstance(const ScratchInstance&) = delete;
  ScratchInstance& operator=(const ScratchInstance&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// With a backend installed: sets the folders and the language, builds the
// window and shows it. Null, after saying why on standard error, when the
// skin cannot be built.
std::unique_ptr<dui::WindowImplBase> ShowPreview(const PreviewRequest& request,
                                                 const std::filesystem::path& programDir,
                                                 const ScratchInstance& instance);

}  // namespace orlin::preview
