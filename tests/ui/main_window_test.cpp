// The main window as built: the window, every control of its table, hints, fonts, the menu, the tray icon and
// the tray notifications, driven with the messages the system would send.
#include "layout_rules.h"
#include "main_window_fixture.h"

#include <commctrl.h>

#include <algorithm>

using tarvel::test::ClassOf;
using tarvel::test::Drain;
using tarvel::test::MainWindow;
using tarvel::test::MainWindowTest;

namespace {

struct Expected {
    int id;
    const char* cls;
    const char* caption;
    bool enabled;
};

// The table of the window as the user sees it.
const Expected Controls[] = {
    {MainWindow::nameLabel, "Static", "Name", true},
    {MainWindow::emailLabel, "Static", "E-mail", true},
    {MainWindow::subjectLabel, "Static", "Subject", true},
    {MainWindow::attachLabel, "Static", "Attach file", true},
    {MainWindow::nameCombo, "ComboBox", "", true},
    {MainWindow::emailEdit, "Edit", "", true},
    {MainWindow::subjectEdit, "Edit", "", true},
    {MainWindow::attachEdit, "Edit", "", true},
    {MainWindow::browseButton, "Button", "&Browse", true},
    {MainWindow::bodyEdit, "Edit", "", true},
    {MainWindow::statusLabel, "Static", "Waiting...", true},
    {MainWindow::progressBar, "msctls_progress32", "", true},
    {MainWindow::sendButton, "Button", "&Send", false},
    {MainWindow::addButton, "Button", "&Add", false},
    {MainWindow::deleteButton, "Button", "&Delete", false},
    {MainWindow::closeButton, "Button", "&Close", true},
};

// A 16 × 16 icon file of one colour.
std::string SolidIcon(BYTE r, BYTE g, BYTE b) {
    std::string bmp;
    auto put32 = [&](DWORD v) { bmp.append(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&](WORD v) { bmp.append(reinterpret_cast<const char*>(&v), 2); };
    put32(40), put32(16), put32(32), put16(1), put16(32);
    for (int i = 0; i < 6; ++i)
        put32(0);
    for (int i = 0; i < 256; ++i)
        bmp += std::string{static_cast<char>(b), static_cast<char>(g), static_cast<char>(r), '\xff'};
    bmp.append(16 * 4, '\0'); // AND mask: every pixel opaque
    std::string ico;
    auto add16 = [&](WORD v) { ico.append(reinterpret_cast<const char*>(&v), 2); };
    auto add32 = [&](DWORD v) { ico.append(reinterpret_cast<const char*>(&v), 4); };
    add16(0), add16(1), add16(1);
    ico += std::string{16, 16, 0, 0};
    add16(1), add16(32), add32(static_cast<DWORD>(bmp.size())), add32(22);
    return ico + bmp;
}

// The colour of the icon's top-left pixel as 0xRRGGBB.
DWORD IconPixel(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return 0xFFFFFFFF;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = 16;
    bi.bmiHeader.biHeight = -16;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    DWORD pixels[256] = {};
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, info.hbmColor, 0, 16, pixels, &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return pixels[0] & 0xFFFFFF;
}

} // namespace

TEST_F(MainWindowTest, TheWindowHasItsClassCaptionFixedBorderAndPlace) {
    Open(false);
    HWND hwnd = window->Handle();
    EXPECT_EQ(ClassOf(hwnd), "TfrmMain");
    EXPECT_EQ(window->Text(0), "Tarvel Pro");
    EXPECT_FALSE(IsWindowVisible(hwnd)) << "tray mode starts hidden";
    LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    EXPECT_TRUE((style & WS_CAPTION) == WS_CAPTION);
    EXPECT_FALSE(style & (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) << std::hex << style;
    RECT client{}, outer{};
    GetClientRect(hwnd, &client);
    GetWindowRect(hwnd, &outer);
    EXPECT_EQ(client.right, 357);
    EXPECT_EQ(client.bottom, 360);
    EXPECT_EQ(outer.left, 176);
    EXPECT_EQ(outer.top, 130);
}

TEST_F(MainWindowTest, EveryControlHasItsKindCaptionAndStateAndTheLayoutKeepsItsRules) {
    Open();
    for (const Expected& e : Controls) {
        SCOPED_TRACE(e.id);
        HWND ctl = Ctl(e.id);
        ASSERT_NE(ctl, nullptr);
        EXPECT_EQ(ClassOf(ctl), e.cls);
        EXPECT_EQ(window->Text(e.id), e.caption);
        EXPECT_EQ(IsWindowEnabled(ctl) != FALSE, e.enabled);
        EXPECT_TRUE(IsWindowVisible(ctl));
    }
    tarvel::test::ExpectLaidOut(window->Handle());
    EXPECT_EQ(SendMessageA(Ctl(MainWindow::progressBar), PBM_GETRANGE, FALSE, 0), 100);
    EXPECT_EQ(window->Position(MainWindow::progressBar), 0);
    EXPECT_FALSE(window->IdleTimer().Enabled());
    EXPECT_FALSE(window->ProgressTimer().Enabled());
    EXPECT_EQ(window->IdleTimer().Interval(), 100u); // as configured for the test; 1000 by default
    EXPECT_EQ(tarvel::ui::MainOptions{}.idleInterval, 1000u);
    EXPECT_EQ(tarvel::ui::MainOptions{}.progressInterval, 100u);
    EXPECT_EQ(tarvel::ui::MainOptions{}.timeoutTicks, 30);
    EXPECT_EQ(window->Socket().MaximumReceiveLength(), 8192);
}

TEST_F(MainWindowTest, ControlsFollowTheTabOrderOfTheTable) {
    Open();
    // z-order is the tab sequence; labels have no place in it.
    std::vector<int> order;
    for (HWND c = GetWindow(window->Handle(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(c);
        if (ClassOf(c) != "Static") order.push_back(id);
    }
    std::vector<int> expected{MainWindow::nameCombo,    MainWindow::emailEdit,   MainWindow::subjectEdit,
                              MainWindow::bodyEdit,     MainWindow::sendButton,  MainWindow::addButton,
                              MainWindow::deleteButton, MainWindow::closeButton, MainWindow::attachEdit,
                              MainWindow::progressBar,  MainWindow::browseButton};
    EXPECT_EQ(order, expected);
    // Labels lie below every windowed control: a long status runs under the progress bar, not over it.
    std::vector<HWND> stack;
    for (HWND c = GetWindow(window->Handle(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        stack.push_back(c);
    auto depth = [&](int id) { return std::find(stack.begin(), stack.end(), Ctl(id)) - stack.begin(); };
    EXPECT_GT(depth(MainWindow::statusLabel), depth(MainWindow::progressBar));
    EXPECT_GT(depth(MainWindow::attachLabel), depth(MainWindow::attachEdit));
    // Tab moves the focus along it, through the application's dialog navigation. Windows of other
    // test programs on the same display may take the focus away: try again then.
    bool moved = false;
    for (int attempt = 0; attempt < 20 && !moved; ++attempt) {
        SetForegroundWindow(window->Handle());
        SetFocus(Ctl(MainWindow::emailEdit));
        if (GetFocus() != Ctl(MainWindow::emailEdit)) {
            tarvel::test::PumpUntilPosted(*window);
            continue;
        }
        PostMessageA(Ctl(MainWindow::emailEdit), WM_KEYDOWN, VK_TAB, 0);
        Drain();
        moved = GetFocus() == Ctl(MainWindow::subjectEdit);
    }
    EXPECT_TRUE(moved);
}

TEST_F(MainWindowTest, HintsAreSetAndShownByTheTooltip) {
    Open();
    EXPECT_EQ(window->Hint(MainWindow::closeButton), "Minimizes the application.");
    EXPECT_EQ(window->Hint(MainWindow::deleteButton), "Deletes the selected person.");
    EXPECT_EQ(window->Hint(MainWindow::addButton), "Adds the name and e-mail to the name list.");
    EXPECT_EQ(window->Hint(MainWindow::sendButton), "Sends the composed e-mail.");
    EXPECT_EQ(window->Hint(MainWindow::subjectEdit), "The subject of the e-mail to be sent.");
    EXPECT_EQ(window->Hint(MainWindow::emailEdit),
              "Enter the e-mail of the person you want to send mail to. You can "
              "enter multiple and separate them with ;");
    EXPECT_EQ(window->Hint(MainWindow::nameCombo),
              "Select the name of the person you want to send mail to or enter a new.");
    EXPECT_EQ(window->Hint(MainWindow::bodyEdit), "The body of the e-mail to be sent!");
    EXPECT_EQ(window->Hint(MainWindow::statusLabel), "Waiting...");
    EXPECT_EQ(window->Hint(MainWindow::attachEdit), "");
    // One tool per hinted control, and one more for the combo box's edit part.
    HWND tip = window->HintWindow().Tooltip();
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0), 10);
    TOOLINFOA info{};
    info.cbSize = TTTOOLINFOA_V2_SIZE;
    info.hwnd = window->Handle();
    info.uId = reinterpret_cast<UINT_PTR>(Ctl(MainWindow::sendButton));
    char text[128] = {};
    info.lpszText = text;
    ASSERT_TRUE(SendMessageA(tip, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&info)));
    EXPECT_TRUE(info.uFlags & TTF_SUBCLASS);
    EXPECT_TRUE(info.uFlags & TTF_IDISHWND);
}

TEST_F(MainWindowTest, ShowStatusSetsCaptionAndHint) {
    Open();
    window->ShowStatus("Creating mail...");
    EXPECT_EQ(Status(), "Creating mail...");
    EXPECT_EQ(window->Hint(MainWindow::statusLabel), "Creating mail...");
    // The label grows with a longer text.
    RECT before{}, after{};
    GetWindowRect(Ctl(MainWindow::statusLabel), &before);
    window->ShowStatus("Establishing ISP connection...");
    GetWindowRect(Ctl(MainWindow::statusLabel), &after);
    EXPECT_GT(after.right - after.left, before.right - before.left);
}

TEST_F(MainWindowTest, PopupMenuHasItsItemsWithCloseAsTheDefault) {
    Open();
    HMENU menu = window->TrayMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 5);
    const char* captions[] = {"&Show Tarvel Pro", "&About Tarvel Pro", "", "&Properties", "&Close"};
    const int ids[] = {MainWindow::showItem, MainWindow::aboutItem, 0, MainWindow::propertiesItem,
                       MainWindow::closeItem};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        char text[64] = {};
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, captions[i]);
        if (ids[i]) {
            EXPECT_EQ(static_cast<int>(GetMenuItemID(menu, i)), ids[i]);
        }
    }
    EXPECT_TRUE(GetMenuState(menu, 2, MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(static_cast<int>(GetMenuDefaultItem(menu, FALSE, 0)), MainWindow::closeItem);
}

TEST_F(MainWindowTest, TheTrayIconIsAddedOnceAndRemovedWithTheWindow) {
    Open(false);
    ASSERT_EQ(shell.size(), 1u) << "enabled twice at creation, added once";
    EXPECT_EQ(shell[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(shell[0].record.hWnd, window->Handle());
    EXPECT_EQ(shell[0].record.uID, 0u);
    EXPECT_EQ(shell[0].record.uFlags, 7u);
    EXPECT_EQ(shell[0].record.uCallbackMessage, 1024u);
    EXPECT_STREQ(shell[0].record.szTip, L"Tarvel Pro");
    EXPECT_NE(shell[0].record.hIcon, nullptr) << "no zembrix.ico here: the program's own icon";
    EXPECT_TRUE(window->Tray().Enabled());

    // Explorer restarted: the icon is added again.
    PostMessageA(window->Handle(), RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    Drain();
    ASSERT_EQ(shell.size(), 2u);
    EXPECT_EQ(shell[1].message, static_cast<DWORD>(NIM_ADD));

    HWND hwnd = window->Handle();
    window.reset();
    ASSERT_EQ(shell.size(), 3u);
    EXPECT_EQ(shell[2].message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(shell[2].record.hWnd, hwnd);
}

TEST_F(MainWindowTest, TheTrayPictureComesFromZembrixIcoOrElseFromTheProgram) {
    tarvel::test::TempFolder folder;
    options.exeFolder = folder.Folder();
    tarvel::test::TempFolder::PutFile(folder.File("zembrix.ico"), SolidIcon(255, 0, 0));
    Open(false);
    ASSERT_EQ(shell.size(), 1u);
    EXPECT_EQ(IconPixel(shell[0].record.hIcon), 0xFF0000u);
    window.reset();

    // Unreadable: not an icon at all.
    tarvel::test::TempFolder::PutFile(folder.File("zembrix.ico"), "not an icon");
    shell.clear();
    Open(false);
    ASSERT_EQ(shell.size(), 1u);
    ASSERT_NE(shell[0].record.hIcon, nullptr);
    EXPECT_NE(IconPixel(shell[0].record.hIcon), 0xFF0000u);
}

TEST_F(MainWindowTest, TrayClicksShowPopUpOrAreIgnored) {
    Open(false);
    Tray(0, WM_LBUTTONDBLCLK);
    Tray(0, WM_MOUSEMOVE);
    Tray(0, WM_LBUTTONDOWN);
    EXPECT_FALSE(window->IsVisible());
    EXPECT_TRUE(popups.empty());
    Tray(1, WM_LBUTTONUP); // not our icon
    EXPECT_FALSE(window->IsVisible());

    Tray(0, WM_LBUTTONUP);
    EXPECT_TRUE(window->IsVisible());

    Click(MainWindow::closeButton);
    EXPECT_FALSE(window->IsVisible()) << "Close hides to the tray";
    EXPECT_NE(window->Handle(), nullptr);

    POINT cursor{};
    SetCursorPos(40, 50);
    GetCursorPos(&cursor);
    Tray(0, WM_RBUTTONUP);
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].menu, window->TrayMenu());
    EXPECT_EQ(popups[0].x, cursor.x);
    EXPECT_EQ(popups[0].y, cursor.y);
    Tray(1, WM_RBUTTONUP);
    EXPECT_EQ(popups.size(), 1u);

    Menu(MainWindow::showItem);
    EXPECT_TRUE(window->IsVisible());
}

TEST_F(MainWindowTest, MenuItemsReachTheirHooksAndCloseEndsTheProgram) {
    Open();
    int properties = 0, about = 0;
    window->Commands.properties = [&] { ++properties; };
    window->Commands.about = [&] { ++about; };
    Menu(MainWindow::propertiesItem);
    Menu(MainWindow::aboutItem);
    EXPECT_EQ(properties, 1);
    EXPECT_EQ(about, 1);

    int quits = tarvel::test::QuitsSeen;
    Menu(MainWindow::closeItem);
    EXPECT_EQ(window->Handle(), nullptr);
    EXPECT_EQ(tarvel::test::QuitsSeen, quits + 1) << "closing the main window ends the message loop";
    EXPECT_EQ(shell.back().message, static_cast<DWORD>(NIM_DELETE));
}

TEST_F(MainWindowTest, InMailToModeCloseEndsTheProgramAndTheLinkFillsTheFields) {
    options.mailToMode = true;
    options.mailToEmail = "alice@example.com";
    options.mailToSubject = "Hello";
    Open();
    EXPECT_EQ(window->Text(MainWindow::emailEdit), "alice@example.com");
    EXPECT_EQ(window->Text(MainWindow::subjectEdit), "Hello");
    EXPECT_TRUE(IsWindowEnabled(Ctl(MainWindow::sendButton)));
    int quits = tarvel::test::QuitsSeen;
    Click(MainWindow::closeButton);
    EXPECT_EQ(window->Handle(), nullptr);
    EXPECT_EQ(tarvel::test::QuitsSeen, quits + 1);
}

TEST_F(MainWindowTest, ClosingTheWindowBySystemCommandEndsTheProgramToo) {
    Open();
    int quits = tarvel::test::QuitsSeen;
    PostMessageA(window->Handle(), WM_CLOSE, 0, 0);
    Drain();
    EXPECT_EQ(window->Handle(), nullptr);
    EXPECT_EQ(tarvel::test::QuitsSeen, quits + 1);
    EXPECT_EQ(shell.back().message, static_cast<DWORD>(NIM_DELETE));
}
