// The trust question as a dialog of its own, built from an in-memory template so that the dialog
// manager gives it the keyboard handling of every other dialog (Tab, Enter, Escape), asked on the
// window's thread while the connection waits for the answer.
#include "ui/certificate_question.h"

#include <cctype>
#include <string_view>
#include <vector>

#include "core/config/security_config.h"
#include "platform/credentials.h"
#include "core/text/wide.h"
#include "win/message_box.h"

namespace tarvel::ui {
namespace {

constexpr int IconId = 100;
constexpr WORD ButtonClass = 0x0080, EditClass = 0x0081, StaticClass = 0x0082;

// A DLGTEMPLATE with its items, laid out in dialog units: words appended in the order the dialog
// manager reads them, each item on a DWORD boundary.
class DialogTemplate {
public:
    DialogTemplate(std::string_view caption, DWORD style, short width, short height) {
        Dword(style | DS_SETFONT);
        Dword(0);
        words_.push_back(0); // item count, filled in by Add
        for (short v : {short{0}, short{0}, width, height})
            words_.push_back(static_cast<WORD>(v));
        words_.push_back(0); // no menu
        words_.push_back(0); // the dialog class
        Text(caption);
        words_.push_back(8); // points
        Text("MS Shell Dlg");
    }

    void Add(int id, WORD windowClass, std::string_view text, DWORD style, short x, short y, short width,
             short height) {
        if (words_.size() % 2) words_.push_back(0);
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(0);
        for (short v : {x, y, width, height})
            words_.push_back(static_cast<WORD>(v));
        words_.push_back(static_cast<WORD>(id));
        words_.push_back(0xFFFF);
        words_.push_back(windowClass);
        Text(text);
        words_.push_back(0); // no creation data
        ++words_[4];
    }

    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void Dword(DWORD value) {
        words_.push_back(LOWORD(value));
        words_.push_back(HIWORD(value));
    }
    // A template's texts are UTF-16 whatever the dialog; the variable ones are set once it exists.
    void Text(std::string_view text) {
        for (wchar_t c : Widen(text))
            words_.push_back(static_cast<WORD>(c));
        words_.push_back(0);
    }

    std::vector<WORD> words_;
};

DialogTemplate QuestionTemplate() {
    constexpr DWORD Label = SS_LEFT | SS_NOPREFIX;
    constexpr DWORD Value = ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP;
    DialogTemplate t(CertificateCaption,
                     DS_MODALFRAME | DS_CENTER | DS_SETFOREGROUND | WS_POPUP | WS_CAPTION | WS_SYSMENU, 290,
                     178);
    t.Add(IconId, StaticClass, "", SS_ICON, 7, 7, 21, 20);
    t.Add(-1, StaticClass, "The server's certificate did not pass the check:", Label, 36, 7, 247, 9);
    t.Add(CertificateProblem, StaticClass, "", Label, 36, 18, 247, 26);
    const struct {
        int id;
        const char* label;
    } rows[] = {{CertificateServer, "Server:"},
                {CertificateSubject, "Subject:"},
                {CertificateIssuer, "Issuer:"},
                {CertificateValidity, "Valid:"}};
    short y = 48;
    for (const auto& row : rows) {
        t.Add(-1, StaticClass, row.label, Label, 36, static_cast<short>(y + 1), 40, 9);
        t.Add(row.id, EditClass, "", Value, 78, y, 205, 10);
        y = static_cast<short>(y + 12);
    }
    t.Add(-1, StaticClass, "SHA-256:", Label, 36, static_cast<short>(y + 1), 40, 9);
    t.Add(CertificateFingerprint, EditClass, "", ES_READONLY | ES_MULTILINE | WS_TABSTOP, 78, y, 205, 18);
    t.Add(CertificateAdvice, StaticClass, "", Label, 36, 122, 247, 26);
    t.Add(IDOK, ButtonClass, TrustButtonText, BS_PUSHBUTTON | WS_TABSTOP, 123, 156, 100, 14);
    t.Add(IDCANCEL, ButtonClass, "Cancel", BS_DEFPUSHBUTTON | WS_TABSTOP, 229, 156, 54, 14);
    return t;
}

struct Question {
    const std::string& server;
    const CertificateReport& report;
    const std::function<bool()>& ended;
};

// How often an open question looks whether its send has ended meanwhile.
constexpr UINT EndedTimer = 1, EndedPollMs = 100;

INT_PTR CALLBACK QuestionProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        const auto& q = *reinterpret_cast<const Question*>(lParam);
        SendDlgItemMessageW(dialog, IconId, STM_SETICON,
                            reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_WARNING)), 0);
        const auto set = [dialog](int id, const std::string& text) {
            SetDlgItemTextW(dialog, id, Widen(text).c_str());
        };
        set(CertificateProblem, q.report.problem);
        set(CertificateServer, q.server);
        set(CertificateSubject, q.report.subject);
        set(CertificateIssuer, q.report.issuer);
        set(CertificateValidity, q.report.validFrom + " to " + q.report.validTo);
        set(CertificateFingerprint, FingerprintForDisplay(q.report.sha256));
        const std::string advice = "Trust this certificate for " + q.server +
                                   " from now on? Do so only when you know it is the server's own; a "
                                   "different certificate will be asked about again.";
        set(CertificateAdvice, advice);
        // Cancel is the safe answer: it has the focus, so Enter alone trusts nothing.
        SetFocus(GetDlgItem(dialog, IDCANCEL));
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SetTimer(dialog, EndedTimer, EndedPollMs, nullptr);
        return FALSE;
    }
    case WM_TIMER:
        // The send was cancelled, failed or timed out while the user read: nothing is left to trust.
        if (wParam == EndedTimer &&
            reinterpret_cast<const Question*>(GetWindowLongPtrW(dialog, DWLP_USER))->ended())
            EndDialog(dialog, IDCANCEL);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

} // namespace

bool AskAboutCertificate(HWND owner, const std::string& server, const CertificateReport& report,
                         const std::function<bool()>& ended) {
    const DialogTemplate dialog = QuestionTemplate();
    const Question question{server, report, ended};
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner, QuestionProc,
                                   reinterpret_cast<LPARAM>(&question)) == IDOK;
}

std::string FingerprintForDisplay(const std::string& sha256) {
    std::string shown;
    for (size_t i = 0; i + 1 < sha256.size(); i += 2) {
        if (i > 0) shown += i % 32 == 0 ? "\r\n" : ":";
        shown += static_cast<char>(std::toupper(static_cast<unsigned char>(sha256[i])));
        shown += static_cast<char>(std::toupper(static_cast<unsigned char>(sha256[i + 1])));
    }
    return shown;
}

SessionSecurity SecurityForSend(const Services& services, const SecuritySettings& security,
                                const std::string& server) {
    // A user name kept from an earlier choice means nothing without encryption: no log-on then.
    if (security.Mode == SecurityMode::None) return SessionSecurity{};
    SessionSecurity session{security.Mode, security.User, {}, security.LogOn};
    // With OAuth 2.0 the send fetches its access token itself, after the dial.
    if (!security.User.empty() && security.LogOn == LogOnMethod::Password) {
        if (std::optional<std::string> password =
                services.readPassword(CredentialTarget(security.User, server))) {
            session.password = std::move(*password);
            WipeSecret(*password);
        }
    }
    return session;
}

bool DecideCertificate(const Services& services, const Window& window, SecuritySettings& security,
                       const std::string& securityPath, const std::string& server,
                       const CertificateReport& report, const std::function<bool()>& stop) {
    // The settings belong to this thread: the check and the save happen here.
    const CertificateVerdict verdict = JudgeCertificate(report.trusted, report.sha256, security, server);
    if (verdict != CertificateVerdict::Ask) return verdict == CertificateVerdict::Accept;
    if (stop() || !services.certificateQuestion(window.Handle(), server, report, stop) || stop())
        return false;
    SecuritySettings changed = security;
    TrustFingerprint(changed, server, report.sha256);
    try {
        SaveSecuritySettings(changed, securityPath);
        security = std::move(changed);
    } catch (const ConfigError& error) {
        // Trusted for this send; the next one asks again.
        ShowMessage(services.messageBox, window.Handle(), error.what(), MB_OK | MB_ICONERROR);
    }
    return true;
}

} // namespace tarvel::ui
