// The window base: posted work runs on the owner's thread, in order, and dies with the window; the
// application's message boxes can be answered by a test.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "win/application.h"
#include "win/message_box.h"
#include "support/pump.h"
#include "win/window.h"

using tarvel::ui::Window;

namespace {

class Probe : public Window {
public:
    bool Open() { return CreateMessageOnly("TarvelTestProbe"); }
};

using tarvel::test::Drain;

} // namespace

TEST(WindowBase, PostedWorkRunsOnOwnerThreadInOrder) {
    Probe probe;
    ASSERT_TRUE(probe.Open());
    std::vector<int> seen;
    DWORD owner = GetCurrentThreadId();
    DWORD ranOn = 0;
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            probe.Post([&, i] {
                seen.push_back(i);
                ranOn = GetCurrentThreadId();
            });
    });
    worker.join();
    EXPECT_TRUE(seen.empty()); // nothing runs on the worker
    Drain();
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(ranOn, owner);
}

TEST(WindowBase, WorkPostedToADestroyedWindowIsDropped) {
    bool ran = false;
    {
        Probe probe;
        ASSERT_TRUE(probe.Open());
        probe.Post([&] { ran = true; });
        probe.Destroy();
        EXPECT_EQ(probe.Handle(), nullptr);
        EXPECT_FALSE(probe.Post([&] { ran = true; }));
    }
    Drain();
    EXPECT_FALSE(ran);
}

TEST(WindowBase, AQuitPostedBeforeTheWindowGoesStillEndsTheLoop) {
    Probe probe;
    ASSERT_TRUE(probe.Open());
    probe.Post([] {});
    PostQuitMessage(3);
    probe.Destroy(); // drops the posted work, and must leave the WM_QUIT alone
    MSG msg;
    bool quit = false;
    for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (msg.message == WM_QUIT) {
            quit = true;
            EXPECT_EQ(msg.wParam, 3u);
        }
    }
    EXPECT_TRUE(quit);
}

TEST(ApplicationObject, MessageBoxesAreCaptionedWithItsTitle) {
    tarvel::ui::Application app;
    std::vector<std::string> seen;
    const tarvel::ui::MessageBoxCall box = [&](HWND, const std::string& text, const std::string& caption,
                                               UINT flags) {
        seen.push_back(caption + "|" + text + "|" + std::to_string(flags));
        return IDCANCEL;
    };
    EXPECT_EQ(tarvel::ui::ShowMessage(box, nullptr, "Disk full", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(tarvel::ui::ShowMessage(box, nullptr, "Second"), IDCANCEL);
    EXPECT_EQ(seen, (std::vector<std::string>{app.Title() + "|Disk full|" + std::to_string(MB_OKCANCEL),
                                              app.Title() + "|Second|" + std::to_string(MB_OK)}));
}
