// What the SMTP session needs to know to secure and log on to its connection, and the portable helpers
// for it: EHLO keyword parsing, SASL PLAIN and LOGIN texts, and wiping secrets from memory.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

enum class SecurityMode {
    None,     // plain SMTP, as always
    StartTls, // plain connect, then STARTTLS before anything else
    Implicit, // TLS from the first byte (port 465)
};

struct SessionSecurity {
    SecurityMode mode = SecurityMode::None;
    std::string user;     // empty: no log-on
    std::string password; // wiped by the session as soon as it has been sent
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
// RFC 4616: authorization identity empty, then NUL user NUL password, in base64.
std::string AuthPlainResponse(std::string_view user, std::string_view password);

// Overwrites the string's bytes in a way the compiler may not drop, then empties it.
void WipeSecret(std::string& secret);

} // namespace tarvel
