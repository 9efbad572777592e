// The OAuth 2.0 log-on of the SMTP session: OAUTHBEARER (RFC 7628) when the server offers it, else
// XOAUTH2; only over an encrypted connection, as the password log-on (smtp_session_secure.cpp).
#include "core/smtp/smtp_session.h"

namespace tarvel {

namespace {
constexpr int CodeAuthenticated = 235;
constexpr int CodeOk = 250;
constexpr int CodeContinue = 334;

// The text after "334 " of a one-line 334 reply, without its CR LF.
std::string_view ChallengeOf(const SmtpReply& reply) {
    std::string_view text = reply.text;
    text.remove_prefix(std::min<std::size_t>(4, text.size()));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}
// `prefix`, the response and CR LF in one buffer reserved once; the plain response is wiped.
Secret BearerLine(std::string_view prefix, std::string& response) {
    Secret line;
    line.Reserve(prefix.size() + response.size() + 2);
    line.Append(prefix);
    line.Append(response);
    line.Append("\r\n");
    WipeSecret(response);
    return line;
}
} // namespace

void SmtpSession::BeginBearerLogOn(const EhloOffer& offer) {
    if (offer.authOAuthBearer)
        bearer_ = oauth::BearerMechanism::OAuthBearer;
    else if (offer.authXOAuth2)
        bearer_ = oauth::BearerMechanism::XOAuth2;
    else
        return RefuseSession(SendOutcome::Failure(NoOAuthMechanismText));

    const std::string verb = std::string("AUTH ") + oauth::MechanismName(bearer_);
    std::string response =
        oauth::BearerInitialResponse(bearer_, security_.user, security_.password.View(), server_, port_);
    if (!oauth::FitsOnAuthLine(bearer_, response.size())) {
        WipeSecret(response);
        // RFC 4954 section 4: an AUTH line over 512 octets is cut by servers (Postfix at 2,048); the
        // response waits for the server's empty 334 instead.
        SetState(SessionState::AuthBearerReady);
        return Send(verb);
    }
    const Secret line = BearerLine(verb + " ", response);
    WipeSecret(security_.password);
    SetState(SessionState::AuthBearer);
    SendSecret(line);
}

void SmtpSession::OnAuthBearerReady(const SmtpReply& reply) {
    if (reply.code != CodeContinue) return RefuseSession(SendOutcome::Refusal(LogOnRefusalText(reply.text)));
    std::string response =
        oauth::BearerInitialResponse(bearer_, security_.user, security_.password.View(), server_, port_);
    WipeSecret(security_.password);
    const Secret line = BearerLine("", response);
    SetState(SessionState::AuthBearer);
    SendSecret(line);
}

void SmtpSession::OnAuthBearer(const SmtpReply& reply) {
    WipeSecret(security_.password);
    if (reply.code == CodeAuthenticated) return OnHelo(SmtpReply{CodeOk, reply.text});
    if (reply.code != CodeContinue) return RefuseSession(SendOutcome::Refusal(LogOnRefusalText(reply.text)));
    // The token was refused; the challenge says why (RFC 7628 section 3.2.2, Google's XOAUTH2 page). The
    // exchange must still be ended as the mechanism wants before the server gives its final reply.
    const oauth::BearerError error = oauth::ParseBearerError(ChallengeOf(reply));
    bearerTokenRefused_.store(error.tokenRefused);
    SetState(SessionState::AuthBearerError);
    Send(oauth::ErrorChallengeAnswer(bearer_));
}

void SmtpSession::OnAuthBearerError(const SmtpReply& reply) {
    // Only a 235 would do, and no server sends one after an error: its words are the outcome.
    if (reply.code == CodeAuthenticated) return OnHelo(SmtpReply{CodeOk, reply.text});
    RefuseSession(SendOutcome::Refusal(LogOnRefusalText(reply.text)));
}

} // namespace tarvel
