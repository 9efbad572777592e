// What the SMTP session needs to know to secure and log on to its connection, and the portable helpers
// for it: EHLO keyword parsing, the choice of log-on mechanism and its lines, and wiping secrets.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/smtp/secret.h"

namespace tarvel {

enum class SecurityMode {
    None,     // plain SMTP, as always
    StartTls, // plain connect, then STARTTLS before anything else
    Implicit, // TLS from the first byte (port 465)
};

struct SessionSecurity {
    SecurityMode mode = SecurityMode::None;
    std::string user; // empty: no log-on; sent as it stands (UTF-8)
    Secret password;  // wiped by the session as soon as it has been sent
};

// Texts the session shows or records for the secure part of a send.
inline constexpr std::string_view ConnectingSecurelyText = "Connecting securely...";
inline constexpr std::string_view LoggingOnText = "Logging on...";
inline constexpr std::string_view NoStartTlsText =
    "The server does not offer an encrypted connection (STARTTLS)";
inline constexpr std::string_view NoAuthMechanismText =
    "The server offers no way to log on that this program knows (AUTH PLAIN or AUTH LOGIN)";
inline constexpr std::string_view NoAuthWithoutTlsText =
    "The user name and password are only sent over an encrypted connection: choose STARTTLS or SSL/TLS";
inline constexpr std::string_view NulInCredentialsText =
    "The user name or password holds a NUL character, which cannot be sent to the server";
inline constexpr std::string_view InjectedPlaintextText =
    "The server sent unencrypted data after agreeing to encrypt the connection; nothing was sent";

// What the server's reply to EHLO offers of what this program uses.
struct EhloOffer {
    bool startTls = false;
    bool authPlain = false;
    bool authLogin = false;
    bool smtpUtf8 = false; // RFC 6531: mailboxes beyond ASCII
};
// Reads the keyword lines of a whole 250 reply to EHLO (RFC 5321 section 4.1.1.1); the first line is
// the server's name. "AUTH=" is the form some older servers use.
EhloOffer ParseEhloOffer(std::string_view reply);

// Base64 of any bytes on one line (RFC 4648), as SASL wants it.
std::string Base64(std::string_view bytes);
// Appends the base64 of `bytes` to `to`, which must have the room reserved.
void AppendBase64(Secret& to, std::string_view bytes);

// The log-on: which mechanism, and its lines. Another mechanism is one more enumerator here, one more
// case in AuthCommand, and the session's handler for its replies.
enum class AuthMechanism {
    None,  // the server offers nothing this program knows
    Plain, // RFC 4616: one line, user and password together
    Login, // the user name and the password each on a line of their own, as the server asks for them
};
// PLAIN where offered (one round trip, and the most widely offered), else LOGIN.
AuthMechanism ChooseAuthMechanism(const EhloOffer& offer);
// The first line of the log-on, CR LF included, built in one buffer reserved once: "AUTH PLAIN" with
// the base64 of NUL user NUL password (authorization identity empty), or "AUTH LOGIN".
Secret AuthCommand(AuthMechanism mechanism, std::string_view user, const Secret& password);
// A base64 line, CR LF included, for the answers to AUTH LOGIN's requests.
Secret Base64Line(std::string_view bytes);
// Why the user name and password cannot be sent, or empty. A NUL would end either early in PLAIN.
std::string_view CredentialProblem(std::string_view user, const Secret& password);

// Overwrites the string's bytes in a way the compiler may not drop, then empties it.
void WipeSecret(std::string& secret);
inline void WipeSecret(Secret& secret) {
    secret.Clear();
}

} // namespace tarvel
