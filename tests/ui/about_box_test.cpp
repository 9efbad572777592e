// The about box: layout and centring, the address line that snaps back and opens the shortcut on a
// click, the button's caption by first run, and at most one box at a time.
#include <gtest/gtest.h>

#include <memory>

#include "dialog_support.h"
#include "layout_rules.h"
#include "support/fake_services.h"
#include "ui/about_box.h"

using tarvel::test::Click;
using tarvel::test::Drain;
using tarvel::ui::AboutBox;
using tarvel::ui::HomePageLine;
using tarvel::ui::OpenAbout;
using tarvel::ui::SharedState;
using A = AboutBox;

namespace {

class AboutBoxTest : public ::testing::Test {
protected:
    AboutBox& Open() {
        AboutBox* box = OpenAbout(about_, state, nullptr, fake.Make());
        EXPECT_NE(box, nullptr);
        Drain();
        return *box;
    }

    tarvel::test::FakeSystem fake;
    tarvel::ui::Application app;
    SharedState state;
    std::unique_ptr<AboutBox> about_;
};

RECT Outer(HWND hwnd) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    return r;
}

} // namespace

TEST_F(AboutBoxTest, LaidOutAndCentred) {
    AboutBox& box = Open();
    EXPECT_EQ(box.Text(0), "About Tarvel Pro");
    RECT client{};
    GetClientRect(box.Handle(), &client);
    EXPECT_EQ(client.right, 344);
    EXPECT_EQ(client.bottom, 166);
    const LONG style = GetWindowLongA(box.Handle(), GWL_STYLE);
    EXPECT_EQ(style & (WS_SYSMENU | WS_THICKFRAME), 0) << std::hex << style;

    const RECT outer = Outer(box.Handle());
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);

    EXPECT_EQ(box.Text(A::versionLabel), "Ver: 1.5");
    EXPECT_EQ(box.Text(A::titleLabel), "Tarvel Pro");
    EXPECT_EQ(box.Text(A::homePageLabel), "See the Tarvel home page for the latest updates, changes ");
    EXPECT_EQ(box.Text(A::homePageLine), HomePageLine);
    EXPECT_EQ(box.Hint(A::homePageLine), "Click here to start your browser!");
    EXPECT_EQ(box.Hint(A::closeButton), "Closes this about box.");
    EXPECT_FALSE(GetWindowLongA(box.Control(A::homePageLine), GWL_EXSTYLE) & WS_EX_CLIENTEDGE);

    // Every line centred against the outer width, one below the other in reading order.
    const int lines[] = {A::titleLabel,    A::versionLabel,         A::blurbLabel,   A::helpLabel,
                         A::homePageLabel, A::troubleshootingLabel, A::homePageLine, A::closeButton};
    int below = 0;
    for (int id : lines) {
        RECT r = Outer(box.Control(id));
        MapWindowPoints(nullptr, box.Handle(), reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(r.left, (width - (r.right - r.left)) / 2) << "control " << id;
        EXPECT_GE(r.top, below) << "control " << id;
        below = r.bottom;
    }
    tarvel::test::ExpectLaidOut(box.Handle());
    RECT version = Outer(box.Control(A::versionLabel));
    EXPECT_EQ(version.right - version.left, 113);
}

TEST_F(AboutBoxTest, TheAddressLineSnapsBack) {
    AboutBox& box = Open();
    HWND line = box.Control(A::homePageLine);
    SendMessageA(line, EM_SETSEL, 5, 5);
    SendMessageA(line, WM_CHAR, 'x', 0);
    EXPECT_EQ(box.Text(A::homePageLine), HomePageLine);
    SendMessageA(line, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    EXPECT_EQ(box.Text(A::homePageLine), HomePageLine);
    EXPECT_EQ(fake.homePageOpened, 0);
}

TEST_F(AboutBoxTest, AClickOnTheAddressLineOpensTheShortcut) {
    AboutBox& box = Open();
    HWND line = box.Control(A::homePageLine);
    SendMessageA(line, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 5));
    SendMessageA(line, WM_LBUTTONUP, 0, MAKELPARAM(10, 5));
    EXPECT_EQ(fake.homePageOpened, 1);
    EXPECT_EQ(box.Text(A::homePageLine), HomePageLine);
}

TEST_F(AboutBoxTest, ButtonReadsContinueOnAFirstRunAndCloseOtherwise) {
    state.settings.FirstRun = true;
    AboutBox& first = Open();
    EXPECT_EQ(first.Text(A::closeButton), "&Continue");
    Click(first.Control(A::closeButton));
    Drain();

    state.settings.FirstRun = false;
    AboutBox& second = Open();
    EXPECT_EQ(second.Text(A::closeButton), "&Close");
}

TEST_F(AboutBoxTest, OneBoxAtATime) {
    AboutBox& first = Open();
    HWND hwnd = first.Handle();
    EXPECT_TRUE(state.AboutOpen);
    ShowWindow(hwnd, SW_HIDE);
    AboutBox& again = Open();
    EXPECT_EQ(&again, &first);
    EXPECT_EQ(again.Handle(), hwnd);
    EXPECT_TRUE(IsWindowVisible(hwnd));

    Click(first.Control(A::closeButton));
    EXPECT_FALSE(state.AboutOpen);
    EXPECT_FALSE(IsWindowVisible(hwnd));
    Drain();
    EXPECT_FALSE(IsWindow(hwnd)); // released once the click was handled

    AboutBox& next = Open();
    EXPECT_NE(next.Handle(), nullptr);
    EXPECT_TRUE(state.AboutOpen);
    EXPECT_TRUE(IsWindowVisible(next.Handle()));
}
