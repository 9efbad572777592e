// The settings dialog: its layout, FormCreate's immediate effects, OK's copy, refusal and save, Cancel,
// the "mailto:" registration and the one-instance opening.
#include <gtest/gtest.h>

#include <memory>

#include "dialog_support.h"
#include "ui/settings.h"

using tarvel::test::Click;
using tarvel::test::Drain;
using tarvel::test::FakeServices;
using tarvel::test::Lines;
using tarvel::test::MessageBoxes;
using tarvel::test::ScratchFolder;
using tarvel::ui::OpenSettings;
using tarvel::ui::SharedState;
using tarvel::ui::TfrmSettings;
using S = TfrmSettings;

namespace {

class SettingsDialog : public ::testing::Test {
protected:
    SettingsDialog() {
        state.configPath = folder.Config();
        state.settings.SMTPServer = "mail.example";
        state.settings.SMTPPort = "25";
        state.settings.EmailAddress = "me@example.com";
        fake.phoneBook.items = {"Home", "Work"};
    }

    TfrmSettings& Open(HWND owner = nullptr) {
        TfrmSettings* dialog = OpenSettings(frmSettings, state, owner, fake.Make());
        EXPECT_NE(dialog, nullptr);
        return *dialog;
    }
    // The controls that Tab visits from OK on, as the dialog navigation of the message loop sees them.
    static std::vector<int> TabSequence(TfrmSettings& d, int count) {
        std::vector<int> order;
        HWND at = d.Control(S::cmdOk);
        for (int i = 0; i < count && at; ++i) {
            order.push_back(GetDlgCtrlID(at));
            at = GetNextDlgTabItem(d.Handle(), at, FALSE);
        }
        return order;
    }
    bool Checked(TfrmSettings& d) {
        return SendMessageA(d.Control(S::chkDialup), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }

    tarvel::ui::Application app;
    ScratchFolder folder;
    MessageBoxes boxes;
    FakeServices fake;
    SharedState state;
    std::unique_ptr<TfrmSettings> frmSettings;
};

} // namespace

TEST_F(SettingsDialog, WindowAndControlsAsDesigned) {
    TfrmSettings& d = Open();
    RECT outer{};
    GetWindowRect(d.Handle(), &outer);
    EXPECT_EQ(d.Text(0), "Settings");
    EXPECT_EQ(outer.left, 261);
    EXPECT_EQ(outer.top, 163);
    EXPECT_EQ(outer.right - outer.left, 344);
    EXPECT_EQ(outer.bottom - outer.top, 230);
    const LONG style = GetWindowLongA(d.Handle(), GWL_STYLE);
    EXPECT_EQ(style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0) << std::hex << style;

    // Pages, their captions, and the first one shown.
    HWND tabs = d.Control(S::PageControl1);
    ASSERT_EQ(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0), 3);
    char caption[32] = {};
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption;
    item.cchTextMax = sizeof caption;
    SendMessageA(tabs, TCM_GETITEMA, 1, reinterpret_cast<LPARAM>(&item));
    EXPECT_STREQ(caption, "Dial Up");
    EXPECT_EQ(d.ActivePage(), 0);
    EXPECT_TRUE(IsWindowVisible(d.Control(S::edsSMTP)));
    EXPECT_FALSE(IsWindowVisible(d.Control(S::edsPasswd)));

    // Places within the parent: the form for the buttons, a page for the fields.
    auto place = [&](int id) {
        RECT r{};
        HWND h = d.Control(id);
        GetWindowRect(h, &r);
        MapWindowPoints(nullptr, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    EXPECT_EQ(place(S::cmdOk).left, 174);
    EXPECT_EQ(place(S::cmdOk).top, 173);
    EXPECT_EQ(place(S::edsPort).left, 268);
    EXPECT_EQ(place(S::edsPort).top, 107);
    EXPECT_EQ(GetParent(d.Control(S::edsPort)), d.Control(S::TabSheet1));
    EXPECT_EQ(GetParent(d.Control(S::edsPasswd)), d.Control(S::TabSheet2));
    EXPECT_EQ(d.Text(S::cmdMailTo), "MailTo");
    EXPECT_EQ(d.Text(S::chkDialup), "&Use dialup connection");

    // Tab order: OK, Cancel, the page control's strip, then the shown page's fields, and round again.
    EXPECT_EQ(TabSequence(d, 8), (std::vector<int>{S::cmdOk, S::cmdCancel, S::PageControl1, S::cmdMailTo,
                                                   S::edsEmail, S::edsSMTP, S::edsPort, S::cmdOk}));

    // The password shows stars and keeps its hint without showing it.
    EXPECT_TRUE(GetWindowLongA(d.Control(S::edsPasswd), GWL_STYLE) & ES_PASSWORD);
    EXPECT_EQ(SendMessageA(d.Control(S::edsPasswd), EM_GETPASSWORDCHAR, 0, 0), '*');
    EXPECT_EQ(d.Hint(S::edsPasswd), "An optional password to your DialUp functions.");
    TOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.hwnd = d.Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(d.Control(S::edsPasswd));
    EXPECT_FALSE(
        SendMessageA(d.HintWindow().Tooltip(), TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&tool)));
    EXPECT_EQ(d.Hint(S::cmdOk), "Closes this dialog and saves all changes you've made.");
    EXPECT_EQ(d.Hint(S::edsPort), "The port number your SMTP server listens on. 25 is default.");

    // Switching pages shows the other page's fields.
    d.SetActivePage(1);
    EXPECT_TRUE(IsWindowVisible(d.Control(S::edsPasswd)));
    EXPECT_FALSE(IsWindowVisible(d.Control(S::edsSMTP)));
}

TEST_F(SettingsDialog, TabGoesFromTheButtonsToTheStripAndIntoTheShownPage) {
    state.settings.DialEntry = "Work";
    TfrmSettings& d = Open();
    d.SetActivePage(1);
    EXPECT_EQ(TabSequence(d, 7), (std::vector<int>{S::cmdOk, S::cmdCancel, S::PageControl1, S::chkDialup,
                                                   S::lstEntries, S::edsPasswd, S::cmdOk}));
    // Backwards from OK: the last field of the page, then back up through the strip.
    EXPECT_EQ(GetDlgCtrlID(GetNextDlgTabItem(d.Handle(), d.Control(S::cmdOk), TRUE)), S::edsPasswd);
    EXPECT_EQ(GetDlgCtrlID(GetNextDlgTabItem(d.Handle(), d.Control(S::chkDialup), TRUE)), S::PageControl1);

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
    EXPECT_TRUE(drawable(d.Control(S::TabSheet2)));
    EXPECT_EQ(hitAt(d.Control(S::edsPasswd)), d.Control(S::edsPasswd));
    d.SetActivePage(0);
    EXPECT_TRUE(drawable(d.Control(S::TabSheet1)));
    EXPECT_EQ(hitAt(d.Control(S::edsEmail)), d.Control(S::edsEmail));
}

TEST_F(SettingsDialog, SectionLabelsAreBoldAndBlackWhateverTheColourScheme) {
    TfrmSettings& d = Open();
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
    const COLORREF label1 = colour(S::Label1), label2 = colour(S::Label2), label27 = colour(S::Label27);
    const COLORREF label4 = colour(S::Label4), label6 = colour(S::Label6);
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
    EXPECT_EQ(weight(S::Label1), FW_BOLD);
    EXPECT_EQ(weight(S::Label2), FW_BOLD);
    EXPECT_EQ(weight(S::Label27), FW_BOLD);
    EXPECT_EQ(weight(S::Label4), FW_NORMAL);
}

TEST_F(SettingsDialog, OnlyOkAndCancelCloseIt) {
    TfrmSettings& d = Open();
    SendMessageA(d.Handle(), WM_CLOSE, 0, 0);
    SendMessageA(d.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); // Alt+F4, the task bar's Close
    Drain();
    ASSERT_NE(d.Handle(), nullptr);
    EXPECT_TRUE(d.IsVisible());
    EXPECT_TRUE(state.SettingsOpen);
}

TEST_F(SettingsDialog, FormCreateFillsTheFieldsAndSelectsTheStoredEntry) {
    state.settings.DialEntry = "Work";
    state.settings.DialPassword = "secret";
    state.settings.UseDialup = true;
    state.settings.SMTPPort = "2525";
    TfrmSettings& d = Open();
    EXPECT_TRUE(state.SettingsOpen);
    EXPECT_EQ(fake.recorded, 1);
    EXPECT_EQ(fake.imported, 0); // not a first run
    EXPECT_EQ(d.Items(S::lstEntries), (std::vector<std::string>{"Home", "Work"}));
    EXPECT_EQ(d.SelectedIndex(S::lstEntries), 1);
    EXPECT_TRUE(d.IsEnabled(S::chkDialup));
    EXPECT_TRUE(Checked(d));
    EXPECT_TRUE(state.settings.UseDialup);
    EXPECT_EQ(d.Text(S::edsSMTP), "mail.example");
    EXPECT_EQ(d.Text(S::edsPort), "2525");
    EXPECT_EQ(d.Text(S::edsEmail), "me@example.com");
    EXPECT_EQ(d.Text(S::edsPasswd), "secret");
}

TEST_F(SettingsDialog, UnmatchedEntryTurnsDialUpOffAtOnceAndCancelKeepsItOff) {
    state.settings.DialEntry = "Office";
    state.settings.UseDialup = true;
    TfrmSettings& d = Open();
    EXPECT_FALSE(state.settings.UseDialup); // before OK or Cancel
    EXPECT_EQ(d.SelectedIndex(S::lstEntries), -1);
    EXPECT_FALSE(d.IsEnabled(S::chkDialup));
    EXPECT_FALSE(Checked(d));

    Click(d.Control(S::cmdCancel));
    EXPECT_FALSE(state.SettingsOpen);
    EXPECT_FALSE(d.IsVisible());
    Drain();
    EXPECT_EQ(frmSettings->Handle(), nullptr); // destroyed once the queue was handled
    EXPECT_FALSE(state.settings.UseDialup);
    EXPECT_EQ(state.settings.DialEntry, "Office"); // Cancel copies nothing
    EXPECT_FALSE(folder.HasConfig());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SettingsDialog, PickingAnEntryEnablesTheCheckBox) {
    TfrmSettings& d = Open();
    ASSERT_FALSE(d.IsEnabled(S::chkDialup));
    d.SetSelectedIndex(S::lstEntries, 0);
    d.lstEntriesClick();
    EXPECT_TRUE(d.IsEnabled(S::chkDialup));
}

TEST_F(SettingsDialog, AStoredEntryNameIsCutToTheLongestPhoneBookName) {
    state.settings.DialEntry = std::string(300, 'e');
    Open();
    ASSERT_EQ(fake.wantedNames.size(), 1u);
    EXPECT_EQ(fake.wantedNames[0], std::string(256, 'e'));
    EXPECT_EQ(state.settings.DialEntry.size(), 300u); // the setting itself is left alone
}

TEST_F(SettingsDialog, OkCopiesTheFieldsClosesAndSaves) {
    state.settings.DialEntry = "Office"; // matches nothing: no entry selected
    state.settings.DialPassword = "old";
    TfrmSettings& d = Open();
    d.SetText(S::edsSMTP, "smtp.new.example");
    d.SetText(S::edsPort, "smtp-port"); // not a number: taken as it is
    d.SetText(S::edsEmail, "new@example.com");
    d.SetText(S::edsPasswd, "pw:with colon");
    Click(d.Control(S::cmdOk));

    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
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
    EXPECT_EQ(frmSettings->Handle(), nullptr);
}

TEST_F(SettingsDialog, OkStoresTheSelectedEntryAndTheTick) {
    TfrmSettings& d = Open();
    d.SetSelectedIndex(S::lstEntries, 1);
    d.lstEntriesClick();
    SendMessageA(d.Control(S::chkDialup), BM_SETCHECK, BST_CHECKED, 0);
    Click(d.Control(S::cmdOk));
    EXPECT_EQ(state.settings.DialEntry, "Work");
    EXPECT_TRUE(state.settings.UseDialup);
    EXPECT_EQ(Lines(folder.ReadConfig())[2], "Work:");
    EXPECT_EQ(Lines(folder.ReadConfig())[3], "TRUE");
}

TEST_F(SettingsDialog, OkRefusesAServerWithAColonAndChangesNothing) {
    folder.WriteConfig("old\r\n");
    TfrmSettings& d = Open();
    d.SetText(S::edsEmail, "changed@example.com");
    d.SetText(S::edsSMTP, "host:25");
    Click(d.Control(S::cmdOk));

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_NE(boxes.shown[0].text.find("SMTP server"), std::string::npos) << boxes.shown[0].text;
    EXPECT_EQ(GetFocus(), d.Control(S::edsSMTP));
    EXPECT_TRUE(state.SettingsOpen);
    EXPECT_TRUE(d.IsVisible());
    EXPECT_EQ(state.settings.SMTPServer, "mail.example");
    EXPECT_EQ(state.settings.EmailAddress, "me@example.com");
    EXPECT_EQ(folder.ReadConfig(), "old\r\n");
    Drain();
    EXPECT_NE(frmSettings->Handle(), nullptr); // still open for a correction
}

TEST_F(SettingsDialog, OkRefusesALineBreakInThePasswordOnItsPage) {
    TfrmSettings& d = Open();
    d.SetText(S::edsPasswd, "a\r\nb");
    Click(d.Control(S::cmdOk));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_NE(boxes.shown[0].text.find("dial-up password"), std::string::npos) << boxes.shown[0].text;
    EXPECT_EQ(d.ActivePage(), 1);
    EXPECT_EQ(GetFocus(), d.Control(S::edsPasswd));
    EXPECT_FALSE(folder.HasConfig());
    EXPECT_EQ(state.settings.DialPassword, "");
}

TEST_F(SettingsDialog, AFailedSaveIsShownAndLeavesTheFileWhole) {
    folder.WriteConfig("old:25\r\n\r\n:\r\nFALSE\r\n");
    folder.BlockSaving();
    TfrmSettings& d = Open();
    d.SetText(S::edsSMTP, "new.example");
    Click(d.Control(S::cmdOk));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_NE(boxes.shown[0].text.find("zembrix.cfg"), std::string::npos) << boxes.shown[0].text;
    EXPECT_EQ(folder.ReadConfig(), "old:25\r\n\r\n:\r\nFALSE\r\n");
    EXPECT_EQ(state.settings.SMTPServer, "new.example"); // the memory keeps what was confirmed
}

TEST_F(SettingsDialog, FirstRunImportsEveryTimeTheDialogOpens) {
    state.settings.FirstRun = true;
    TfrmSettings& d = Open();
    EXPECT_EQ(fake.serverSeenByImport, "mail.example");
    EXPECT_EQ(d.Text(S::edsSMTP), "smtp.imported.example");
    d.SetText(S::edsSMTP, "typed.example");
    Click(d.Control(S::cmdOk));
    Drain();
    EXPECT_EQ(state.settings.SMTPServer, "typed.example");

    TfrmSettings& again = Open();
    EXPECT_EQ(fake.imported, 2);
    EXPECT_EQ(again.Text(S::edsSMTP), "smtp.imported.example");
}

TEST_F(SettingsDialog, MailToReportsAFailedRegistrationAndStaysOpen) {
    TfrmSettings& d = Open();
    Click(d.Control(S::cmdMailTo));
    EXPECT_EQ(fake.registered, 1);
    EXPECT_TRUE(boxes.shown.empty());

    fake.registerSucceeds = false;
    Click(d.Control(S::cmdMailTo));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Unable to set Tarvel to default program.");
    EXPECT_EQ(boxes.shown[0].flags, static_cast<UINT>(MB_OK));
    Drain();
    EXPECT_TRUE(d.IsVisible());
    EXPECT_TRUE(state.SettingsOpen);
}

TEST_F(SettingsDialog, OpeningAgainBringsTheOpenDialogForward) {
    TfrmSettings& first = Open();
    HWND hwnd = first.Handle();
    ShowWindow(hwnd, SW_HIDE);
    TfrmSettings& second = Open();
    EXPECT_EQ(&second, &first);
    EXPECT_EQ(second.Handle(), hwnd);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_EQ(fake.recorded, 1); // FormCreate ran once

    Click(first.Control(S::cmdCancel));
    Drain();
    TfrmSettings& third = Open();
    EXPECT_NE(third.Handle(), nullptr);
    EXPECT_EQ(fake.recorded, 2); // a new instance after the close
}

TEST_F(SettingsDialog, OwnedByTheGivenWindowOrByNone) {
    HWND owner =
        CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    TfrmSettings& owned = Open(owner);
    EXPECT_EQ(GetWindow(owned.Handle(), GW_OWNER), owner);
    Click(owned.Control(S::cmdCancel));
    Drain();
    TfrmSettings& free = Open(nullptr);
    EXPECT_EQ(GetWindow(free.Handle(), GW_OWNER), nullptr);
    DestroyWindow(owner);
}

TEST_F(SettingsDialog, SecurityPageOffersTheModesAndTheUsualPortsAndLogOnOnlyWhenEncrypted) {
    TfrmSettings& d = Open();
    d.SetActivePage(2);
    EXPECT_TRUE(IsWindowVisible(d.Control(S::lstSecurity)));
    EXPECT_EQ(d.Items(S::lstSecurity), (std::vector<std::string>{"None", "STARTTLS", "SSL/TLS"}));
    EXPECT_EQ(d.SelectedIndex(S::lstSecurity), 0);
    EXPECT_EQ(SendMessageA(d.Control(S::edsSmtpPasswd), EM_GETPASSWORDCHAR, 0, 0), '*');
    for (int id : {int(S::lstSecurity), int(S::edsUser), int(S::edsSmtpPasswd)})
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
        d.SetText(S::edsPort, c.portBefore);
        d.SetSelectedIndex(S::lstSecurity, c.choice);
        d.lstSecurityClick();
        EXPECT_EQ(d.Text(S::edsPort), c.portAfter) << c.choice << " " << c.portBefore;
        EXPECT_EQ(IsWindowEnabled(d.Control(S::edsUser)) != FALSE, c.logOn) << c.choice;
        EXPECT_EQ(IsWindowEnabled(d.Control(S::edsSmtpPasswd)) != FALSE, c.logOn) << c.choice;
    }
}

TEST_F(SettingsDialog, OkSavesTheSecurityFileAndPutsThePasswordOnlyInItsStore) {
    std::vector<std::pair<std::string, std::string>> stored;
    state.settings.Security.User = "ann";
    tarvel::ui::SettingsServices services = fake.Make();
    services.readPassword = [](const std::string& target) -> std::optional<std::string> {
        if (target == "Tarvel Pro/smtp/ann@mail.example") return "old secret";
        return std::nullopt;
    };
    services.storePassword = [&stored](const std::string& target, const std::string& password) {
        stored.emplace_back(target, password);
        return std::string();
    };
    TfrmSettings& d = *OpenSettings(frmSettings, state, nullptr, services);
    EXPECT_EQ(d.Text(S::edsSmtpPasswd), "old secret");
    d.SetSelectedIndex(S::lstSecurity, 1);
    d.lstSecurityClick();
    d.SetText(S::edsUser, "bob");
    d.SetText(S::edsSmtpPasswd, "new secret");
    Click(d.Control(S::cmdOk));

    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
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

TEST_F(SettingsDialog, OkWithoutSecurityWritesNoSecurityFile) {
    TfrmSettings& d = Open();
    Click(d.Control(S::cmdOk));
    EXPECT_TRUE(folder.HasConfig());
    EXPECT_FALSE(std::filesystem::exists(folder.Folder() + "zembrix.ini"));
}

TEST_F(SettingsDialog, OkRefusesAUserNameWithALineBreakAndChangesNothing) {
    TfrmSettings& d = Open();
    d.SetSelectedIndex(S::lstSecurity, 2);
    d.lstSecurityClick();
    d.SetText(S::edsUser, "ann\r\nMode=None");
    Click(d.Control(S::cmdOk));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "The user name must not contain a line break.");
    EXPECT_EQ(d.ActivePage(), 2);
    EXPECT_TRUE(state.SettingsOpen);
    EXPECT_EQ(state.settings.Security.User, "");
    EXPECT_FALSE(folder.HasConfig());
}
