#pragma once
// The user's desktop shell: open a folder or a web address in the programs
// the user chose for them, and show one file selected in the file manager.
//
// Every call starts the helper program detached and returns at once, without
// waiting for it: the caller is often the UI thread. Arguments reach the
// helper as separate words, never through a command interpreter, so a path
// with blanks, quotes, "$(...)" or a leading dash is passed on as it is.
//
// Linux: `xdg-open` opens; showing a file asks the session's file manager
// over D-Bus (org.freedesktop.FileManager1.ShowItems through `gdbus`, or
// `dbus-send` when gdbus is missing) when a session bus exists, and opens the
// containing folder when there is none or the file manager does not answer.
// Windows: ShellExecuteW "open"; showing a file starts the Windows
// directory's explorer.exe with "/e, /select, " and the quoted path, and
// falls back to SHOpenFolderAndSelectItems, then to opening the folder.
//
// Threads: any thread, also several at once.

#include <filesystem>
#include <string>
#include <vector>

namespace orlin::platform {

// Opens `folder` (made absolute first). False when no program could be
// started for it.
bool OpenFolder(const std::filesystem::path& folder);

// Shows the file manager with `item` selected in its folder; opens the
// folder containing `item` where selecting is not available. False when no
// program could be started.
bool ShowItemInFolder(const std::filesystem::path& item);

// Opens `url` in the user's browser. Only addresses with a scheme
// ("https://...", "http://...") are opened; anything else gives false, so a
// text that looks like an option or a local program is never handed on.
bool OpenUrl(const std::string& url);

// Starts `program` detached with `arguments` (each reaches it as one word,
// whatever it holds) in `workingDirectory`, shown normally, and does not
// wait for it. Windows: ShellExecuteW "open" with the words quoted as the
// program's command line splits them, SW_SHOW. False when it could not be
// started.
bool StartProgram(const std::filesystem::path& program, const std::vector<std::wstring>& arguments,
                  const std::filesystem::path& workingDirectory);

// The file: URI of an absolute path: every byte of its UTF-8 form outside
// the unreserved characters and "/" percent-encoded. Exposed for tests.
std::string FileUri(const std::filesystem::path& absolutePath);

}  // namespace orlin::platform
