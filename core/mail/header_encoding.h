// Header text outside US-ASCII: RFC 2047 encoded words in UTF-8 for the Subject and display names, RFC 2231
// parameters for file names, and folding that keeps every header line within the 998 octets of RFC 5322.
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

// Every language takes one path: text beyond US-ASCII goes out as UTF-8, which every current reader knows.
inline constexpr std::string_view HeaderCharset = "UTF-8";
inline constexpr std::string_view TextCharset = "utf-8";

bool IsAscii(std::string_view text);

// The text as RFC 2047 "B" encoded words of at most 75 characters each; a UTF-8 character never
// straddles two words, since a reader decodes each word on its own.
std::vector<std::string> EncodedWords(std::string_view text, std::string_view charset);

// An RFC 2231 extended parameter value: UTF-8''percent-encoded bytes.
std::string ExtendedParameterValue(std::string_view text);

// "Name: value" + CR LF, folded when the line would pass MaxLineOctets: before blanks for unstructured
// text, so that unfolding gives the value back. False when no blank lets every line fit.
bool FoldAtBlanks(std::string_view line, std::string& folded);

// "Name: " + the pieces, each kept whole, joined without separator; a new line (CR LF and a blank) is
// started before a piece that would take the line past FoldedLineOctets, once the whole would pass
// MaxLineOctets. Ends with CR LF.
std::string FoldPieces(std::string_view name, const std::vector<std::string>& pieces);

} // namespace tarvel
