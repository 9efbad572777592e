// The PKCE verifier and its S256 challenge.
#include "core/oauth/pkce.h"

#include "core/oauth/encoding.h"
#include "core/oauth/sha256.h"

namespace tarvel::oauth {

std::string CodeVerifier(std::string_view randomBytes) {
    return Base64UrlEncode(randomBytes);
}

std::string CodeChallengeS256(std::string_view verifier) {
    const auto digest = Sha256(verifier);
    return Base64UrlEncode(std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

} // namespace tarvel::oauth
