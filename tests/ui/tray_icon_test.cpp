// The tray icon: which shell requests each property change makes, with which record, and what the
// shell's answers leave behind; then the same against Wine's real notification area.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/fake_services.h"
#include "ui/tray_icon.h"

using tarvel::test::FakeSystem;
using tarvel::ui::IconImage;
using tarvel::ui::NotifyIconRecord;
using tarvel::ui::TrayIcon;

namespace {

using Request = tarvel::test::FakeSystem::ShellRequest;

HWND FakeWindow() {
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x1234));
}

} // namespace

TEST(TrayIconTest, StartsHiddenAndAddsOnceWithTheFullRecord) {
    FakeSystem fake;
    {
        TrayIcon icon{fake.Make().shellNotify};
        EXPECT_FALSE(icon.Enabled());
        EXPECT_EQ(icon.Handle(), nullptr);
        EXPECT_EQ(icon.IconId(), 0);
        EXPECT_TRUE(icon.Icon().Empty());
        icon.SetHandle(FakeWindow());
        icon.SetHint("Tarvel Pro");
        icon.SetEnabled(true);
        icon.SetEnabled(true);
        EXPECT_TRUE(icon.Enabled());
        ASSERT_EQ(fake.shell.size(), 1u);
        const NotifyIconRecord& r = fake.shell[0].record;
        EXPECT_EQ(fake.shell[0].message, static_cast<DWORD>(NIM_ADD));
        EXPECT_EQ(r.cbSize, 152u);
        EXPECT_EQ(r.hWnd, FakeWindow());
        EXPECT_EQ(r.uID, 0u);
        EXPECT_EQ(r.uFlags, 7u);
        EXPECT_EQ(r.uCallbackMessage, 1024u);
        EXPECT_EQ(r.hIcon, nullptr);
        EXPECT_STREQ(r.szTip, L"Tarvel Pro");
    }
    // Destroyed while shown: removed with the record it was added with.
    ASSERT_EQ(fake.shell.size(), 2u);
    EXPECT_EQ(fake.shell[1].message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(fake.shell[1].record.hWnd, FakeWindow());
}

TEST(TrayIconTest, ARefusedAddLeavesItHiddenAndCanBeTriedAgain) {
    FakeSystem fake;
    TrayIcon icon{fake.Make().shellNotify};
    fake.shellAnswer = FALSE;
    icon.SetEnabled(true);
    EXPECT_FALSE(icon.Enabled());
    fake.shellAnswer = TRUE;
    icon.SetEnabled(true);
    EXPECT_TRUE(icon.Enabled());
    ASSERT_EQ(fake.shell.size(), 2u);
    EXPECT_EQ(fake.shell[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(fake.shell[1].message, static_cast<DWORD>(NIM_ADD));

    // A refused delete leaves it shown; asking again removes it.
    fake.shellAnswer = FALSE;
    icon.SetEnabled(false);
    EXPECT_TRUE(icon.Enabled());
    fake.shellAnswer = TRUE;
    icon.SetEnabled(false);
    EXPECT_FALSE(icon.Enabled());
    EXPECT_EQ(fake.shell.size(), 4u);
    icon.SetEnabled(false); // already hidden: nothing asked
    EXPECT_EQ(fake.shell.size(), 4u);
}

TEST(TrayIconTest, WhileHiddenChangesAreOnlyStoredUntilTheNextAdd) {
    FakeSystem fake;
    TrayIcon icon{fake.Make().shellNotify};
    IconImage picture;
    ASSERT_TRUE(picture.LoadFromResource(1));
    icon.SetIconId(7);
    icon.SetIcon(picture);
    icon.SetHandle(FakeWindow());
    EXPECT_TRUE(fake.shell.empty());
    icon.SetEnabled(true);
    ASSERT_EQ(fake.shell.size(), 1u);
    EXPECT_EQ(fake.shell[0].record.uID, 7u);
    EXPECT_EQ(fake.shell[0].record.hWnd, FakeWindow());
}

TEST(TrayIconTest, ANewIdWhileShownModifiesAndTheDeleteStillUsesTheAddedId) {
    FakeSystem fake;
    TrayIcon icon{fake.Make().shellNotify};
    icon.SetHandle(FakeWindow());
    icon.SetEnabled(true);
    icon.SetIconId(0); // same value: nothing
    EXPECT_EQ(fake.shell.size(), 1u);
    fake.shellAnswer = FALSE; // a modify's answer changes nothing
    icon.SetIconId(5);
    fake.shellAnswer = TRUE;
    ASSERT_EQ(fake.shell.size(), 2u);
    EXPECT_EQ(fake.shell[1].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(fake.shell[1].record.uID, 5u);
    EXPECT_EQ(fake.shell[1].record.uFlags, 7u);
    EXPECT_TRUE(icon.Enabled());
    icon.SetEnabled(false);
    ASSERT_EQ(fake.shell.size(), 3u);
    EXPECT_EQ(fake.shell[2].message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(fake.shell[2].record.uID, 0u);
}

TEST(TrayIconTest, HandleAndHintChangesWaitForTheNextModify) {
    FakeSystem fake;
    TrayIcon icon{fake.Make().shellNotify};
    icon.SetHandle(FakeWindow());
    icon.SetHint("first");
    icon.SetEnabled(true);
    HWND other = reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x5678));
    icon.SetHandle(other);
    icon.SetHint("second");
    EXPECT_EQ(fake.shell.size(), 1u);
    IconImage picture;
    icon.SetIcon(picture);
    ASSERT_EQ(fake.shell.size(), 2u);
    EXPECT_EQ(fake.shell[1].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(fake.shell[1].record.hWnd, other);
    EXPECT_STREQ(fake.shell[1].record.szTip, L"second");
    // Its own icon object changes nothing and asks nothing.
    icon.SetIcon(icon.Icon());
    EXPECT_EQ(fake.shell.size(), 2u);
    // The delete names the window the icon was added under.
    icon.SetEnabled(false);
    EXPECT_EQ(fake.shell.back().record.hWnd, FakeWindow());
}

TEST(TrayIconTest, ALongHintIsCutTo63UnitsAndNeverInsideACharacter) {
    struct Case {
        std::string hint;
        std::wstring tip;
    };
    const std::string pair = "\xF0\x9F\x93\xA7"; // U+1F4E7: two UTF-16 units
    const Case cases[] = {
        {std::string(62, 'x') + "E" + "yyyy", std::wstring(62, L'x') + L"E"},
        {std::string(62, 'x') + pair, std::wstring(62, L'x')},
        {std::string(61, 'x') + pair + "z", std::wstring(61, L'x') + L"\xD83D\xDCE7"},
        {"Łódź " + std::string(58, 'x') + "z", L"\x0141\x00F3"
                                               L"d\x017A " +
                                                   std::wstring(58, L'x')},
    };
    for (const Case& c : cases) {
        FakeSystem fake;
        TrayIcon icon{fake.Make().shellNotify};
        icon.SetHint(c.hint);
        icon.SetEnabled(true);
        ASSERT_EQ(fake.shell.size(), 1u);
        EXPECT_EQ(std::wstring(fake.shell[0].record.szTip), c.tip) << c.hint;
        EXPECT_EQ(icon.Hint(), c.hint); // the component keeps the whole text
    }
}

TEST(TrayIconTest, TheIconIsCopiedNotShared) {
    FakeSystem fake;
    TrayIcon icon{fake.Make().shellNotify};
    IconImage picture;
    ASSERT_TRUE(picture.LoadFromResource(1)) << "the test program carries the program's icon";
    icon.SetIcon(picture);
    ASSERT_FALSE(icon.Icon().Empty());
    EXPECT_NE(icon.Icon().Handle(), picture.Handle());
    picture.Clear();
    icon.SetEnabled(true);
    ASSERT_EQ(fake.shell.size(), 1u);
    EXPECT_EQ(fake.shell[0].record.hIcon, icon.Icon().Handle());
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon.Icon().Handle(), &info)) << "the copy outlives the original";
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

TEST(TrayIconTest, ShellRestartAddsTheIconAgain) {
    FakeSystem fake;
    TrayIcon icon{fake.Make().shellNotify};
    icon.SetEnabled(true);
    icon.ShellRestarted();
    EXPECT_TRUE(icon.Enabled());
    ASSERT_EQ(fake.shell.size(), 2u);
    EXPECT_EQ(fake.shell[1].message, static_cast<DWORD>(NIM_ADD));
}

// Wine's notification area under the virtual display.
TEST(TrayIconOnTheShell, AddModifyAndDeleteSucceedAndTheIconGoesWithTheComponent) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TarvelTrayTestOwner";
    RegisterClassA(&wc);
    HWND owner = CreateWindowExA(0, wc.lpszClassName, "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 wc.hInstance, nullptr);
    ASSERT_NE(owner, nullptr) << "needs a display (Xvfb)";
    IconImage picture;
    ASSERT_TRUE(picture.LoadFromResource(1));
    {
        TrayIcon icon{&Shell_NotifyIconW};
        icon.SetHandle(owner);
        icon.SetHint("Tarvel Pro");
        icon.SetIcon(picture);
        icon.SetEnabled(true);
        ASSERT_TRUE(icon.Enabled()) << "the shell refused NIM_ADD";
        icon.SetIconId(3); // modify under an id nobody registered: refused, changes nothing
        EXPECT_TRUE(icon.Enabled());
        icon.SetEnabled(false);
        EXPECT_FALSE(icon.Enabled()) << "NIM_DELETE with the added id must succeed";
        icon.SetIconId(0);
        icon.SetEnabled(true);
        ASSERT_TRUE(icon.Enabled());
    }
    // The component removed its icon: removing it once more is refused by the shell.
    NotifyIconRecord record{};
    record.cbSize = sizeof record;
    record.hWnd = owner;
    record.uID = 0;
    EXPECT_FALSE(Shell_NotifyIconW(NIM_DELETE, reinterpret_cast<NOTIFYICONDATAW*>(&record)));
    DestroyWindow(owner);
}
