// The question about a server certificate that failed the program's check, and the log-on details of a
// send: the fingerprint the user trusts is kept per server in zembrix.ini, the password is read from
// Credential Manager.
#pragma once

#include <string>

#include "app/settings.h"
#include "mail/session_security.h"
#include "net/certificate_check.h"
#include "ui/window.h"

namespace tarvel::ui {

inline constexpr const char* TrustButtonText = "Trust this certificate";

// Mode and user from the settings; the password from Credential Manager (empty when none is stored).
SessionSecurity SecurityForSend(const SecuritySettings& security, const std::string& server);

// What the box says: why, the server name, subject, issuer, validity and the SHA-256 fingerprint.
std::string CertificateQuestion(const std::string& server, const CertificateReport& report);

// On the handshake's worker: a fingerprint trusted before for this server is accepted at once;
// otherwise the user is asked on the window's thread (the worker waits), and a trusted one is saved
// to `securityPath`. False when the window is gone.
bool AskCertificateTrust(const Window& window, SecuritySettings& security, const std::string& securityPath,
                         const std::string& server, const CertificateReport& report);

} // namespace tarvel::ui
