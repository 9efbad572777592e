// The authorization servers the program knows (Microsoft Entra and Google) and what the file may
// change of them, resolved into the three things a sign-in needs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/oauth/oauth_settings.h"

namespace tarvel::oauth {

struct Endpoints {
    std::string authorizeUrl;
    std::string tokenUrl;
    std::string scope;
};

// The file's texts: "Microsoft", "Google", "Other".
const char* ProviderText(OAuthProvider provider);
// Case-insensitive; nullopt for any other text.
std::optional<OAuthProvider> ParseProvider(std::string_view text);

// The provider's built-in values, each replaced by the file's when given; nullopt when something is
// missing (no client ID; for Other, a URL or the scope).
std::optional<Endpoints> ResolveEndpoints(const OAuth2Settings& settings);

// The submission server a provider's accounts send through (port 587, STARTTLS); empty for Other.
std::string_view ProviderSmtpServer(OAuthProvider provider);

} // namespace tarvel::oauth
