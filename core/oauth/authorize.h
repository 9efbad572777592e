// The two ends of the browser's part of a sign-in: the authorization URL it is sent to (RFC 6749
// section 4.1.1 with PKCE) and the request line it comes back with to the loopback listener.
#pragma once

#include <string>
#include <string_view>

#include "core/oauth/provider.h"

namespace tarvel::oauth {

// "http://127.0.0.1:<port>/": RFC 8252 section 7.3 prefers the literal address to "localhost".
std::string RedirectUri(int port);

struct AuthorizationRequest {
    std::string clientId;
    std::string redirectUri;
    std::string state;
    std::string codeChallenge; // S256
    std::string loginHint;     // the user name; left out when empty
};

// The provider's URL with the request's parameters appended to any query it has already.
std::string AuthorizationUrl(const Endpoints& endpoints, const AuthorizationRequest& request);

enum class RedirectEnd {
    Code,       // `code` holds the authorization code
    Refused,    // the server answered error=...; `error` holds its code
    WrongState, // not the answer to this sign-in; nothing in it is used
    Unreadable, // not a request of the form the redirect makes; `message` says how
};

struct RedirectAnswer {
    RedirectEnd end = RedirectEnd::Unreadable;
    std::string code;
    std::string error;
    std::string message; // for the user, and for the page the browser shows; empty for Code
};

// Reads "GET /?code=...&state=... HTTP/1.1". The state is checked before anything else is believed.
RedirectAnswer ParseRedirect(std::string_view requestLine, std::string_view expectedState);

} // namespace tarvel::oauth
