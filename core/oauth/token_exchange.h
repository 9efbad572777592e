// The token endpoint (RFC 6749 sections 4.1.3 and 6): the form bodies this program POSTs and what it
// reads of the JSON answer.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "core/oauth/oauth_settings.h"
#include "core/oauth/provider.h"

namespace tarvel::oauth {

// The code from the browser for tokens; `redirectUri` exactly as the authorization request had it.
std::string AuthorizationCodeForm(const OAuth2Settings& settings, const Endpoints& endpoints,
                                  std::string_view code, std::string_view verifier,
                                  std::string_view redirectUri);
std::string RefreshForm(const OAuth2Settings& settings, const Endpoints& endpoints,
                        std::string_view refreshToken);

struct TokenResponse {
    bool ok = false;
    std::string accessToken;
    std::string refreshToken; // empty: the server keeps the one it had
    std::chrono::seconds expiresIn{0};
    std::string error;       // the server's "error" code ("invalid_grant"...), when it sent one
    std::string description; // words for the user: the server's error_description, or ours
};

// Never throws: an answer that is no JSON object, or that lacks an access token, is a failure with a
// description saying so.
TokenResponse ParseTokenResponse(int status, std::string_view body);

} // namespace tarvel::oauth
