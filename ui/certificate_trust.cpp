// The trust question as a message box whose OK button reads "Trust this certificate", asked on the
// window's thread for a handshake that waits on a worker.
#include "ui/certificate_trust.h"

#include <chrono>
#include <future>
#include <memory>

#include "app/credentials.h"
#include "app/security_config.h"
#include "ui/message_box.h"

namespace tarvel::ui {
namespace {

// Renames the OK button of the next message box this thread opens.
thread_local HHOOK renameHook = nullptr;

LRESULT CALLBACK RenameOkButton(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        const HWND box = reinterpret_cast<HWND>(wParam);
        SetDlgItemTextA(box, IDOK, TrustButtonText);
        // The text is longer than "OK": the button grows to the left, keeping its right edge.
        if (const HWND ok = GetDlgItem(box, IDOK)) {
            RECT r;
            GetWindowRect(ok, &r);
            MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&r), 2);
            const int grow = (r.right - r.left) * 3 / 4;
            SetWindowPos(ok, nullptr, r.left - grow, r.top, r.right - r.left + grow, r.bottom - r.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
        UnhookWindowsHookEx(renameHook);
        renameHook = nullptr;
        return 0;
    }
    return CallNextHookEx(renameHook, code, wParam, lParam);
}

bool AskUser(HWND owner, const std::string& server, const CertificateReport& report) {
    renameHook = SetWindowsHookExA(WH_CBT, RenameOkButton, nullptr, GetCurrentThreadId());
    const int answer =
        ShowMessage(owner, CertificateQuestion(server, report), MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON2);
    if (renameHook) {
        UnhookWindowsHookEx(renameHook);
        renameHook = nullptr;
    }
    return answer == IDOK;
}

} // namespace

SessionSecurity SecurityForSend(const SecuritySettings& security, const std::string& server) {
    // A user name kept from an earlier choice means nothing without encryption: no log-on then.
    if (security.Mode == SecurityMode::None) return SessionSecurity{};
    SessionSecurity session{security.Mode, security.User, {}};
    if (!security.User.empty()) {
        if (std::optional<std::string> password = ReadPassword(CredentialTarget(security.User, server))) {
            session.password = std::move(*password);
            WipeSecret(*password);
        }
    }
    return session;
}

std::string CertificateQuestion(const std::string& server, const CertificateReport& report) {
    return "The certificate of the server " + server + " did not pass the check:\r\n" + report.problem +
           "\r\n\r\nSubject:\t" + report.subject + "\r\nIssuer:\t" + report.issuer + "\r\nValid:\t" +
           report.validFrom + " to " + report.validTo + "\r\nSHA-256:\t" + report.sha256 +
           "\r\n\r\nTrust this certificate for " + server +
           " from now on? Do so only when you know it is the server's own; a different certificate will be "
           "asked about again.";
}

bool AskCertificateTrust(const Window& window, SecuritySettings& security, const std::string& securityPath,
                         const std::string& server, const CertificateReport& report) {
    auto answer = std::make_shared<std::promise<bool>>();
    std::future<bool> answered = answer->get_future();
    const bool posted = window.Post([&window, &security, securityPath, server, report, answer] {
        // The settings belong to this thread: the check and the save happen here.
        if (!report.sha256.empty() && TrustedFingerprint(security, server) == report.sha256)
            return answer->set_value(true);
        if (report.sha256.empty() || !AskUser(window.Handle(), server, report))
            return answer->set_value(false);
        SecuritySettings changed = security;
        TrustFingerprint(changed, server, report.sha256);
        try {
            SaveSecuritySettings(changed, securityPath);
            security = std::move(changed);
        } catch (const ConfigError& error) {
            // Trusted for this send; the next one asks again.
            ShowMessage(window.Handle(), error.what(), MB_OK | MB_ICONERROR);
        }
        answer->set_value(true);
    });
    if (!posted) return false;
    // A window that closes meanwhile never answers: its handle going tells.
    while (answered.wait_for(std::chrono::milliseconds(200)) != std::future_status::ready)
        if (window.Handle() == nullptr) return false;
    return answered.get();
}

} // namespace tarvel::ui
