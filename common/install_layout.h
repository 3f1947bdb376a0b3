#pragma once
// Where Orlin's files lie. The install directory is the directory of the
// running executable; everything else is built by appending to it. Tests and
// tools construct a layout for any directory.

#include <filesystem>

namespace orlin {

struct InstallLayout {
  std::filesystem::path installDir;

  std::filesystem::path EngineHome() const { return installDir / "syncconfig"; }
  std::filesystem::path EngineConfig() const { return EngineHome() / "config.xml"; }
  std::filesystem::path Marker() const { return EngineHome() / "config.xml.configured"; }
  std::filesystem::path AccountArchive() const { return EngineHome() / "config.xml.tarncloud"; }
  // The fingerprint of the Tarn server's certificate, kept from the login.
  std::filesystem::path ServerCertificate() const { return EngineHome() / "config.xml.certificate"; }
  std::filesystem::path UserConfig() const { return installDir / "userconfig.xml"; }
  std::filesystem::path LangFile() const { return installDir / "lang.xml"; }
  std::filesystem::path SettingFile() const { return installDir / "setting.xml"; }
  std::filesystem::path EngineExecutable() const { return installDir / "Sync.exe"; }
  std::filesystem::path SkinDir() const { return installDir; }
  std::filesystem::path ResDir() const { return installDir / "res"; }
  // Orlin's own program, with the extension its sibling programs carry:
  // "orlin" on Linux, "Orlin.exe" (the installed name) on Windows.
  std::filesystem::path OrlinProgram(const std::filesystem::path& extension) const {
    if (extension.empty()) return installDir / "orlin";
    return installDir / ("Orlin" + extension.string());
  }
};

}  // namespace orlin
