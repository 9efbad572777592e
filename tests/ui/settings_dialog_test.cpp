// The settings dialog: its layout, FormCreate's immediate effects, OK's copy, refusal and save, Cancel,
// the "mailto:" registration and the one-instance opening.
#include <gtest/gtest.h>

#include <memory>

#include "dialog_support.h"
#include "layout_rules.h"
#include "ui/settings_dialog.h"

using tarvel::test::Click;
using tarvel::test::Drain;
using tarvel::test::FakeSystem;
using tarvel::test::Lines;
using tarvel::test::ScratchFolder;
using tarvel::ui::OpenSettings;
using tarvel::ui::SettingsDialog;
using tarvel::ui::SharedState;
using S = SettingsDialog;

namespace {

class SettingsDialogTest : public ::testing::Test {
protected:
    SettingsDialogTest() {
        state.configPath = folder.Config();
        state.settings.SMTPServer = "mail.example";
        state.settings.SMTPPort = "25";
        state.settings.EmailAddress = "me@example.com";
        fake.phoneBook.items = {"Home", "Work"};
    }

    SettingsDialog& Open(HWND owner = nullptr) {
        SettingsDialog* dialog = OpenSettings(settings_, state, owner, fake.Make());
        EXPECT_NE(dialog, nullptr);
        return *dialog;
    }
    // The controls that Tab visits from OK on, as the dialog navigation of the message loop sees them.
    static std::vector<int> TabSequence(SettingsDialog& d, int count) {
        std::vector<int> order;
        HWND at = d.Control(S::okButton);
        for (int i = 0; i < count && at; ++i) {
            order.push_back(GetDlgCtrlID(at));
            at = GetNextDlgTabItem(d.Handle(), at, FALSE);
        }
        return order;
    }
    bool Checked(SettingsDialog& d) {
        return SendMessageA(d.Control(S::dialUpCheck), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }

    tarvel::ui::Application app;
    ScratchFolder folder;
    FakeSystem fake;
    SharedState state;
    std::unique_ptr<SettingsDialog> settings_;
};

} // namespace

TEST_F(SettingsDialogTest, WindowAndControlsAsDesigned) {
    SettingsDialog& d = Open();
    RECT outer{};
    GetWindowRect(d.Handle(), &outer);
    EXPECT_EQ(d.Text(0), "Settings");
    EXPECT_EQ(outer.left, 261);
    EXPECT_EQ(outer.top, 163);
    EXPECT_EQ(outer.right - outer.left, 344);
    EXPECT_EQ(outer.bottom - outer.top, 300);
    const LONG style = GetWindowLongA(d.Handle(), GWL_STYLE);
    EXPECT_EQ(style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0) << std::hex << style;

    // Pages, their captions, and the first one shown.
    HWND tabs = d.Control(S::pageTabs);
    ASSERT_EQ(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0), 3);
    char caption[32] = {};
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption;
    item.cchTextMax = sizeof caption;
    SendMessageA(tabs, TCM_GETITEMA, 1, reinterpret_cast<LPARAM>(&item));
    EXPECT_STREQ(caption, "Dial Up");
    EXPECT_EQ(d.ActivePage(), 0);
    EXPECT_TRUE(IsWindowVisible(d.Control(S::serverEdit)));
    EXPECT_FALSE(IsWindowVisible(d.Control(S::dialPasswordEdit)));

    // The buttons on the form, the fields on their pages, all within their parents and apart.
    tarvel::test::ExpectLaidOut(d.Handle());
    EXPECT_EQ(GetParent(d.Control(S::portEdit)), d.Control(S::basicPage));
    EXPECT_EQ(GetParent(d.Control(S::dialPasswordEdit)), d.Control(S::dialUpPage));
    EXPECT_EQ(d.Text(S::mailToButton), "MailTo");
    EXPECT_EQ(d.Text(S::dialUpCheck), "&Use dialup connection");

    // Tab order: OK, Cancel, the page control's strip, then the shown page's fields, and round again.
    EXPECT_EQ(TabSequence(d, 8), (std::vector<int>{S::okButton, S::cancelButton, S::pageTabs, S::mailToButton,
                                                   S::emailEdit, S::serverEdit, S::portEdit, S::okButton}));

    // The password shows stars and keeps its hint without showing it.
    EXPECT_TRUE(GetWindowLongA(d.Control(S::dialPasswordEdit), GWL_STYLE) & ES_PASSWORD);
    EXPECT_EQ(SendMessageA(d.Control(S::dialPasswordEdit), EM_GETPASSWORDCHAR, 0, 0), '*');
    EXPECT_EQ(d.Hint(S::dialPasswordEdit), "An optional password to your DialUp functions.");
    TOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.hwnd = d.Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(d.Control(S::dialPasswordEdit));
    EXPECT_FALSE(
        SendMessageA(d.HintWindow().Tooltip(), TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&tool)));
    EXPECT_EQ(d.Hint(S::okButton), "Closes this dialog and saves all changes you've made.");
    EXPECT_EQ(d.Hint(S::portEdit), "The port number your SMTP server listens on. 25 is default.");

    // Switching pages shows the other page's fields, laid out by the same rules.
    d.SetActivePage(1);
    EXPECT_TRUE(IsWindowVisible(d.Control(S::dialPasswordEdit)));
    EXPECT_FALSE(IsWindowVisible(d.Control(S::serverEdit)));
    tarvel::test::ExpectLaidOut(d.Handle());
    d.SetActivePage(2);
    tarvel::test::ExpectLaidOut(d.Handle());
}

TEST_F(SettingsDialogTest, TabGoesFromTheButtonsToTheStripAndIntoTheShownPage) {
    state.settings.DialEntry = "Work";
    SettingsDialog& d = Open();
    d.SetActivePage(1);
    EXPECT_EQ(TabSequence(d, 7), (std::vector<int>{S::okButton, S::cancelButton, S::pageTabs, S::dialUpCheck,
                                                   S::entryList, S::dialPasswordEdit, S::okButton}));
    // Backwards from OK: the last field of the page, then back up through the strip.
    EXPECT_EQ(GetDlgCtrlID(GetNextDlgTabItem(d.Handle(), d.Control(S::okButton), TRUE)), S::dialPasswordEdit);
    EXPECT_EQ(GetDlgCtrlID(GetNextDlgTabItem(d.Handle(), d.Control(S::dialUpCheck), TRUE)), S::pageTabs);

    // Lying above the pages, the strip must not cover them: each shown page can draw on all of itself,
    // and clicks on its fields reach them.
    auto drawable = [](HWND page) {
        HDC dc = GetDC(page);
        RECT box{};
        const int kind = GetClipBox(dc, &box);
        ReleaseDC(page, dc);
        RECT client{};
        GetClientRect(page, &client);
        return kind == SIMPLEREGION && EqualRect(&box, &client);
    };
    // Walks down from the dialog as a click does (top of the z-order first, past windows that call
    // themselves transparent there, as the tab strip does outside its tabs); WindowFromPoint would also
    // see the windows of test programs running beside this one on the same screen.
    auto hitAt = [&d](HWND control) {
        RECT r{};
        GetWindowRect(control, &r);
        const POINT screen{r.left + 10, r.top + 10};
        HWND hit = d.Handle();
        for (HWND child = GetWindow(hit, GW_CHILD); child != nullptr;) {
            RECT box{};
            GetWindowRect(child, &box);
            if (IsWindowVisible(child) && PtInRect(&box, screen) &&
                SendMessageA(child, WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y)) != HTTRANSPARENT) {
                hit = child;
                child = GetWindow(hit, GW_CHILD);
            } else {
                child = GetWindow(child, GW_HWNDNEXT);
            }
        }
        return hit;
    };
    EXPECT_TRUE(drawable(d.Control(S::dialUpPage)));
    EXPECT_EQ(hitAt(d.Control(S::dialPasswordEdit)), d.Control(S::dialPasswordEdit));
    d.SetActivePage(0);
    EXPECT_TRUE(drawable(d.Control(S::basicPage)));
    EXPECT_EQ(hitAt(d.Control(S::emailEdit)), d.Control(S::emailEdit));
}

TEST_F(SettingsDialogTest, SectionLabelsAreBoldAndBlackWhateverTheColourScheme) {
    SettingsDialog& d = Open();
    // Another window text colour for the length of the test, so that black stands out from it.
    const int element = COLOR_WINDOWTEXT;
    const COLORREF saved = GetSysColor(element);
    const COLORREF blue = RGB(0, 0, 255);
    ASSERT_TRUE(SetSysColors(1, &element, &blue));
    HDC dc = CreateCompatibleDC(nullptr);
    auto colour = [&](int id) {
        SetTextColor(dc, RGB(1, 2, 3));
        SendMessageA(d.Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(d.Control(id)));
        return GetTextColor(dc);
    };
    const COLORREF label1 = colour(S::userInfoHeading), label2 = colour(S::serverHeading),
                   label27 = colour(S::dialUpHeading);
    const COLORREF label4 = colour(S::emailLabel), label6 = colour(S::dialPasswordLabel);
    DeleteDC(dc);
    SetSysColors(1, &element, &saved);
    EXPECT_EQ(label1, RGB(0, 0, 0)) << std::hex << label1;
    EXPECT_EQ(label2, RGB(0, 0, 0)) << std::hex << label2;
    EXPECT_EQ(label27, RGB(0, 0, 0)) << std::hex << label27;
    EXPECT_EQ(label4, blue) << std::hex << label4; // the others follow the scheme
    EXPECT_EQ(label6, blue) << std::hex << label6;

    auto weight = [&](int id) {
        LOGFONTA font{};
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(d.Control(id), WM_GETFONT, 0, 0)), sizeof font,
                   &font);
        return font.lfWeight;
    };
    EXPECT_EQ(weight(S::userInfoHeading), FW_BOLD);
    EXPECT_EQ(weight(S::serverHeading), FW_BOLD);
    EXPECT_EQ(weight(S::dialUpHeading), FW_BOLD);
    EXPECT_EQ(weight(S::emailLabel), FW_NORMAL);
}

TEST_F(SettingsDialogTest, OnlyOkAndCancelCloseIt) {
    SettingsDialog& d = Open();
    SendMessageA(d.Handle(), WM_CLOSE, 0, 0);
    SendMessageA(d.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); // Alt+F4, the task bar's Close
    Drain();
    ASSERT_NE(d.Handle(), nullptr);
    EXPECT_TRUE(d.IsVisible());
    EXPECT_TRUE(state.SettingsOpen);
}

TEST_F(SettingsDialogTest, FormCreateFillsTheFieldsAndSelectsTheStoredEntry) {
    state.settings.DialEntry = "Work";
    state.settings.DialPassword = "secret";
    state.settings.UseDialup = true;
    state.settings.SMTPPort = "2525";
    SettingsDialog& d = Open();
    EXPECT_TRUE(state.SettingsOpen);
    EXPECT_EQ(fake.recorded, 1);
    EXPECT_EQ(fake.imported, 0); // not a first run
    EXPECT_EQ(d.Items(S::entryList), (std::vector<std::string>{"Home", "Work"}));
    EXPECT_EQ(d.SelectedIndex(S::entryList), 1);
    EXPECT_TRUE(d.IsEnabled(S::dialUpCheck));
    EXPECT_TRUE(Checked(d));
    EXPECT_TRUE(state.settings.UseDialup);
    EXPECT_EQ(d.Text(S::serverEdit), "mail.example");
    EXPECT_EQ(d.Text(S::portEdit), "2525");
    EXPECT_EQ(d.Text(S::emailEdit), "me@example.com");
    EXPECT_EQ(d.Text(S::dialPasswordEdit), "secret");
}

TEST_F(SettingsDialogTest, UnmatchedEntryTurnsDialUpOffAtOnceAndCancelKeepsItOff) {
    state.settings.DialEntry = "Office";
    state.settings.UseDialup = true;
    SettingsDialog& d = Open();
    EXPECT_FALSE(state.settings.UseDialup); // before OK or Cancel
    EXPECT_EQ(d.SelectedIndex(S::entryList), -1);
    EXPECT_FALSE(d.IsEnabled(S::dialUpCheck));
    EXPECT_FALSE(Checked(d));

    Click(d.Control(S::cancelButton));
    EXPECT_FALSE(state.SettingsOpen);
    EXPECT_FALSE(d.IsVisible());
    Drain();
    EXPECT_EQ(settings_->Handle(), nullptr); // destroyed once the queue was handled
    EXPECT_FALSE(state.settings.UseDialup);
    EXPECT_EQ(state.settings.DialEntry, "Office"); // Cancel copies nothing
    EXPECT_FALSE(folder.HasConfig());
    EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(SettingsDialogTest, PickingAnEntryEnablesTheCheckBox) {
    SettingsDialog& d = Open();
    ASSERT_FALSE(d.IsEnabled(S::dialUpCheck));
    d.SetSelectedIndex(S::entryList, 0);
    d.EntryPicked();
    EXPECT_TRUE(d.IsEnabled(S::dialUpCheck));
}

TEST_F(SettingsDialogTest, AStoredEntryNameIsCutToTheLongestPhoneBookName) {
    state.settings.DialEntry = std::string(300, 'e');
    Open();
    ASSERT_EQ(fake.wantedNames.size(), 1u);
    EXPECT_EQ(fake.wantedNames[0], std::string(256, 'e'));
    EXPECT_EQ(state.settings.DialEntry.size(), 300u); // the setting itself is left alone
}

TEST_F(SettingsDialogTest, OkCopiesTheFieldsClosesAndSaves) {
    state.settings.DialEntry = "Office"; // matches nothing: no entry selected
    state.settings.DialPassword = "old";
    SettingsDialog& d = Open();
    d.SetText(S::serverEdit, "smtp.new.example");
    d.SetText(S::portEdit, "smtp-port"); // not a number: taken as it is
    d.SetText(S::emailEdit, "new@example.com");
    d.SetText(S::dialPasswordEdit, "pw:with colon");
    Click(d.Control(S::okButton));

    EXPECT_TRUE(fake.boxes.empty()) << fake.boxes.front().text;
    EXPECT_FALSE(state.SettingsOpen);
    EXPECT_EQ(state.settings.SMTPServer, "smtp.new.example");
    EXPECT_EQ(state.settings.SMTPPort, "smtp-port");
    EXPECT_EQ(state.settings.EmailAddress, "new@example.com");
    EXPECT_EQ(state.settings.DialEntry, ""); // no entry selected stores an empty entry
    EXPECT_EQ(state.settings.DialPassword, "pw:with colon");
    EXPECT_FALSE(state.settings.UseDialup);
    EXPECT_EQ(folder.ReadConfig(),
              "smtp.new.example:smtp-port\r\nnew@example.com\r\n:pw:with colon\r\nFALSE\r\n");
    Drain();
    EXPECT_EQ(settings_->Handle(), nullptr);
}

TEST_F(SettingsDialogTest, OkStoresTheSelectedEntryAndTheTick) {
    SettingsDialog& d = Open();
    d.SetSelectedIndex(S::entryList, 1);
    d.EntryPicked();
    SendMessageA(d.Control(S::dialUpCheck), BM_SETCHECK, BST_CHECKED, 0);
    Click(d.Control(S::okButton));
    EXPECT_EQ(state.settings.DialEntry, "Work");
    EXPECT_TRUE(state.settings.UseDialup);
    EXPECT_EQ(Lines(folder.ReadConfig())[2], "Work:");
    EXPECT_EQ(Lines(folder.ReadConfig())[3], "TRUE");
}

TEST_F(SettingsDialogTest, OkRefusesAServerWithAColonAndChangesNothing) {
    folder.WriteConfig("old\r\n");
    SettingsDialog& d = Open();
    d.SetText(S::emailEdit, "changed@example.com");
    d.SetText(S::serverEdit, "host:25");
    Click(d.Control(S::okButton));

    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_NE(fake.boxes[0].text.find("SMTP server"), std::string::npos) << fake.boxes[0].text;
    EXPECT_EQ(GetFocus(), d.Control(S::serverEdit));
    EXPECT_TRUE(state.SettingsOpen);
    EXPECT_TRUE(d.IsVisible());
    EXPECT_EQ(state.settings.SMTPServer, "mail.example");
    EXPECT_EQ(state.settings.EmailAddress, "me@example.com");
    EXPECT_EQ(folder.ReadConfig(), "old\r\n");
    Drain();
    EXPECT_NE(settings_->Handle(), nullptr); // still open for a correction
}

TEST_F(SettingsDialogTest, OkRefusesALineBreakInThePasswordOnItsPage) {
    SettingsDialog& d = Open();
    d.SetText(S::dialPasswordEdit, "a\r\nb");
    Click(d.Control(S::okButton));
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_NE(fake.boxes[0].text.find("dial-up password"), std::string::npos) << fake.boxes[0].text;
    EXPECT_EQ(d.ActivePage(), 1);
    EXPECT_EQ(GetFocus(), d.Control(S::dialPasswordEdit));
    EXPECT_FALSE(folder.HasConfig());
    EXPECT_EQ(state.settings.DialPassword, "");
}

TEST_F(SettingsDialogTest, AFailedSaveIsShownAndLeavesTheFileWhole) {
    folder.WriteConfig("old:25\r\n\r\n:\r\nFALSE\r\n");
    folder.BlockSaving();
    SettingsDialog& d = Open();
    d.SetText(S::serverEdit, "new.example");
    Click(d.Control(S::okButton));
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_NE(fake.boxes[0].text.find("zembrix.cfg"), std::string::npos) << fake.boxes[0].text;
    EXPECT_EQ(folder.ReadConfig(), "old:25\r\n\r\n:\r\nFALSE\r\n");
    EXPECT_EQ(state.settings.SMTPServer, "new.example"); // the memory keeps what was confirmed
}

TEST_F(SettingsDialogTest, FirstRunImportsEveryTimeTheDialogOpens) {
    state.settings.FirstRun = true;
    SettingsDialog& d = Open();
    EXPECT_EQ(fake.serverSeenByImport, "mail.example");
    EXPECT_EQ(d.Text(S::serverEdit), "smtp.imported.example");
    d.SetText(S::serverEdit, "typed.example");
    Click(d.Control(S::okButton));
    Drain();
    EXPECT_EQ(state.settings.SMTPServer, "typed.example");

    SettingsDialog& again = Open();
    EXPECT_EQ(fake.imported, 2);
    EXPECT_EQ(again.Text(S::serverEdit), "smtp.imported.example");
}

TEST_F(SettingsDialogTest, MailToReportsAFailedRegistrationAndStaysOpen) {
    SettingsDialog& d = Open();
    Click(d.Control(S::mailToButton));
    EXPECT_EQ(fake.registered, 1);
    EXPECT_TRUE(fake.boxes.empty());

    fake.registerSucceeds = false;
    Click(d.Control(S::mailToButton));
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, "Unable to set Tarvel to default program.");
    EXPECT_EQ(fake.boxes[0].flags, static_cast<UINT>(MB_OK));
    Drain();
    EXPECT_TRUE(d.IsVisible());
    EXPECT_TRUE(state.SettingsOpen);
}

TEST_F(SettingsDialogTest, OpeningAgainBringsTheOpenDialogForward) {
    SettingsDialog& first = Open();
    HWND hwnd = first.Handle();
    ShowWindow(hwnd, SW_HIDE);
    SettingsDialog& second = Open();
    EXPECT_EQ(&second, &first);
    EXPECT_EQ(second.Handle(), hwnd);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_EQ(fake.recorded, 1); // FormCreate ran once

    Click(first.Control(S::cancelButton));
    Drain();
    SettingsDialog& third = Open();
    EXPECT_NE(third.Handle(), nullptr);
    EXPECT_EQ(fake.recorded, 2); // a new instance after the close
}

TEST_F(SettingsDialogTest, OwnedByTheGivenWindowOrByNone) {
    HWND owner =
        CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    SettingsDialog& owned = Open(owner);
    EXPECT_EQ(GetWindow(owned.Handle(), GW_OWNER), owner);
    Click(owned.Control(S::cancelButton));
    Drain();
    SettingsDialog& free = Open(nullptr);
    EXPECT_EQ(GetWindow(free.Handle(), GW_OWNER), nullptr);
    DestroyWindow(owner);
}

TEST_F(SettingsDialogTest, SecurityPageOffersTheModesAndTheUsualPortsAndLogOnOnlyWhenEncrypted) {
    SettingsDialog& d = Open();
    d.SetActivePage(2);
    EXPECT_TRUE(IsWindowVisible(d.Control(S::securityList)));
    EXPECT_EQ(d.Items(S::securityList), (std::vector<std::string>{"None", "STARTTLS", "SSL/TLS"}));
    EXPECT_EQ(d.SelectedIndex(S::securityList), 0);
    EXPECT_EQ(SendMessageA(d.Control(S::passwordEdit), EM_GETPASSWORDCHAR, 0, 0), '*');
    for (int id : {int(S::securityList), int(S::userEdit), int(S::passwordEdit)})
        EXPECT_FALSE(d.Hint(id).empty()) << id;

    // Each choice: the port it leaves, and whether the log-on fields can be used.
    const struct {
        int choice;
        std::string portBefore, portAfter;
        bool logOn;
    } cases[] = {
        {1, "25", "587", true}, {2, "25", "465", true},   {2, "587", "587", true},
        {1, "", "587", true},   {0, "465", "465", false}, {1, "2525", "2525", true},
    };
    for (const auto& c : cases) {
        d.SetText(S::portEdit, c.portBefore);
        d.SetSelectedIndex(S::securityList, c.choice);
        d.SecurityPicked();
        EXPECT_EQ(d.Text(S::portEdit), c.portAfter) << c.choice << " " << c.portBefore;
        EXPECT_EQ(IsWindowEnabled(d.Control(S::userEdit)) != FALSE, c.logOn) << c.choice;
        EXPECT_EQ(IsWindowEnabled(d.Control(S::passwordEdit)) != FALSE, c.logOn) << c.choice;
    }
}

TEST_F(SettingsDialogTest, OkSavesTheSecurityFileAndPutsThePasswordOnlyInItsStore) {
    std::vector<std::pair<std::string, std::string>> stored;
    state.settings.Security.User = "ann";
    tarvel::Services services = fake.Make();
    services.readPassword = [](const std::string& target) -> std::optional<std::string> {
        if (target == "Tarvel Pro/smtp/ann@mail.example") return "old secret";
        return std::nullopt;
    };
    services.storePassword = [&stored](const std::string& target, const std::string& password) {
        stored.emplace_back(target, password);
        return std::string();
    };
    SettingsDialog& d = *OpenSettings(settings_, state, nullptr, services);
    EXPECT_EQ(d.Text(S::passwordEdit), "old secret");
    d.SetSelectedIndex(S::securityList, 1);
    d.SecurityPicked();
    d.SetText(S::userEdit, "bob");
    d.SetText(S::passwordEdit, "new secret");
    Click(d.Control(S::okButton));

    EXPECT_TRUE(fake.boxes.empty()) << fake.boxes.front().text;
    EXPECT_EQ(state.settings.Security.Mode, tarvel::SecurityMode::StartTls);
    EXPECT_EQ(state.settings.Security.User, "bob");
    EXPECT_EQ(state.settings.SMTPPort, "587");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0],
              (std::pair<std::string, std::string>{"Tarvel Pro/smtp/bob@mail.example", "new secret"}));
    std::ifstream ini(folder.Folder() + "zembrix.ini", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "[Security]\r\nMode=STARTTLS\r\nUser=bob\r\n");
    EXPECT_EQ(folder.ReadConfig().find("secret"), std::string::npos);
}

TEST_F(SettingsDialogTest, OkWithoutSecurityWritesNoSecurityFile) {
    SettingsDialog& d = Open();
    Click(d.Control(S::okButton));
    EXPECT_TRUE(folder.HasConfig());
    EXPECT_FALSE(std::filesystem::exists(folder.Folder() + "zembrix.ini"));
}

TEST_F(SettingsDialogTest, OkRefusesAUserNameWithALineBreakAndChangesNothing) {
    SettingsDialog& d = Open();
    d.SetSelectedIndex(S::securityList, 2);
    d.SecurityPicked();
    d.SetText(S::userEdit, "ann\r\nMode=None");
    Click(d.Control(S::okButton));
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, "The user name must not contain a line break.");
    EXPECT_EQ(d.ActivePage(), 2);
    EXPECT_TRUE(state.SettingsOpen);
    EXPECT_EQ(state.settings.Security.User, "");
    EXPECT_FALSE(folder.HasConfig());
}

TEST_F(SettingsDialogTest, SecurityPageOffersOAuthOnlyWhenEncryptedAndFillsTheProvidersServer) {
    SettingsDialog& d = Open();
    d.SetActivePage(2);
    EXPECT_EQ(d.Items(S::logOnList), (std::vector<std::string>{"Password", "OAuth 2.0"}));
    EXPECT_EQ(d.Items(S::providerList), (std::vector<std::string>{"Microsoft", "Google", "Other"}));
    const int oauthRows[] = {S::providerList, S::clientIdEdit, S::signInButton, S::signInStatus};
    // Each: the server before, the choices made in order (security, log-on, provider), then what the
    // page shows.
    const struct {
        const char* name;
        std::string server;
        int security, logOn, provider;
        std::string serverAfter, portAfter;
        int securityAfter;
        bool logOnOn, passwordOn, oauthShown;
    } cases[] = {
        {"Microsoft fills", "", 2, 1, 0, "smtp.office365.com", "587", 1, true, false, true},
        {"Google fills", "", 1, 1, 1, "smtp.gmail.com", "587", 1, true, false, true},
        {"a set server stays", "mail.example", 2, 1, 1, "mail.example", "465", 2, true, false, true},
        {"Other fills nothing", "", 1, 1, 2, "", "587", 1, true, false, true},
        {"password log-on", "", 1, 0, 0, "", "587", 1, true, true, false},
        {"None turns OAuth off", "", 0, 1, 0, "", "25", 0, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        d.SetText(S::serverEdit, c.server);
        d.SetText(S::portEdit, "25");
        d.SetSelectedIndex(S::securityList, c.security);
        d.SecurityPicked();
        d.SetSelectedIndex(S::providerList, c.provider);
        d.SetSelectedIndex(S::logOnList, c.logOn);
        d.LogOnPicked();
        d.ProviderPicked();
        if (c.security == 0) d.SecurityPicked(); // a choice of None after OAuth 2.0 takes it back
        EXPECT_EQ(d.Text(S::serverEdit), c.serverAfter);
        EXPECT_EQ(d.Text(S::portEdit), c.portAfter);
        EXPECT_EQ(d.SelectedIndex(S::securityList), c.securityAfter);
        EXPECT_EQ(d.IsEnabled(S::logOnList), c.logOnOn);
        EXPECT_EQ(d.IsEnabled(S::passwordEdit), c.passwordOn);
        for (int id : oauthRows)
            EXPECT_EQ(IsWindowVisible(d.Control(id)) != FALSE, c.oauthShown) << id;
        if (!c.logOnOn) EXPECT_EQ(d.SelectedIndex(S::logOnList), 0);
        tarvel::test::ExpectLaidOut(d.Handle());
    }
    // Tab runs down the page: connection security, log-on, user, then the sign-in's rows.
    d.SetSelectedIndex(S::securityList, 1);
    d.SecurityPicked();
    d.SetSelectedIndex(S::logOnList, 1);
    d.LogOnPicked();
    EXPECT_EQ(
        TabSequence(d, 10),
        (std::vector<int>{S::okButton, S::cancelButton, S::pageTabs, S::securityList, S::logOnList,
                          S::userEdit, S::providerList, S::clientIdEdit, S::signInButton, S::okButton}));
}

TEST_F(SettingsDialogTest, SignInRunsInTheBrowserAndShowsWhoIsSignedIn) {
    const struct {
        const char* name;
        std::string user;
        tarvel::oauth::TokenOutcome outcome;
        bool cancelled; // the button is clicked again while the sign-in waits
        std::string status;
        std::string box; // "" for none
    } cases[] = {
        {"signed in", "ann", {tarvel::oauth::TokenEnd::Ready, "t", ""}, false, "Signed in as ann", ""},
        {"refused",
         "bob",
         {tarvel::oauth::TokenEnd::Failed, "", "access_denied"},
         false,
         "Not signed in",
         "access_denied"},
        {"cancelled", "cid", {}, true, "Not signed in", ""},
        {"no user", "", {}, false, "Not signed in", "Enter the user name to sign in with."},
    };
    state.settings.Security.Mode = tarvel::SecurityMode::StartTls;
    state.settings.Security.LogOn = tarvel::LogOnMethod::OAuth2;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake.boxes.clear();
        fake.signInOutcome = c.outcome;
        fake.signInWaits = c.cancelled;
        fake.signInCancels = 0;
        SettingsDialog& d = Open();
        d.SetActivePage(2);
        d.SetText(S::userEdit, c.user);
        d.SetText(S::clientIdEdit, "client-" + c.user);
        Click(d.Control(S::signInButton));
        if (!c.user.empty()) {
            EXPECT_EQ(d.Text(S::signInStatus), "Waiting for sign-in in your browser...");
            EXPECT_EQ(d.Text(S::signInButton), "Cancel");
        }
        if (c.cancelled) Click(d.Control(S::signInButton));
        EXPECT_TRUE(tarvel::test::PumpUntil([&] { return d.Text(S::signInButton) == "Sign &in..."; }));
        EXPECT_TRUE(tarvel::test::PumpUntil([&] { return d.Text(S::signInStatus) == c.status; }))
            << d.Text(S::signInStatus);
        EXPECT_TRUE(tarvel::test::PumpUntil([&] { return fake.signInCancels == (c.cancelled ? 1 : 0); }));
        ASSERT_EQ(fake.boxes.size(), c.box.empty() ? 0u : 1u);
        if (!c.box.empty()) EXPECT_EQ(fake.boxes[0].text, c.box);
        if (!c.user.empty()) EXPECT_EQ(fake.signInsAsked.back().ClientId, "client-" + c.user);
        Click(d.Control(S::cancelButton));
        Drain();
    }
    EXPECT_EQ(fake.signInsAsked.size(), 3u); // none without a user name
}

TEST_F(SettingsDialogTest, OkKeepsTheOAuthChoiceAndStoresNoPassword) {
    SettingsDialog& d = Open();
    d.SetSelectedIndex(S::securityList, 1);
    d.SecurityPicked();
    d.SetSelectedIndex(S::logOnList, 1);
    d.LogOnPicked();
    d.SetSelectedIndex(S::providerList, 1);
    d.ProviderPicked();
    d.SetText(S::userEdit, "ann@gmail.com");
    d.SetText(S::passwordEdit, "typed before");
    d.SetText(S::clientIdEdit, "1234.apps.example");
    Click(d.Control(S::okButton));
    EXPECT_TRUE(fake.boxes.empty()) << fake.boxes.front().text;
    const tarvel::SecuritySettings& saved = state.settings.Security;
    EXPECT_EQ(saved.LogOn, tarvel::LogOnMethod::OAuth2);
    EXPECT_EQ(saved.OAuth2.Provider, tarvel::OAuthProvider::Google);
    EXPECT_EQ(saved.OAuth2.ClientId, "1234.apps.example");
    EXPECT_EQ(state.settings.SMTPServer, "mail.example"); // a server was set: left alone
    EXPECT_TRUE(fake.passwords.empty());
}
