// SHA-256 (FIPS 180-4) of a byte string, for the PKCE code challenge: small and portable, so the core
// needs no crypto library and its tests run natively.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tarvel::oauth {

std::array<std::uint8_t, 32> Sha256(std::string_view bytes);

} // namespace tarvel::oauth
