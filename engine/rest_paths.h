#pragma once
// Where the engine's REST interface answers and how its URLs and its key
// header are written. Every request to the engine, blocking or on the request
// loop, and every URL the status poller compares an answer with, is built
// here, so a request and the comparison of its answer cannot drift apart.
//
// The folder identifier is the user name followed by the server's device ID,
// so it can hold blanks, '&', '#', '+', '%' or any other character a user
// name may have. It is percent-encoded wherever it goes into a query: raw, a
// '#' would cut the URL, an '&' would end the parameter, a '+' would reach the
// engine as a blank and a blank would make the URL invalid.
//
// Pure functions; usable from any thread.

#include <string>
#include <string_view>

namespace orlin::rest {

// The product's REST address, and the diagnostic one of the add-folder
// command. Both end with "/rest/"; the endpoints below are relative to them.
inline constexpr std::string_view kBase = "http://localhost:18384/rest/";
inline constexpr std::string_view kDiagnosticBase = "http://localhost:8384/rest/";

inline constexpr std::string_view kSystemStatus = "system/status";
inline constexpr std::string_view kSystemConfig = "system/config";
inline constexpr std::string_view kSystemRestart = "system/restart";
inline constexpr std::string_view kSystemReset = "system/reset";
inline constexpr std::string_view kSystemConnections = "system/connections";
inline constexpr std::string_view kSystemDiscovery = "system/discovery";
inline constexpr std::string_view kSystemVersion = "system/version";
inline constexpr std::string_view kSystemError = "system/error";
inline constexpr std::string_view kStatsFolder = "stats/folder";
inline constexpr std::string_view kEvents = "events";
inline constexpr std::string_view kDiskEvents = "events/disk";
inline constexpr std::string_view kDbScan = "db/scan";
inline constexpr std::string_view kDbRevert = "db/revert";
inline constexpr std::string_view kDbOverride = "db/override";
inline constexpr std::string_view kDbStatus = "db/status";
inline constexpr std::string_view kDbNeed = "db/need";
inline constexpr std::string_view kDbCompletion = "db/completion";
inline constexpr std::string_view kDbLocalChanged = "db/localchanged";
inline constexpr std::string_view kFolderErrors = "folder/errors";
inline constexpr std::string_view kRandomString = "svc/random/string";

// The header line every request carries: "X-API-Key: " and the key.
inline std::string KeyHeader(std::string_view apiKey) {
  std::string line = "X-API-Key: ";
  line += apiKey;
  return line;
}

// RFC 3986 percent-encoding of UTF-8 text: the unreserved characters
// (A-Z a-z 0-9 - . _ ~) stay, every other byte becomes %XX in upper case.
inline std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~';
    if (unreserved) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
  return out;
}

// <base><endpoint>, e.g. "http://localhost:18384/rest/system/status".
inline std::string Url(std::string_view endpoint, std::string_view base = kBase) {
  std::string url(base);
  url += endpoint;
  return url;
}

// <base><endpoint>?folder=<encoded folder id>; further parameters are
// appended by the caller ("&page=1&perpage=1000").
inline std::string FolderUrl(std::string_view endpoint, std::string_view folderId, std::string_view base = kBase) {
  std::string url = Url(endpoint, base);
  url += "?folder=";
  url += PercentEncode(folderId);
  return url;
}

}  // namespace orlin::rest
