// The authorization URL and the redirect's request line.
#include "core/oauth/authorize.h"

#include <map>
#include <optional>

#include "core/oauth/sign_in.h"
#include "core/oauth/url.h"

namespace tarvel::oauth {
namespace {

RedirectAnswer Unreadable(std::string message) {
    RedirectAnswer answer;
    answer.message = std::move(message);
    return answer;
}

// Printable US-ASCII only: error codes and descriptions are so limited (RFC 6749 section 4.1.2.1), and
// whatever else came must not reach the status line or the page.
std::string Printable(std::string_view text) {
    std::string clean;
    for (const char c : text)
        clean += (c >= 0x20 && c < 0x7F) ? c : '?';
    return clean;
}

} // namespace

std::string RedirectUri(int port) {
    return "http://127.0.0.1:" + std::to_string(port) + "/";
}

std::string AuthorizationUrl(const Endpoints& endpoints, const AuthorizationRequest& request) {
    FormFields fields = {
        {"response_type", "code"},
        {"client_id", request.clientId},
        {"redirect_uri", request.redirectUri},
        {"scope", endpoints.scope},
        {"state", request.state},
        {"code_challenge", request.codeChallenge},
        {"code_challenge_method", "S256"},
    };
    if (!request.loginHint.empty()) fields.emplace_back("login_hint", request.loginHint);
    const char joint = endpoints.authorizeUrl.find('?') == std::string::npos ? '?' : '&';
    return endpoints.authorizeUrl + joint + EncodeForm(fields);
}

RedirectAnswer ParseRedirect(std::string_view line, std::string_view expectedState) {
    if (line.size() > MaxRedirectRequestBytes)
        return Unreadable("The browser's answer to the sign-in was too long (over 8 KiB)");
    // "GET <target> HTTP/1.x"
    const std::size_t firstSpace = line.find(' ');
    const std::size_t lastSpace = line.rfind(' ');
    if (line.substr(0, firstSpace) != "GET" || lastSpace == firstSpace ||
        line.substr(lastSpace + 1).substr(0, 5) != "HTTP/")
        return Unreadable("The browser's answer to the sign-in was no request this program understands");
    const std::string_view target = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    const std::size_t question = target.find('?');
    std::string_view query =
        question == std::string_view::npos ? std::string_view{} : target.substr(question + 1);
    query = query.substr(0, query.find('#'));

    std::map<std::string, std::string> fields;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
        if (pair.empty()) continue;
        const std::size_t equals = pair.find('=');
        const auto name = PercentDecode(pair.substr(0, equals));
        const auto value =
            PercentDecode(equals == std::string_view::npos ? std::string_view{} : pair.substr(equals + 1));
        if (!name || !value)
            return Unreadable("The browser's answer to the sign-in was not readable (a \"%\" without two "
                              "hexadecimal digits)");
        fields.emplace(*name, *value); // the first of a repeated name counts
    }

    RedirectAnswer answer;
    const auto state = fields.find("state");
    if (state == fields.end() || state->second != expectedState) {
        answer.end = RedirectEnd::WrongState;
        answer.message =
            "The browser's answer did not belong to this sign-in (wrong state); nothing was stored";
        return answer;
    }
    if (const auto error = fields.find("error"); error != fields.end()) {
        answer.end = RedirectEnd::Refused;
        answer.error = Printable(error->second);
        answer.message = "The sign-in was refused: " + answer.error;
        if (const auto description = fields.find("error_description"); description != fields.end())
            answer.message += " (" + Printable(description->second) + ")";
        return answer;
    }
    const auto code = fields.find("code");
    if (code == fields.end() || code->second.empty())
        return Unreadable("The browser's answer to the sign-in held no authorization code");
    answer.end = RedirectEnd::Code;
    answer.code = code->second;
    return answer;
}

} // namespace tarvel::oauth
