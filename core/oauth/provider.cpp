// The built-in authorization servers and the file's overrides.
#include "core/oauth/provider.h"

#include <algorithm>
#include <cctype>

#include "core/text/ascii.h"

namespace tarvel::oauth {

const char* ProviderText(OAuthProvider provider) {
    switch (provider) {
    case OAuthProvider::Microsoft:
        return "Microsoft";
    case OAuthProvider::Google:
        return "Google";
    case OAuthProvider::Other:
        return "Other";
    }
    return "Other";
}

std::optional<OAuthProvider> ParseProvider(std::string_view text) {
    const std::string lower = AsciiLower(TrimBlanks(text));
    for (OAuthProvider provider : {OAuthProvider::Microsoft, OAuthProvider::Google, OAuthProvider::Other})
        if (lower == AsciiLower(ProviderText(provider))) return provider;
    return std::nullopt;
}

std::optional<Endpoints> ResolveEndpoints(const OAuth2Settings& s) {
    Endpoints endpoints;
    switch (s.Provider) {
    case OAuthProvider::Microsoft: {
        const std::string base =
            "https://login.microsoftonline.com/" + (s.Tenant.empty() ? std::string("common") : s.Tenant);
        endpoints = {base + "/oauth2/v2.0/authorize", base + "/oauth2/v2.0/token",
                     "https://outlook.office.com/SMTP.Send offline_access"};
        break;
    }
    case OAuthProvider::Google:
        endpoints = {"https://accounts.google.com/o/oauth2/v2/auth", "https://oauth2.googleapis.com/token",
                     "https://mail.google.com/"};
        break;
    case OAuthProvider::Other:
        break;
    }
    if (!s.AuthorizeUrl.empty()) endpoints.authorizeUrl = s.AuthorizeUrl;
    if (!s.TokenUrl.empty()) endpoints.tokenUrl = s.TokenUrl;
    if (!s.Scope.empty()) endpoints.scope = s.Scope;
    if (s.ClientId.empty() || endpoints.authorizeUrl.empty() || endpoints.tokenUrl.empty() ||
        endpoints.scope.empty())
        return std::nullopt;
    return endpoints;
}

std::string_view ProviderSmtpServer(OAuthProvider provider) {
    switch (provider) {
    case OAuthProvider::Microsoft:
        return "smtp.office365.com";
    case OAuthProvider::Google:
        return "smtp.gmail.com";
    case OAuthProvider::Other:
        break;
    }
    return {};
}

} // namespace tarvel::oauth
