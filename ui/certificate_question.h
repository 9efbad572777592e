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
// fingerprint, with "Trust this certificate" and "Cancel" (the default); true for trust. The real
// Services::certificateQuestion.
bool AskAboutCertificate(HWND owner, const std::string& server, const CertificateReport& report);

// On the handshake's worker: a fingerprint trusted before for this server is accepted at once;
// otherwise the user is asked on the window's thread (the worker waits), and a trusted one is saved
// to `securityPath`. False when the window is gone, or as soon as `stop` says so (the send was aborted):
// a question not shown yet is then never shown, and an answer that comes later is dropped unsaved.
// `services` and `window` outlive the question.
bool AskCertificateTrust(const Services& services, const Window& window, SecuritySettings& security,
                         const std::string& securityPath, const std::string& server,
                         const CertificateReport& report, const std::function<bool()>& stop);

} // namespace tarvel::ui
