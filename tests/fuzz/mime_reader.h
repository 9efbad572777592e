// A small, independent reader of the messages the program writes, for the composition fuzz target:
// header lines unfolded and their encoded words (RFC 2047) decoded, multipart bodies cut at their
// boundary, and each part's content decoded from base64 or quoted-printable.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvel::fuzz {

struct MimeEntity {
    std::vector<std::pair<std::string, std::string>> headers; // lower-case name, decoded value
    std::vector<std::string> rawHeaderLines;                  // as written, before unfolding
    std::string content;                                      // decoded
    std::vector<MimeEntity> parts;                            // of a multipart entity

    const std::string* Header(std::string_view name) const;
    // A parameter of a header value, such as the boundary of Content-Type; quotes removed.
    static std::optional<std::string> Parameter(std::string_view value, std::string_view name);
};

// Reads one entity; nullopt with `error` set when the text is not a message this reader understands.
std::optional<MimeEntity> ReadMime(std::string_view text, std::string& error);

} // namespace tarvel::fuzz
