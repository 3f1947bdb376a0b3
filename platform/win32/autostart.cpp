// On Windows the Run value and the namespace keys in the registry are the
// whole mechanism; the session keeps no entries of its own.

#include "platform/autostart.h"

namespace orlin::platform {

bool SessionEntriesSupported() { return false; }

std::filesystem::path SessionConfigHome(const SessionLocation& /*location*/) { return {}; }

bool WriteSessionAutostart(const std::filesystem::path& /*executable*/, const SessionLocation& /*location*/) {
  return true;
}

bool RemoveSessionAutostart(const SessionLocation& /*location*/) { return true; }

bool SessionAutostartStarts(const std::filesystem::path& /*executable*/, const SessionLocation& /*location*/) {
  return true;
}

bool AddFileManagerPlace(const std::filesystem::path& /*folder*/, const std::wstring& /*label*/,
                         const SessionLocation& /*location*/) {
  return true;
}

bool RemoveFileManagerPlace(const std::wstring& /*label*/, const SessionLocation& /*location*/) { return true; }

bool FileManagerPlaceExists(const std::wstring& /*label*/, const SessionLocation& /*location*/) { return true; }

}  // namespace orlin::platform
