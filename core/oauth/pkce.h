// PKCE (RFC 7636): the code verifier a sign-in keeps and the S256 challenge it sends in its place.
#pragma once

#include <string>
#include <string_view>

namespace tarvel::oauth {

// 32 random bytes give the 43-character verifier of RFC 7636 section 4.1.
inline constexpr std::size_t VerifierRandomBytes = 32;

// The verifier for these random bytes: base64url without padding.
std::string CodeVerifier(std::string_view randomBytes);
// BASE64URL(SHA256(ASCII(verifier))), section 4.2.
std::string CodeChallengeS256(std::string_view verifier);

} // namespace tarvel::oauth
