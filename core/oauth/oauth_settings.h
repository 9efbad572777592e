// How the program logs on to the SMTP server (a password, or an OAuth 2.0 token from a sign-in in the
// browser) and which authorization server it signs in with: the [OAuth2] section of zembrix.ini.
#pragma once

#include <string>

namespace tarvel {

enum class LogOnMethod {
    Password, // AUTH PLAIN or LOGIN with the password from Credential Manager, as always
    OAuth2,   // XOAUTH2 or OAUTHBEARER with an access token from a sign-in in the system browser
};

enum class OAuthProvider {
    Microsoft, // Microsoft 365 and Outlook.com, through Microsoft Entra
    Google,
    Other, // every URL and the scope come from the file
};

// As the file holds them: an empty text means "not given", so that a built-in value applies.
struct OAuth2Settings {
    OAuthProvider Provider = OAuthProvider::Microsoft;
    std::string ClientId;
    std::string ClientSecret; // Google's desktop clients have one; optional
    std::string Tenant;       // Microsoft only; empty: "common"
    std::string AuthorizeUrl; // given: replaces the provider's built-in one
    std::string TokenUrl;
    std::string Scope;
};

} // namespace tarvel
