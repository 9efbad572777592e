// The question about a server certificate that failed the program's check, and the log-on details of a
// send: the fingerprint the user trusts is kept per server in zembrix.ini, the password is read from
// Credential Manager.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "core/config/settings.h"
#include "core/smtp/session_security.h"
#include "platform/certificate_check.h"
#include "platform/services.h"
#include "win/window.h"

namespace tarvel::ui {

inline constexpr const char* CertificateCaption = "Server certificate";
inline constexpr const char* TrustButtonText = "Trust this certificate";

// The dialog's fields, by control id.
enum CertificateField : int {
    CertificateProblem = 101,
    CertificateServer,
    CertificateSubject,
    CertificateIssuer,
    CertificateValidity,
    CertificateFingerprint,
    CertificateAdvice,
};

// Mode and user from the settings; the password from Credential Manager (empty when none is stored).
SessionSecurity SecurityForSend(const Services& services, const SecuritySettings& security,
                                const std::string& server);

// The SHA-256 fingerprint as people compare it with what their provider publishes: upper-case byte
// pairs joined by colons, sixteen to a line.
std::string FingerprintForDisplay(const std::string& sha256);

// The modal dialog that shows why the check failed, the server, subject, issuer, validity and
// fingerprint, with "Trust this certificate" and "Cancel" (the default); true for trust. It closes by
// itself, trusting nothing, once `ended` says so. The real Services::certificateQuestion.
bool AskAboutCertificate(HWND owner, const std::string& server, const CertificateReport& report,
                         const std::function<bool()>& ended);

// On the window's thread: "trusted, or pinned" (JudgeCertificate) decides, or else the user is asked,
// and a certificate the user trusts is saved to `securityPath`. False without asking, or with the
// answer dropped unsaved, once `stop` says so (the send that asked has ended).
bool DecideCertificate(const Services& services, const Window& window, SecuritySettings& security,
                       const std::string& securityPath, const std::string& server,
                       const CertificateReport& report, const std::function<bool()>& stop);

} // namespace tarvel::ui
