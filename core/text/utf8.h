// Text inside the program is UTF-8. These are the conversions at its edges: UTF-16 for Windows, and the
// system's ANSI code page for files and links written by older programs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// Well-formed UTF-8 (RFC 3629): no overlong form, no surrogate, nothing past U+10FFFF, nothing cut short.
bool IsValidUtf8(std::string_view text);

// Each ill-formed sequence becomes U+FFFD, so that nothing a user typed turns into something else silently.
std::u16string Utf8ToUtf16(std::string_view text);
// A lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// Text in the system's ANSI code page as UTF-8 (every byte maps to some character).
std::string CodePageToUtf8(std::string_view bytes);
// Text as UTF-8: itself when it is well-formed UTF-8, else read in the code page (text written by older
// programs, or by this one before it spoke UTF-8).
std::string Utf8OrCodePage(std::string_view bytes);

// The text up to its `count`th character, where a character begins at each byte that is no UTF-8
// continuation byte: a limit counted so never cuts a character in two.
std::string_view FirstCharacters(std::string_view text, std::size_t count);

// UTF-8 text in the code page; nothing when a character does not fit it (no best-fit substitutes) or the
// text is not UTF-8.
std::optional<std::string> Utf8ToCodePage(std::string_view text);

} // namespace tarvel
