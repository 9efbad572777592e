// The certificate question: what the dialog shows and how each way of leaving it answers (Enter alone
// must trust nothing, and the end of the send closes it), and the decision on the window's thread: a
// trusted fingerprint is not asked about again, a trusted one is saved, a save that fails trusts for
// this send, and an answer that comes after the send ended is dropped unsaved.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <map>
#include <thread>

#include "core/config/security_config.h"
#include "dialog_support.h"
#include "ui/certificate_question.h"

namespace tarvel::test {
namespace {

using namespace std::chrono_literals;

CertificateReport UnknownAuthority() {
    CertificateReport r;
    r.problem = "The certificate was issued by an authority that is not trusted.";
    r.subject = "CN=mail.example.org";
    r.issuer = "CN=Example Private CA";
    r.validFrom = "2026-01-01 00:00 UTC";
    r.validTo = "2027-01-01 00:00 UTC";
    r.sha256 = "00112233445566778899aabbccddeeff0123456789abcdeffedcba9876543210";
    return r;
}

struct Seen {
    std::map<int, std::string> fields;
    bool cancelHasFocus = false;
    bool found = false;
};

// The control with the keyboard focus in the dialog's thread, if any.
HWND ThreadFocus(HWND dialog) {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui);
    return gui.hwndFocus;
}

// The control with the keyboard focus once the dialog has it. The dialog is visible a moment before its
// activation puts the focus in it; and without a window manager Wine may pass on a late focus change left
// from the dialog closed just before, which deactivates this one. Activating it again gives back the
// control it remembers, as a user's click would.
HWND FocusedControl(HWND dialog) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        for (int i = 0; i < 300; ++i) {
            if (HWND focus = ThreadFocus(dialog); focus && IsChild(dialog, focus)) return focus;
            std::this_thread::sleep_for(10ms);
        }
        SetForegroundWindow(dialog);
    }
    return nullptr;
}

// Waits on its own thread for the dialog of this process, reads it, then leaves it the way `leave` says.
Seen AnswerDialog(const std::function<void(HWND dialog)>& leave) {
    Seen seen;
    HWND dialog = nullptr;
    for (int i = 0; i < 1000 && !dialog; ++i) {
        dialog = FindWindowA("#32770", ui::CertificateCaption);
        DWORD pid = 0;
        if (dialog) GetWindowThreadProcessId(dialog, &pid);
        if (pid != GetCurrentProcessId() || !IsWindowVisible(dialog)) {
            dialog = nullptr;
            std::this_thread::sleep_for(10ms);
        }
    }
    if (!dialog) return seen;
    seen.found = true;
    for (int id : std::initializer_list<int>{
             ui::CertificateProblem, ui::CertificateServer, ui::CertificateSubject, ui::CertificateIssuer,
             ui::CertificateValidity, ui::CertificateFingerprint, ui::CertificateAdvice, IDOK, IDCANCEL}) {
        char text[512] = {};
        GetDlgItemTextA(dialog, id, text, sizeof text);
        seen.fields[id] = text;
    }
    seen.cancelHasFocus = FocusedControl(dialog) == GetDlgItem(dialog, IDCANCEL);
    leave(dialog);
    return seen;
}

void Key(HWND dialog, WPARAM key) {
    HWND focus = ThreadFocus(dialog);
    if (!focus) focus = dialog;
    PostMessageA(focus, WM_KEYDOWN, key, 1);
    PostMessageA(focus, WM_KEYUP, key, 0xC0000001);
}

TEST(CertificateDialog, ShowsTheCertificateAndOnlyTheTrustButtonTrusts) {
    ui::Application app;
    std::atomic<bool> ended{false};
    const struct {
        const char* how;
        std::function<void(HWND)> leave;
        bool trusted;
    } cases[] = {
        {"Trust button", [](HWND d) { PostMessageA(GetDlgItem(d, IDOK), BM_CLICK, 0, 0); }, true},
        {"Cancel button", [](HWND d) { PostMessageA(GetDlgItem(d, IDCANCEL), BM_CLICK, 0, 0); }, false},
        {"Enter", [](HWND d) { Key(d, VK_RETURN); }, false},
        {"Escape", [](HWND d) { Key(d, VK_ESCAPE); }, false},
        {"closed", [](HWND d) { PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); }, false},
        {"send ended", [&ended](HWND) { ended = true; }, false},
    };
    const CertificateReport report = UnknownAuthority();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        ended = false;
        auto seen = std::async(std::launch::async, AnswerDialog, c.leave);
        const bool trusted =
            ui::AskAboutCertificate(nullptr, "mail.example.org", report, [&] { return ended.load(); });
        const Seen s = seen.get();
        ASSERT_TRUE(s.found) << "no dialog appeared";
        EXPECT_EQ(trusted, c.trusted);
        EXPECT_TRUE(s.cancelHasFocus);
        EXPECT_EQ(s.fields.at(ui::CertificateProblem), report.problem);
        EXPECT_EQ(s.fields.at(ui::CertificateServer), "mail.example.org");
        EXPECT_EQ(s.fields.at(ui::CertificateSubject), "CN=mail.example.org");
        EXPECT_EQ(s.fields.at(ui::CertificateIssuer), "CN=Example Private CA");
        EXPECT_EQ(s.fields.at(ui::CertificateValidity), "2026-01-01 00:00 UTC to 2027-01-01 00:00 UTC");
        EXPECT_EQ(s.fields.at(ui::CertificateFingerprint),
                  "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF\r\n"
                  "01:23:45:67:89:AB:CD:EF:FE:DC:BA:98:76:54:32:10");
        EXPECT_NE(s.fields.at(ui::CertificateAdvice).find("for mail.example.org from now on?"),
                  std::string::npos);
        EXPECT_EQ(s.fields.at(IDOK), "Trust this certificate");
        EXPECT_EQ(s.fields.at(IDCANCEL), "Cancel");
    }
}

class Probe : public ui::Window {
public:
    bool Open() { return CreateMessageOnly("TarvelTrustProbe"); }
};

class TrustRound : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(window.Open()); }

    // On the window's thread, as the main window decides when the send flow asks.
    bool Ask(const CertificateReport& report) {
        return ui::DecideCertificate(services, window, security, path, "Mail.Example.org", report,
                                     [this] { return ended; });
    }

    tarvel::test::FakeSystem fake;
    ui::Application app;
    ScratchFolder folder;
    Probe window;
    SecuritySettings security{SecurityMode::StartTls, "ann", {}, {}};
    std::string path = folder.File("zembrix.ini");
    int asked = 0;
    bool answer = false;
    bool ended = false;          // the send that asked has ended (an abort)
    bool endsWhileAsked = false; // and it ends while the user reads the question
    Services services = [this] {
        fake.certificateQuestion = [this](HWND, const std::string& server, const CertificateReport&) {
            EXPECT_EQ(server, "Mail.Example.org");
            ++asked;
            ended = ended || endsWhileAsked;
            return answer;
        };
        return fake.Make();
    }();
};

TEST_F(TrustRound, CancelTrustsNothingAndWritesNothing) {
    EXPECT_FALSE(Ask(UnknownAuthority()));
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(security.Trusted.empty());
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(TrustRound, TrustedOnceIsSavedAndNotAskedAgainButAnotherCertificateIs) {
    answer = true;
    EXPECT_TRUE(Ask(UnknownAuthority()));
    EXPECT_EQ(TrustedFingerprint(security, "mail.example.org"), UnknownAuthority().sha256);
    SecuritySettings reread;
    LoadSecuritySettings(reread, path);
    EXPECT_EQ(reread.Trusted, security.Trusted);
    EXPECT_EQ(reread.Mode, SecurityMode::StartTls);

    answer = false;
    EXPECT_TRUE(Ask(UnknownAuthority()));
    EXPECT_EQ(asked, 1) << "a trusted fingerprint is asked about again";

    CertificateReport changed = UnknownAuthority();
    changed.sha256.replace(0, 2, "ff");
    EXPECT_FALSE(Ask(changed));
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(TrustedFingerprint(security, "mail.example.org"), UnknownAuthority().sha256);
}

TEST_F(TrustRound, ASaveThatFailsTrustsForThisSendAndSaysWhy) {
    std::filesystem::create_directories(path + ".tmp");
    answer = true;
    EXPECT_TRUE(Ask(UnknownAuthority()));
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_NE(fake.boxes[0].text.find("zembrix.ini.tmp"), std::string::npos) << fake.boxes[0].text;
    EXPECT_TRUE(security.Trusted.empty()) << "what could not be saved is asked about again";
    EXPECT_TRUE(Ask(UnknownAuthority()));
    EXPECT_EQ(asked, 2);
}

TEST_F(TrustRound, NothingIsTrustedWithoutAFingerprintOrOnceTheSendHasEnded) {
    answer = true;
    CertificateReport unread = UnknownAuthority();
    unread.sha256.clear();
    EXPECT_FALSE(Ask(unread));
    EXPECT_EQ(asked, 0);
    // An abort while the user reads the question: the answer that comes later is dropped unsaved.
    endsWhileAsked = true;
    EXPECT_FALSE(Ask(UnknownAuthority()));
    EXPECT_EQ(asked, 1);
    // Ended before the question was shown: it never is.
    EXPECT_FALSE(Ask(UnknownAuthority()));
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(security.Trusted.empty());
    EXPECT_FALSE(std::filesystem::exists(path));
}

} // namespace
} // namespace tarvel::test
