// Token endpoint forms and answers. The JSON is read with nlohmann/json's non-throwing parse and
// checked types, so no answer of a server can raise an exception into the window loop.
#include "core/oauth/token_exchange.h"

#include <nlohmann/json.hpp>

#include "core/oauth/url.h"

namespace tarvel::oauth {
namespace {

std::string StringField(const nlohmann::json& object, const char* name) {
    const auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// Confidential clients (Google's desktop ones) add their secret; public clients send none.
void AddClient(FormFields& fields, const OAuth2Settings& settings) {
    fields.emplace_back("client_id", settings.ClientId);
    if (!settings.ClientSecret.empty()) fields.emplace_back("client_secret", settings.ClientSecret);
}

} // namespace

std::string AuthorizationCodeForm(const OAuth2Settings& settings, const Endpoints& endpoints,
                                  std::string_view code, std::string_view verifier,
                                  std::string_view redirectUri) {
    (void)endpoints;
    FormFields fields = {{"grant_type", "authorization_code"},
                         {"code", std::string(code)},
                         {"redirect_uri", std::string(redirectUri)},
                         {"code_verifier", std::string(verifier)}};
    AddClient(fields, settings);
    return EncodeForm(fields);
}

std::string RefreshForm(const OAuth2Settings& settings, const Endpoints& endpoints,
                        std::string_view refreshToken) {
    // Microsoft wants the scope again on a refresh; RFC 6749 section 6 allows it for everyone.
    FormFields fields = {{"grant_type", "refresh_token"},
                         {"refresh_token", std::string(refreshToken)},
                         {"scope", endpoints.scope}};
    AddClient(fields, settings);
    return EncodeForm(fields);
}

TokenResponse ParseTokenResponse(int status, std::string_view body) {
    TokenResponse response;
    const nlohmann::json json = nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
    if (json.is_discarded() || !json.is_object()) {
        response.description =
            "The sign-in server's answer (HTTP " + std::to_string(status) + ") was not readable";
        return response;
    }
    response.error = StringField(json, "error");
    if (!response.error.empty() || status < 200 || status > 299) {
        const std::string description = StringField(json, "error_description");
        response.description = "The sign-in server refused: " +
                               (response.error.empty() ? "HTTP " + std::to_string(status) : response.error);
        // Microsoft's descriptions run to several lines with trace ids; the first says what matters.
        if (!description.empty())
            response.description += " (" + description.substr(0, description.find_first_of("\r\n")) + ")";
        return response;
    }
    response.accessToken = StringField(json, "access_token");
    response.refreshToken = StringField(json, "refresh_token");
    const std::string type = StringField(json, "token_type");
    if (response.accessToken.empty() || (!type.empty() && type != "Bearer" && type != "bearer")) {
        response.description = "The sign-in server's answer held no bearer access token";
        return response;
    }
    // RFC 6749 makes expires_in a number; some servers send it as a string.
    const auto expires = json.find("expires_in");
    long long seconds = 3600; // "recommended" when absent: assume the common hour, renewed on refusal
    if (expires != json.end() && expires->is_number_integer()) {
        seconds = expires->get<long long>();
    } else if (expires != json.end() && expires->is_string()) {
        const std::string text = expires->get<std::string>();
        if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos && text.size() < 10)
            seconds = std::stoll(text);
    }
    response.expiresIn = std::chrono::seconds(seconds < 0 ? 0 : seconds);
    response.ok = true;
    return response;
}

} // namespace tarvel::oauth
