// Quoted-printable (RFC 2045 section 6.7) for text parts: 7-bit lines of at most 76 characters that any
// server which answered HELO carries unchanged, whatever bytes the text holds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvel {

// The longest encoded line, soft line break "=" included.
inline constexpr std::size_t MaxQuotedPrintableLine = 76;

// Appends one line of text (without its line end) as encoded lines, each ended by CR LF: soft line
// breaks keep every line within MaxQuotedPrintableLine, a blank or tab at the end is encoded, and a
// line that begins with "--" has its first "-" encoded (=2D), so that no line of the part can read
// as a MIME boundary delimiter.
void AppendQuotedPrintableLine(std::string& out, std::string_view line);

// Text made of lines separated by CR LF (a last line without one counts too; an empty text is no
// line): every line encoded as above.
std::string EncodeQuotedPrintable(std::string_view text);

} // namespace tarvel
