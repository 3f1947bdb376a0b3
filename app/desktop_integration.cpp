#include "app/desktop_integration.h"

#include "common/text.h"
#include "platform/executable_path.h"

namespace orlin {
namespace {

using platform::CRegistry;
using platform::RegistryRoot;

}  // namespace

DesktopIntegration::DesktopIntegration(DesktopIntegrationConfig config)
    : openCurrentUser_(std::move(config.openCurrentUser)),
      session_(std::move(config.session)),
      executable_(config.executable.empty() ? platform::ExecutablePath() : std::move(config.executable)) {
  if (!openCurrentUser_) {
    openCurrentUser_ = [location = std::move(config.registry)] {
      return std::make_unique<CRegistry>(RegistryRoot::kCurrentUser, location);
    };
  }
}

bool DesktopIntegration::AutostartEnabled() const {
  const auto registry = openCurrentUser_();
  platform::Registry& reg = *registry;
  std::wstring stored;
  if (!reg.OpenKey(kRunKey) || !reg.ReadString(kRunValueName, stored)) return false;
  if (executable_.empty() || stored != WideFromPath(executable_)) return false;
  return platform::SessionAutostartStarts(executable_, session_);
}

void DesktopIntegration::SetAutostart(bool enabled) const {
  const auto registry = openCurrentUser_();
  platform::Registry& reg = *registry;
  if (enabled) {
    if (executable_.empty()) return;
    if (reg.CreateKey(kRunKey)) reg.WriteString(kRunValueName, WideFromPath(executable_));
    platform::WriteSessionAutostart(executable_, session_);
  } else {
    if (reg.OpenKey(kRunKey)) reg.DeleteValue(kRunValueName);
    platform::RemoveSessionAutostart(session_);
  }
}

bool DesktopIntegration::NamespaceEntryPresent() const {
  const auto registry = openCurrentUser_();
  platform::Registry& reg = *registry;
  if (!reg.OpenKey(std::wstring(kClsidKey) + L"\\Shell\\Open\\Command")) return false;
  reg.Close();
  if (!reg.OpenKey(kNamespaceKey)) return false;
  return platform::FileManagerPlaceExists(kEntryName, session_);
}

NamespaceEntryResult DesktopIntegration::CreateNamespaceEntry(const std::filesystem::path& syncFolder) const {
  const std::wstring exe = WideFromPath(executable_);
  if (exe.empty() || exe.size() > kMaxExecutablePathChars) return {false, L""};

  const auto registry = openCurrentUser_();
  platform::Registry& reg = *registry;
  // A value that cannot be written leaves an entry that opens nothing, so it
  // fails the step like a key that cannot be created.
  const auto step = [&reg](std::wstring_view key, std::wstring_view value, const wchar_t* failedName,
                           NamespaceEntryResult& result) {
    if (reg.CreateKey(key) && reg.WriteString(L"", value)) return true;
    reg.Close();
    result = {false, failedName};
    return false;
  };

  NamespaceEntryResult result{true, L""};
  if (!step(kNamespaceKey, kEntryName, kNamespaceClsid, result)) return result;
  reg.Close();
  if (!step(kClsidKey, kEntryName, kNamespaceClsid, result)) return result;
  if (!step(L"DefaultIcon", exe, L"DefaultIcon", result)) return result;
  reg.Close();
  if (!reg.CreateKey(std::wstring(kClsidKey) + L"\\shell")) {
    reg.Close();
    return {false, L"Shell"};
  }
  if (!step(L"Open\\Command", exe, L"Command", result)) return result;
  reg.Close();

  if (!platform::AddFileManagerPlace(syncFolder, kEntryName, session_)) return {false, L"bookmarks"};
  return result;
}

void DesktopIntegration::RemoveNamespaceEntry() const {
  const auto registry = openCurrentUser_();
  platform::Registry& reg = *registry;
  reg.DeleteKey(kNamespaceKey);
  reg.DeleteKey(kClsidKey);
  platform::RemoveFileManagerPlace(kEntryName, session_);
}

}  // namespace orlin
