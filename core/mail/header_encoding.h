// Header text outside US-ASCII: the charset named after the system's code page, RFC 2047 encoded words
// for the Subject and display names, RFC 2231 parameters for file names, and folding that keeps every
// header line within the 998 octets of RFC 5322.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

// RFC 5322 section 2.1.1: no line of a message may be longer, its CR LF not counted.
inline constexpr std::size_t MaxLineOctets = 998;
// Where folding is needed, lines are made no longer than this when the text allows (the RFC's "should").
inline constexpr std::size_t FoldedLineOctets = 78;

// The MIME charset name of a Windows ANSI code page (1252 gives "windows-1252", 65001 "utf-8"); a code
// page the table does not know gives "unknown-8bit" (RFC 1428), which claims nothing it cannot keep.
std::string CharsetOfCodePage(unsigned codePage);

bool IsAscii(std::string_view text);

// The text as RFC 2047 "B" encoded words of at most 75 characters each; a multi-byte character of
// `charset` (utf-8, the East Asian double-byte code pages) never straddles two words.
std::vector<std::string> EncodedWords(std::string_view text, std::string_view charset);

// An RFC 2231 extended parameter value: charset''percent-encoded bytes.
std::string ExtendedParameterValue(std::string_view text, std::string_view charset);

// "Name: value" + CR LF, folded when the line would pass MaxLineOctets: before blanks for unstructured
// text, so that unfolding gives the value back. False when no blank lets every line fit.
bool FoldAtBlanks(std::string_view line, std::string& folded);

// "Name: " + the pieces, each kept whole, joined without separator; a new line (CR LF and a blank) is
// started before a piece that would take the line past FoldedLineOctets, once the whole would pass
// MaxLineOctets. Ends with CR LF.
std::string FoldPieces(std::string_view name, const std::vector<std::string>& pieces);

} // namespace tarvel
