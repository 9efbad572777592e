// The bytes of zembrix.cfg and zembrix.ini: the code page, as every copy of the program wrote them so far,
// or UTF-8 behind the byte-order mark once a character does not fit the code page.
#pragma once

#include <string>
#include <string_view>

namespace tarvel {

inline constexpr std::string_view Utf8ByteOrderMark = "\xEF\xBB\xBF";

// The file's text as UTF-8: after the mark it must be UTF-8, any other file is read in the code page.
// Throws ConfigError naming the file when a marked file is not UTF-8, since reading it in either way would
// change what it says.
std::string TextOfFile(std::string_view bytes, const std::string& path);

// The bytes to write: the text in the code page when every character fits (the file stays readable by
// older copies), else UTF-8 behind the mark. The text must be UTF-8.
std::string FileOfText(std::string_view text);

} // namespace tarvel
