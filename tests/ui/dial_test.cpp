// Sends with the dial-up line through the scripted RASAPI32.DLL beside this test: a failed dial stops the
// send before any connect, a good one is hung up again when the send ends.
#include "main_window_fixture.h"

#include "platform/dialup/fake_ras.h"

using tarvel::test::MainWindow;
using tarvel::test::MainWindowTest;
using tarvel::test::PumpUntil;

namespace {

class DialTest : public MainWindowTest {
protected:
    DialTest() {
        settings.UseDialup = true;
        settings.DialEntry = "Work";
        settings.DialPassword = "secret";
    }
    void SetUp() override {
        ASSERT_TRUE(fake.Loaded())
            << "the scripted rasapi32.dll was not loaded (WINEDLLOVERRIDES rasapi32=n,b)";
        ASSERT_TRUE(dialup_test::EnsureRasKey());
    }
    dialup_test::FakeRas fake;
};

} // namespace

TEST_F(DialTest, AFailedDialShowsItsTextAndConnectsNowhere) {
    fake.Script().dialResult = 678;
    fake.AddErrorText(678, "The remote computer did not respond.");
    settings.SMTPPort = std::to_string(tarvel::test::FreePort());
    Open();
    window->SetPosition(MainWindow::progressBar, 100); // as an earlier send left it
    Type(MainWindow::emailEdit, "bob@example.com");
    Type(MainWindow::bodyEdit, "kept");
    Click(MainWindow::sendButton);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Status(), "RasDial failed: The remote computer did not respond.");
    EXPECT_EQ(window->Hint(MainWindow::statusLabel), Status());
    EXPECT_EQ(window->Text(MainWindow::sendButton), "&Send");
    EXPECT_EQ(window->Position(MainWindow::progressBar), 0);
    EXPECT_FALSE(window->IdleTimer().Enabled());
    EXPECT_FALSE(window->ProgressTimer().Enabled());
    tarvel::test::PumpUntilPosted(*window);
    EXPECT_EQ(Status(), "RasDial failed: The remote computer did not respond.") << "no connect followed";
    EXPECT_EQ(window->Text(MainWindow::bodyEdit), "kept");
    EXPECT_EQ(std::string(fake.Script().dialEntryName), "Work");
    EXPECT_EQ(std::string(fake.Script().dialPassword), "secret");
    EXPECT_EQ(dialup_test::CountCalls(fake.Calls(), "RasDialW"), 1);
}

TEST_F(DialTest, ADialledLineIsHungUpWhenTheSendEnds) {
    tarvel::test::SmtpPeer peer("store");
    ASSERT_TRUE(peer.Ready());
    settings.SMTPPort = std::to_string(peer.Port());
    Open();
    Type(MainWindow::emailEdit, "bob@example.com");
    Type(MainWindow::bodyEdit, "over the modem");
    Click(MainWindow::sendButton);
    ASSERT_TRUE(PumpUntil([&] { return Status() == "Mail has been sent!"; }, 30000)) << Status();
    std::vector<std::string> calls = fake.Calls();
    EXPECT_EQ(dialup_test::CountCalls(calls, "RasDialW"), 1);
    EXPECT_EQ(dialup_test::CountCalls(calls, "RasHangUpW"), 1);
    EXPECT_EQ(fake.Script().hangUpHandle, fake.Script().dialHandle);
    EXPECT_FALSE(peer.Message(1).empty());
}
