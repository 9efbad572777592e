// XOAUTH2 and OAUTHBEARER client responses and the error challenge both mechanisms send.
#include "core/oauth/sasl.h"

#include <nlohmann/json.hpp>

#include "core/oauth/encoding.h"

namespace tarvel::oauth {
namespace {

// RFC 5801's saslname: "," and "=" would end or confuse the GS2 header.
std::string SaslName(std::string_view user) {
    std::string name;
    for (const char c : user) {
        if (c == ',')
            name += "=2C";
        else if (c == '=')
            name += "=3D";
        else
            name += c;
    }
    return name;
}

} // namespace

const char* MechanismName(BearerMechanism mechanism) {
    return mechanism == BearerMechanism::OAuthBearer ? "OAUTHBEARER" : "XOAUTH2";
}

std::string BearerInitialResponse(BearerMechanism mechanism, std::string_view user, std::string_view token,
                                  std::string_view host, int port) {
    std::string message;
    if (mechanism == BearerMechanism::XOAuth2) {
        message = "user=" + std::string(user) +
                  "\x01"
                  "auth=Bearer " +
                  std::string(token) + "\x01\x01";
    } else {
        message = "n,a=" + SaslName(user) + ",\x01";
        if (!host.empty()) message += "host=" + std::string(host) + "\x01";
        if (port > 0) message += "port=" + std::to_string(port) + "\x01";
        message += "auth=Bearer " + std::string(token) + "\x01\x01";
    }
    std::string response = Base64Encode(message);
    // The token is a secret: the plain copy does not outlive this call.
    volatile char* bytes = message.data();
    for (std::size_t i = 0; i < message.size(); ++i)
        bytes[i] = 0;
    return response;
}

bool FitsOnAuthLine(BearerMechanism mechanism, std::size_t responseSize) {
    const std::size_t line = std::string_view("AUTH ").size() +
                             std::string_view(MechanismName(mechanism)).size() + 1 + responseSize + 2;
    return line <= MaxCommandLine;
}

std::string_view ErrorChallengeAnswer(BearerMechanism mechanism) {
    return mechanism == BearerMechanism::OAuthBearer ? "AQ==" : "";
}

BearerError ParseBearerError(std::string_view challenge) {
    BearerError error;
    const auto json = Base64Decode(challenge);
    if (!json) return error;
    const nlohmann::json object = nlohmann::json::parse(json->begin(), json->end(), nullptr, false);
    if (object.is_discarded() || !object.is_object()) return error;
    error.readable = true;
    const auto status = object.find("status");
    if (status != object.end() && status->is_string())
        error.status = status->get<std::string>();
    else if (status != object.end() && status->is_number_integer())
        error.status = std::to_string(status->get<int>());
    // RFC 7628 section 3.2.2 names "invalid_token"; Google's XOAUTH2 answers with the HTTP status 401.
    error.tokenRefused = error.status == "invalid_token" || error.status == "401";
    return error;
}

} // namespace tarvel::oauth
