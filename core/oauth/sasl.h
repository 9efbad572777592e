// The SASL texts of an OAuth 2.0 log-on: XOAUTH2 (as Google and Microsoft define it) and OAUTHBEARER
// (RFC 7628), and what the server's 334 error challenge says.
#pragma once

#include <string>
#include <string_view>

namespace tarvel::oauth {

enum class BearerMechanism {
    OAuthBearer, // RFC 7628, preferred when offered
    XOAuth2,
};

const char* MechanismName(BearerMechanism mechanism); // "OAUTHBEARER", "XOAUTH2"

// The initial client response in base64. `host` and `port` go into OAUTHBEARER only.
std::string BearerInitialResponse(BearerMechanism mechanism, std::string_view user, std::string_view token,
                                  std::string_view host, int port);

// Whether "AUTH <mechanism> <response>" CR LF stays within SMTP's 512 octets (RFC 4954 section 4);
// otherwise the response waits for the server's 334.
bool FitsOnAuthLine(BearerMechanism mechanism, std::size_t responseSize);
inline constexpr std::size_t MaxCommandLine = 512;

// What the client sends after a 334 that carries an error: XOAUTH2 an empty line, OAUTHBEARER the
// %x01 of RFC 7628 section 3.2.3, so that the server ends the exchange with its final reply.
std::string_view ErrorChallengeAnswer(BearerMechanism mechanism);

struct BearerError {
    bool readable = false; // base64 of a JSON object
    std::string status;    // "invalid_token", "401", ...
    // The token was refused as invalid or expired: a renewed one may be taken.
    bool tokenRefused = false;
};
// Reads the text after "334 ". Never throws.
BearerError ParseBearerError(std::string_view challenge);

} // namespace tarvel::oauth
