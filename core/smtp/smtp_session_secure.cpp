// The secure part of the SMTP session: EHLO, STARTTLS and the handshake (RFC 3207), and the log-on
// with AUTH PLAIN or AUTH LOGIN (RFC 4954), never over an unencrypted connection.
#include "core/smtp/smtp_session.h"

#include <algorithm>
#include <cstdio>

#include "core/mail/address.h"

namespace tarvel {

namespace {
constexpr int CodeReady = 220;
constexpr int CodeAuthenticated = 235;
constexpr int CodeOk = 250;
constexpr int CodeContinue = 334;
} // namespace

std::string PreTlsRefusalText(int code) {
    char text[80];
    std::snprintf(text, sizeof text, "The server refused to start encryption (%d)", code);
    return text;
}

void SmtpSession::SetSecurity(SessionSecurity security) {
    std::lock_guard lock(mutex_);
    security_ = std::move(security);
}

bool SmtpSession::AwaitsEncryption() const {
    return security_.mode != SecurityMode::None && !encrypted_;
}

void SmtpSession::RefuseBeforeTls(const SmtpReply& reply) {
    // Nothing the server says before the stream is encrypted is authenticated: only its code is shown.
    RefuseSession(SendOutcome::Refusal(PreTlsRefusalText(reply.code)));
}

bool SmtpSession::UsesEhlo() const {
    // Without any of these the session stays exactly what it always was: HELO, no extensions.
    return security_.mode != SecurityMode::None || !security_.user.empty() ||
           std::any_of(messages_.begin(), messages_.end(),
                       [](const MailMessage& message) { return !SmtpUtf8Address(message).empty(); });
}

void SmtpSession::SendHello() {
    const bool ehlo = UsesEhlo();
    SetState(ehlo ? SessionState::Ehlo : SessionState::Helo);
    Send((ehlo ? "EHLO " : "HELO ") + connection_.GetLocalHostName());
}

void SmtpSession::OnEhlo(const SmtpReply& reply) {
    if (reply.code != CodeOk) {
        if (reply.code >= 400 && reply.code <= 599) {
            if (AwaitsEncryption()) return RefuseBeforeTls(reply);
            // A server that knows no EHLO offers no SMTPUTF8 either, and that is what the user must hear
            // when EHLO was sent only for it.
            const bool onlyForUtf8 = security_.mode == SecurityMode::None && security_.user.empty();
            const std::string address = SmtpUtf8Address(*current_);
            if (onlyForUtf8 && !address.empty() && reply.code >= 500)
                RefuseSession(SendOutcome::Failure(NoSmtpUtf8Text(address)));
            else
                RefuseSession(SendOutcome::Refusal(reply.text));
        }
        return;
    }
    const EhloOffer offer = ParseEhloOffer(reply.text);
    smtpUtf8Offered_ = offer.smtpUtf8;
    if (security_.mode == SecurityMode::StartTls && !encrypted_) {
        // Never go on in the clear when encryption was asked for.
        if (!offer.startTls) return RefuseSession(SendOutcome::Failure(NoStartTlsText));
        SetState(SessionState::StartTls);
        return Send("STARTTLS");
    }
    if (security_.user.empty()) return OnHelo(reply);
    if (!encrypted_) return RefuseSession(SendOutcome::Failure(NoAuthWithoutTlsText));
    ShowStatus(LoggingOnText);
    if (security_.logOn == LogOnMethod::OAuth2) return BeginBearerLogOn(offer);
    const AuthMechanism mechanism = ChooseAuthMechanism(offer);
    if (mechanism == AuthMechanism::None) return RefuseSession(SendOutcome::Failure(NoAuthMechanismText));
    const Secret command = AuthCommand(mechanism, security_.user, security_.password);
    // PLAIN has sent the password with its first line; the others send it when asked for.
    if (mechanism == AuthMechanism::Plain) WipeSecret(security_.password);
    SetState(mechanism == AuthMechanism::Plain ? SessionState::Auth : SessionState::AuthLogin);
    SendSecret(command);
}

void SmtpSession::OnStartTls(const SmtpReply& reply) {
    if (reply.code != CodeReady) return RefuseBeforeTls(reply);
    // Text behind the 220 was sent before the handshake and would be read as if it came through TLS.
    if (replies_.Pending() != 0) {
        send_.SendAborted.store(true);
        RecordLocalFailure(InjectedPlaintextText);
        SetState(SessionState::Idle);
        connection_.Disconnect();
        return;
    }
    if (!BeginTls()) return;
    // RFC 3207 section 4.2: everything learnt before the handshake is forgotten, EHLO starts again.
    SetState(SessionState::Ehlo);
    Send("EHLO " + connection_.GetLocalHostName());
}

bool SmtpSession::BeginTls() {
    ShowStatus(ConnectingSecurelyText);
    SmtpConnection::TlsRequest request;
    request.serverName = server_;
    request.plaintextConsumed = received_;
    request.cancel = &send_.SendAborted;
    SmtpConnection::TlsResult result = connection_.StartTls(request);
    replies_.Clear();
    if (result.question) {
        // Asked with no lock held: this call returns, and the flow brings the answer to DecideCertificate.
        question_ = std::move(result.question);
        SetState(SessionState::TrustQuestion);
        return false;
    }
    if (result.failure.empty()) {
        encrypted_ = true;
        return true;
    }
    EndHandshake(result.failure);
    return false;
}

void SmtpSession::EndHandshake(const std::string& failure) {
    WipeSecret(security_.password);
    // A cancel or a time-out stopped the handshake: their own texts tell the outcome.
    if (!send_.SendAborted.exchange(true)) RecordLocalFailure(failure);
    SetState(SessionState::Idle);
    connection_.Disconnect();
}

std::optional<CertificateReport> SmtpSession::CertificateQuestion() {
    // Looked at first without the lock, which a message transfer holds for as long as it runs: the
    // window's thread asks after every reply and must never wait for that.
    if (State() != SessionState::TrustQuestion) return std::nullopt;
    std::lock_guard lock(mutex_);
    if (State() != SessionState::TrustQuestion) return std::nullopt;
    return question_;
}

void SmtpSession::DecideCertificate(bool trusted) {
    if (State() != SessionState::TrustQuestion) return;
    std::lock_guard lock(mutex_);
    if (State() != SessionState::TrustQuestion || !question_) return;
    const std::string problem = std::move(question_->problem);
    question_.reset();
    if (trusted && !send_.SendAborted.load() && connection_.TrustCertificate()) {
        encrypted_ = true;
        replies_.Clear();
        // TLS from the first byte: the greeting comes next. STARTTLS: EHLO again (RFC 3207 section 4.2).
        if (security_.mode == SecurityMode::Implicit) return SetState(SessionState::Greeting);
        SetState(SessionState::Ehlo);
        return Send("EHLO " + connection_.GetLocalHostName());
    }
    EndHandshake(std::string(CertificateRefusedText) + problem);
}

void SmtpSession::OnAuth(const SmtpReply& reply) {
    WipeSecret(security_.password);
    // 535 and the like: the server's own words tell the user what is wrong with the log-on.
    if (reply.code != CodeAuthenticated)
        return RefuseSession(SendOutcome::Refusal(LogOnRefusalText(reply.text)));
    OnHelo(SmtpReply{CodeOk, reply.text});
}

void SmtpSession::OnAuthLogin(const SmtpReply& reply) {
    if (reply.code != CodeContinue) return RefuseSession(SendOutcome::Refusal(reply.text));
    const Secret command = Base64Line(security_.user);
    SetState(SessionState::AuthUser);
    SendSecret(command);
}

void SmtpSession::OnAuthUser(const SmtpReply& reply) {
    if (reply.code != CodeContinue) return RefuseSession(SendOutcome::Refusal(reply.text));
    const Secret command = Base64Line(security_.password.View());
    WipeSecret(security_.password);
    SetState(SessionState::Auth);
    SendSecret(command);
}

void SmtpSession::SendSecret(const Secret& line) {
    if (connection_.SendSecret(line.View())) return;
    // The stream is not encrypted, whatever the session believed: nothing of the line went out.
    WipeSecret(security_.password);
    send_.SendAborted.store(true);
    RecordLocalFailure(NoAuthWithoutTlsText);
    SetState(SessionState::Idle);
    connection_.Disconnect();
}

void SmtpSession::ShowStatus(std::string_view text) {
    if (statusSink_) statusSink_(text);
}

void SmtpSession::RefuseSession(SendOutcome outcome) {
    WipeSecret(security_.password);
    current_->Outcome = std::move(outcome);
    SetState(SessionState::Quit);
    Send("QUIT");
}

} // namespace tarvel
