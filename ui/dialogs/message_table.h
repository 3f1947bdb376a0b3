#pragma once
// The message window's texts. Callers pass a message key; the text comes
// from this fixed two-language table, in the language of lang.xml: "zh_cn"
// selects Simplified Chinese, any other code English (an unreadable lang.xml
// counts as "zh_cn"). Keys are compared
// without regard to ASCII case, in table order; the first match wins.

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orlin {

struct MessageEntry {
  const wchar_t* key;
  const wchar_t* english;
  const wchar_t* chinese;
};

inline constexpr wchar_t kLoginFailedKey[] = L"Login_Failed_msg";
inline constexpr wchar_t kDefaultLanguage[] = L"zh_cn";

std::span<const MessageEntry> MessageEntries();

// True for "zh_cn", the only code that selects the Chinese texts.
bool IsChinese(std::wstring_view language);

// The text the message window shows for `key`:
//   - an empty key: std::nullopt, the window keeps the skin's text;
//   - a key of the table: its text in `language`; "Login_Failed_msg" is
//     followed directly by `detail`;
//   - any other key: the key itself.
std::optional<std::wstring> MessageText(std::wstring_view key, std::wstring_view language,
                                        std::wstring_view detail = {});

// The message window's title: every non-empty title shows as "Orlin" (callers
// pass "Orlin" or "Orlin Override"); std::nullopt for an empty title, which
// leaves the skin's title.
std::optional<std::wstring> MessageTitleText(std::wstring_view title);

// The language code of lang.xml in `installDir`, "zh_cn" when it cannot be
// read.
std::wstring ReadLanguage(const std::filesystem::path& installDir);

// The texts of the message window's buttons.
std::wstring OkButtonText(std::wstring_view language);
std::wstring CancelButtonText(std::wstring_view language);

}  // namespace orlin
