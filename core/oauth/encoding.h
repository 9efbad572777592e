// Base64 as the sign-in and the SASL log-on want it: standard (RFC 4648 section 4) on one line, the
// URL-safe form without padding (section 5) for PKCE, and decoding for the server's 334 challenge.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvel::oauth {

std::string Base64Encode(std::string_view bytes);
std::string Base64UrlEncode(std::string_view bytes);
// Standard alphabet with padding; nullopt for any other character or a wrong length.
std::optional<std::string> Base64Decode(std::string_view text);

} // namespace tarvel::oauth
