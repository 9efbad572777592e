// Whole sends from the main window to SMTP peers on 127.0.0.1: delivered, refused connection, a server that
// stops answering, Cancel in the middle of a large attachment, closing the program during a send,
// socket notifications that belong to no send or to an earlier one, and a window thread that never
// waits for a worker (a close during a transfer, a slow name lookup).
#include "main_window_fixture.h"

#include <atomic>

using tarvel::test::MainWindow;
using tarvel::test::MainWindowTest;
using tarvel::test::PumpUntil;
using tarvel::test::SmtpPeer;

namespace {

class SendTest : public MainWindowTest {
protected:
    void UsePeer(const SmtpPeer& peer) { settings.SMTPPort = std::to_string(peer.Port()); }
    void Compose(const std::string& email, const std::string& subject, const std::string& body,
                 const std::string& attach = "") {
        Type(MainWindow::emailEdit, email);
        Type(MainWindow::subjectEdit, subject);
        Type(MainWindow::bodyEdit, body);
        Type(MainWindow::attachEdit, attach);
    }
    // Waits until the transfer of message text has begun.
    bool WaitTransfer() {
        return PumpUntil([this] { return window->Signals().BytesSent.load() > 0; }, 20000);
    }
    void ExpectIdleAfterEnd() {
        EXPECT_EQ(window->Text(MainWindow::sendButton), "&Send");
        EXPECT_EQ(window->Flow().Step(), tarvel::SendStep::Idle);
        EXPECT_FALSE(window->IdleTimer().Enabled());
        EXPECT_FALSE(window->ProgressTimer().Enabled());
        EXPECT_EQ(window->Socket().SocketHandle(), -1) << "the connection is closed at the end";
        EXPECT_FALSE(window->Signals().SendAborted.load());
    }
};

std::string Repeat(const std::string& piece, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

} // namespace

TEST_F(SendTest, AMessageWithAnAttachmentIsDeliveredAndTheFieldsAreEmptied) {
    SmtpPeer peer("store");
    ASSERT_TRUE(peer.Ready());
    UsePeer(peer);
    tarvel::test::TempFolder folder;
    std::string file = folder.File("notes.txt");
    tarvel::test::TempFolder::PutFile(file, "attached bytes");
    settings.NameList = {"Bob"};
    settings.AddressList = {"bob@example.com"};
    Open();
    window->SetSelectedIndex(MainWindow::nameCombo, 0);
    Compose("bob@example.com;carol@example.com", "Greetings", "Hello Bob,\r\n.see you\r\n", file);

    Click(MainWindow::sendButton);
    bool sawCancel = false, sawSending = false;
    std::string hintWhileSending;
    HWND focusAtEnd = nullptr;
    ASSERT_TRUE(PumpUntil(
        [&] {
            if (window->Text(MainWindow::sendButton) == "&Cancel") sawCancel = true;
            if (Status() == "Sending mail..." && !sawSending) {
                sawSending = true;
                hintWhileSending = window->Hint(MainWindow::statusLabel);
            }
            focusAtEnd = GetFocus();
            return Status() == "Mail has been sent!";
        },
        30000))
        << "status: " << Status();
    EXPECT_TRUE(sawCancel);
    EXPECT_TRUE(sawSending);
    EXPECT_EQ(hintWhileSending, "Creating mail...") << "\"Sending mail...\" sets the caption only";
    EXPECT_EQ(window->Hint(MainWindow::statusLabel), "Mail has been sent!");
    ExpectIdleAfterEnd();
    EXPECT_EQ(window->Position(MainWindow::progressBar), 100);
    EXPECT_EQ(window->Text(MainWindow::subjectEdit), "");
    EXPECT_EQ(window->Text(MainWindow::attachEdit), "");
    EXPECT_EQ(window->Text(MainWindow::bodyEdit), "");
    EXPECT_EQ(window->Text(MainWindow::emailEdit), "bob@example.com;carol@example.com");
    EXPECT_EQ(window->Text(MainWindow::nameCombo), "Bob");
    EXPECT_EQ(focusAtEnd, Ctl(MainWindow::subjectEdit));

    std::string stored;
    ASSERT_TRUE(PumpUntil([&] { return !(stored = peer.Message(1)).empty(); }, 10000));
    EXPECT_NE(stored.find("\"mail_from\": \"me@example.com\""), std::string::npos) << stored;
    EXPECT_NE(stored.find("\"rcpt_tos\": [\"bob@example.com\", \"carol@example.com\"]"), std::string::npos)
        << stored;
    EXPECT_NE(stored.find("To: Bob <bob@example.com;carol@example.com>\\r\\n"), std::string::npos) << stored;
    EXPECT_NE(stored.find("Subject: Greetings\\r\\n"), std::string::npos) << stored;
    EXPECT_NE(stored.find("Hello Bob,\\r\\n.see you\\r\\n"), std::string::npos) << stored;
    EXPECT_NE(stored.find("filename=\\\"notes.txt\\\""), std::string::npos) << stored;
    EXPECT_NE(stored.find("YXR0YWNoZWQgYnl0ZXM="), std::string::npos)
        << "base64 of the attachment: " << stored;
}

TEST_F(SendTest, ASecondClickWhileTheSendIsPreparedStartsNothingMore) {
    SmtpPeer peer("store");
    ASSERT_TRUE(peer.Ready());
    UsePeer(peer);
    Open();
    Compose("bob@example.com", "Once", "only once");
    SendMessageA(Ctl(MainWindow::sendButton), BM_CLICK, 0, 0);
    SendMessageA(Ctl(MainWindow::sendButton), BM_CLICK, 0, 0); // before the worker got as far as "&Cancel"
    ASSERT_TRUE(PumpUntil([&] { return Status() == "Mail has been sent!"; }, 30000)) << Status();
    tarvel::test::PumpUntilPosted(*window);
    EXPECT_EQ(steps, (std::vector<std::string>{"Idle -> Connecting", "Connecting -> Exchanging",
                                               "Exchanging -> Ending", "Ending -> Idle"}))
        << "one send only";
    EXPECT_FALSE(peer.Message(1).empty());
    EXPECT_TRUE(peer.Message(2).empty()) << "one message only";
}

TEST_F(SendTest, ARefusedConnectionShowsWhyAndKeepsTheMessage) {
    settings.SMTPPort = std::to_string(tarvel::test::FreePort());
    Open();
    Compose("bob@example.com", "Kept", "body stays");
    Click(MainWindow::sendButton);
    ASSERT_TRUE(WaitIdle()) << Status();
    EXPECT_EQ(Status(), "Connection refused");
    ExpectIdleAfterEnd();
    EXPECT_EQ(window->Text(MainWindow::bodyEdit), "body stays");
    EXPECT_EQ(window->Text(MainWindow::subjectEdit), "Kept");

    // Nothing of it is left behind: the next send to a working server gets through.
    SmtpPeer peer("store");
    ASSERT_TRUE(peer.Ready());
    settings.SMTPPort = std::to_string(peer.Port());
    Click(MainWindow::sendButton);
    ASSERT_TRUE(PumpUntil([&] { return Status() == "Mail has been sent!"; }, 30000)) << Status();
}

TEST_F(SendTest, InMailToModeAFailedSendLeavesTheWindowForAnotherTry) {
    settings.SMTPPort = std::to_string(tarvel::test::FreePort());
    options.mailToMode = true;
    options.mailToEmail = "bob@example.com";
    Open();
    Type(MainWindow::bodyEdit, "try again");
    int quits = tarvel::test::QuitsSeen;
    Click(MainWindow::sendButton);
    ASSERT_TRUE(WaitIdle()) << Status();
    EXPECT_EQ(Status(), "Connection refused");
    EXPECT_NE(window->Handle(), nullptr);
    EXPECT_EQ(tarvel::test::QuitsSeen, quits);

    SmtpPeer peer("store");
    ASSERT_TRUE(peer.Ready());
    settings.SMTPPort = std::to_string(peer.Port());
    Click(MainWindow::sendButton);
    ASSERT_TRUE(PumpUntil([&] { return window->Handle() == nullptr; }, 30000)) << Status();
    EXPECT_EQ(tarvel::test::QuitsSeen, quits + 1) << "the program ends after the send that got through";
    EXPECT_FALSE(peer.Message(1).empty());
}

// How a send ends by what the server does after the greeting: the status line, and whether what the
// user typed is kept. None of these may wait for a time-out it does not need.
TEST_F(SendTest, EachServerBehaviourEndsTheSendWithItsOutcome) {
    const struct {
        const char* mode; // of the scripted peer
        int timeoutTicks;
        UINT idleInterval; // ms
        const char* status;
        bool kept;
    } cases[] = {
        // Answers QUIT with 250: the default 30 ticks, so waiting for the time-out would take seconds.
        {"noquit", 30, 100, "Mail has been sent!", false},
        // Keeps the connection open after its 221: the real tick, so a send that waited for the server's
        // close would end only at the time-out.
        {"linger", 30, 1000, "Mail has been sent!", false},
        // Stops answering: three ticks, then "TimeOut".
        {"mute", 3, 100, "TimeOut", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        SmtpPeer peer(c.mode);
        ASSERT_TRUE(peer.Ready());
        UsePeer(peer);
        options.timeoutTicks = c.timeoutTicks;
        options.idleInterval = c.idleInterval;
        Open();
        Compose("bob@example.com", "Subject", "typed");
        Click(MainWindow::sendButton);
        ASSERT_TRUE(WaitIdle(8000)) << Status();
        EXPECT_EQ(Status(), c.status);
        ExpectIdleAfterEnd();
        EXPECT_EQ(window->Text(MainWindow::bodyEdit), c.kept ? "typed" : "");
        if (!c.kept) {
            EXPECT_EQ(window->Session().State(), tarvel::SessionState::Idle) << "the 221 was handled";
        }
    }
}

TEST_F(SendTest, EmptyingTheAddressDuringASendKeepsCancelWorking) {
    SmtpPeer peer("mute");
    ASSERT_TRUE(peer.Ready());
    UsePeer(peer);
    options.timeoutTicks = 1000; // the test ends the send itself
    Open();
    Compose("bob@example.com", "Kept", "body");
    Click(MainWindow::sendButton);
    ASSERT_TRUE(PumpUntil([&] { return window->Text(MainWindow::sendButton) == "&Cancel"; }, 20000))
        << Status();
    // As Add or Delete do when they refresh the name list.
    Type(MainWindow::emailEdit, "");
    EXPECT_TRUE(IsWindowEnabled(Ctl(MainWindow::sendButton))) << "Cancel must stay within reach";
    EXPECT_FALSE(IsWindowEnabled(Ctl(MainWindow::addButton)));
    Click(MainWindow::sendButton);
    ASSERT_TRUE(WaitIdle()) << Status();
    EXPECT_EQ(Status(), "Mail has been cancelled!");
    EXPECT_EQ(window->Text(MainWindow::sendButton), "&Send");
    EXPECT_FALSE(IsWindowEnabled(Ctl(MainWindow::sendButton))) << "no address: nothing to send once idle";
    EXPECT_EQ(window->Text(MainWindow::bodyEdit), "body");
}

TEST_F(SendTest, CancelDuringALargeAttachmentStopsTheSendAndKeepsTheMessage) {
    SmtpPeer peer("stall");
    ASSERT_TRUE(peer.Ready());
    UsePeer(peer);
    tarvel::test::TempFolder folder;
    std::string big = folder.File("big.bin");
    tarvel::test::TempFolder::PutFile(
        big, Repeat(std::string(1024, 'x'), 16 * 1024)); // 16 MiB: far more than socket buffers
    options.idleInterval = 1000;                         // the real tick: Cancel is seen within one second
    Open();
    Compose("bob@example.com", "Large", "body stays", big);
    Click(MainWindow::sendButton);
    ASSERT_TRUE(WaitTransfer()) << Status();
    EXPECT_EQ(window->Text(MainWindow::sendButton), "&Cancel");
    Click(MainWindow::sendButton);
    EXPECT_TRUE(window->Signals().SendAborted.load());
    ASSERT_TRUE(WaitIdle()) << Status();
    EXPECT_EQ(Status(), "Mail has been cancelled!");
    ExpectIdleAfterEnd();
    EXPECT_EQ(window->Text(MainWindow::bodyEdit), "body stays");
    EXPECT_EQ(window->Text(MainWindow::attachEdit), big);
    EXPECT_LT(window->Signals().BytesSent.load(), window->Signals().BytesTotal.load()) << "stopped part way";
}

TEST_F(SendTest, ProgressFollowsTheBytesWrittenAndStaysWithinTheBar) {
    SmtpPeer peer("stall");
    ASSERT_TRUE(peer.Ready());
    UsePeer(peer);
    tarvel::test::TempFolder folder;
    std::string big = folder.File("big.bin");
    tarvel::test::TempFolder::PutFile(big, Repeat(std::string(1024, 'y'), 8 * 1024));
    Open();
    Compose("bob@example.com", "Progress", "", big);
    Click(MainWindow::sendButton);
    ASSERT_TRUE(WaitTransfer()) << Status();
    // The writer is stuck on a full buffer: the bar shows what it wrote so far.
    ASSERT_TRUE(PumpUntil([&] { return window->Position(MainWindow::progressBar) > 0; }, 10000));
    int shown = window->Position(MainWindow::progressBar);
    EXPECT_LT(shown, 100);
    // Counters past any 32-bit product still give a sane percentage.
    window->Signals().BytesTotal.store(4'000'000'000'000LL);
    window->Signals().BytesSent.store(3'000'000'000'000LL);
    EXPECT_TRUE(PumpUntil([&] { return window->Position(MainWindow::progressBar) == 75; }, 5000))
        << window->Position(MainWindow::progressBar);
    // More written than estimated (headers are not in the estimate): a full bar.
    window->Signals().BytesSent.store(5'000'000'000'000LL);
    EXPECT_TRUE(PumpUntil([&] { return window->Position(MainWindow::progressBar) == 100; }, 5000))
        << window->Position(MainWindow::progressBar);
    Click(MainWindow::sendButton);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Status(), "Mail has been cancelled!");
}

TEST_F(SendTest, CloseFromTheTrayMenuDuringASendEndsTheProgram) {
    SmtpPeer peer("stall");
    ASSERT_TRUE(peer.Ready());
    UsePeer(peer);
    tarvel::test::TempFolder folder;
    std::string big = folder.File("big.bin");
    tarvel::test::TempFolder::PutFile(big, Repeat(std::string(1024, 'z'), 8 * 1024));
    Open();
    Compose("bob@example.com", "Closing", "", big);
    Click(MainWindow::sendButton);
    ASSERT_TRUE(WaitTransfer());
    int quits = tarvel::test::QuitsSeen;
    Menu(MainWindow::closeItem);
    EXPECT_EQ(window->Handle(), nullptr);
    EXPECT_EQ(tarvel::test::QuitsSeen, quits + 1);
    // The program's objects go as start-up returns: the writer stops and every thread ends.
    window.reset();
}

TEST_F(SendTest, NotificationsOfAnotherOrAnEarlierSocketNeverTouchASend) {
    SmtpPeer mute("mute");
    SmtpPeer store("store");
    ASSERT_TRUE(mute.Ready());
    ASSERT_TRUE(store.Ready());
    UsePeer(mute);
    options.timeoutTicks = 1000; // the test ends the send itself
    Open();
    Compose("bob@example.com", "Stale", "kept for the second try");
    Click(MainWindow::sendButton);
    // The greeting has been answered with "HELO": connected, and waiting for a reply that never comes.
    ASSERT_TRUE(PumpUntil([&] { return window->Session().State() == tarvel::SessionState::Helo; }, 20000))
        << Status();
    const int current = window->Socket().SocketHandle();
    ASSERT_NE(current, -1);
    HWND sockets = window->Socket().Handle();
    auto notify = [&](int socket, int event, int error) {
        PostMessageA(sockets, WM_USER, static_cast<WPARAM>(socket), WSAMAKESELECTREPLY(event, error));
    };

    // While sending: data, a failed connect and a close, all of another socket.
    const int other = current + 1000;
    notify(other, FD_READ, 0);
    notify(other, FD_CONNECT, WSAECONNREFUSED);
    notify(other, FD_CLOSE, 0);
    tarvel::test::PumpUntilPosted(*window);
    EXPECT_TRUE(window->Flow().Busy()) << Status();
    EXPECT_FALSE(window->Signals().SendAborted.load());
    EXPECT_EQ(window->Socket().SocketHandle(), current);
    EXPECT_EQ(window->Session().State(), tarvel::SessionState::Helo);
    EXPECT_EQ(Status(), "Sending mail...");

    Click(MainWindow::sendButton); // Cancel
    ASSERT_TRUE(WaitIdle()) << Status();
    EXPECT_EQ(Status(), "Mail has been cancelled!");
    ExpectIdleAfterEnd();

    // Notifications of the closed socket still queued when the next send starts (the number may even
    // come back for the new socket).
    UsePeer(store);
    notify(current, FD_CONNECT, WSAECONNRESET);
    notify(current, FD_READ, 0);
    notify(current, FD_CLOSE, 0);
    SendMessageA(Ctl(MainWindow::sendButton), BM_CLICK, 0, 0); // before the pump has seen them
    ASSERT_TRUE(PumpUntil([&] { return Status() == "Mail has been sent!"; }, 30000)) << Status();
    ExpectIdleAfterEnd();
    std::string stored;
    ASSERT_TRUE(PumpUntil([&] { return !(stored = store.Message(1)).empty(); }, 10000));
    EXPECT_NE(stored.find("kept for the second try"), std::string::npos) << stored;

    // After the end no send is under way: a late error of that socket aborts nothing.
    notify(current, FD_CONNECT, WSAECONNRESET);
    notify(current, FD_CLOSE, 0);
    tarvel::test::Drain();
    EXPECT_FALSE(window->Signals().SendAborted.load());
    EXPECT_EQ(Status(), "Mail has been sent!");
}

TEST_F(SendTest, ACancelAfterTheServerRefusedShowsTheRefusal) {
    SmtpPeer mute("mute");
    ASSERT_TRUE(mute.Ready());
    UsePeer(mute);
    options.timeoutTicks = 1000;
    Open();
    Compose("bob@example.com", "Refused", "body");
    Click(MainWindow::sendButton);
    ASSERT_TRUE(PumpUntil([&] { return window->Session().State() == tarvel::SessionState::Helo; }, 20000))
        << Status();
    // As the session records a refusing reply, before the server has closed the connection.
    messages.front().Outcome = tarvel::SendOutcome::Refusal("550 No such user\r\n");
    Click(MainWindow::sendButton); // Cancel
    ASSERT_TRUE(WaitIdle()) << Status();
    EXPECT_EQ(Status(), "550 No such user") << "the server's answer, not \"Mail has been cancelled!\"";
    EXPECT_EQ(window->Text(MainWindow::bodyEdit), "body");
}

TEST_F(SendTest, AServerCloseDuringATransferNeverHoldsUpTheWindow) {
    SmtpPeer peer("stall");
    ASSERT_TRUE(peer.Ready());
    UsePeer(peer);
    tarvel::test::TempFolder folder;
    std::string big = folder.File("big.bin");
    tarvel::test::TempFolder::PutFile(
        big, Repeat(std::string(1024, 'c'), 16 * 1024)); // more than the socket buffers hold
    Open();
    Compose("bob@example.com", "Closed", "body stays", big);
    Click(MainWindow::sendButton);
    ASSERT_TRUE(WaitTransfer()) << Status();
    ASSERT_EQ(window->Session().State(), tarvel::SessionState::Data) << "the writer waits for room";

    // The server's close while the writer is stuck: the handler returns at once, the send is over for
    // the user, and it ends for good when the writer has been stopped.
    SendMessageA(window->Socket().Handle(), WM_USER, static_cast<WPARAM>(window->Socket().SocketHandle()),
                 WSAMAKESELECTREPLY(FD_CLOSE, 0));
    EXPECT_TRUE(window->Flow().Busy()) << "the window waited for the writer: " << Status();
    EXPECT_EQ(window->Text(MainWindow::sendButton), "&Cancel") << "\"&Send\" only once a click sends again";
    ASSERT_TRUE(WaitIdle()) << Status();
    EXPECT_EQ(Status(), "The connection ended before the mail was sent");
    ExpectIdleAfterEnd();
    EXPECT_EQ(window->Text(MainWindow::bodyEdit), "body stays");
    EXPECT_LT(window->Signals().BytesSent.load(), window->Signals().BytesTotal.load()) << "stopped part way";
}

namespace {

// A name server that takes its time: Connect waits in its address lookup until the test lets it go,
// or a few seconds at most. Static, because the send worker may still be inside when a test fails.
struct SlowLookup {
    static inline std::atomic<bool> entered{false};
    static inline std::atomic<bool> released{false};
    static inline std::atomic<bool> ranOut{false}; // the limit ended the wait, not the test
    static void Wait() {
        entered = true;
        for (int i = 0; i < 5000 && !released; ++i)
            Sleep(1);
        ranOut = !released;
    }
};

class SlowLookupTest : public SendTest {
protected:
    SlowLookupTest() {
        SlowLookup::entered = false;
        SlowLookup::released = false;
        SlowLookup::ranOut = false;
        system.beforeAddressLookup = [] { SlowLookup::Wait(); };
    }
    ~SlowLookupTest() override {
        SlowLookup::released = true;
        window.reset(); // joins the send worker before the lookup's stand-in goes
    }
    // Sending, with the send worker inside the lookup.
    bool WaitLookup() {
        return PumpUntil([] { return SlowLookup::entered.load(); }, 20000) &&
               PumpUntil([this] { return window->Text(MainWindow::sendButton) == "&Cancel"; }, 20000);
    }
    // Lets the idle timer tick `count` more times, or stops early when the send has ended.
    void Ticks(int count) {
        const int until = window->Signals().IdleTicks.load() + count;
        PumpUntil([&] { return !window->Flow().Busy() || window->Signals().IdleTicks.load() >= until; },
                  20000);
    }
};

} // namespace

TEST_F(SlowLookupTest, ACancelDuringTheLookupEndsOnlyOnceTheConnectStepIsOver) {
    SmtpPeer peer("mute");
    ASSERT_TRUE(peer.Ready());
    UsePeer(peer);
    options.timeoutTicks = 1000;
    Open();
    Compose("bob@example.com", "Slow", "kept");
    Click(MainWindow::sendButton);
    ASSERT_TRUE(WaitLookup()) << Status();

    Click(MainWindow::sendButton); // Cancel
    Ticks(3);
    // The worker still owns the session and the socket: ending now would leave its socket behind.
    EXPECT_TRUE(window->Flow().Busy()) << Status();
    EXPECT_EQ(window->Text(MainWindow::sendButton), "&Cancel") << "\"&Send\" only once a click sends again";

    SlowLookup::released = true;
    ASSERT_TRUE(WaitIdle()) << Status();
    EXPECT_FALSE(SlowLookup::ranOut.load());
    EXPECT_EQ(Status(), "Mail has been cancelled!");
    ExpectIdleAfterEnd();
    EXPECT_EQ(window->Text(MainWindow::bodyEdit), "kept");
}

TEST_F(SlowLookupTest, ATimeOutDuringTheLookupWaitsForItInsteadOfHoldingUpTheWindow) {
    SmtpPeer peer("mute");
    ASSERT_TRUE(peer.Ready());
    UsePeer(peer);
    options.timeoutTicks = 2;
    Open();
    Compose("bob@example.com", "Slow", "kept");
    Click(MainWindow::sendButton);
    ASSERT_TRUE(WaitLookup()) << Status();

    // Past the count: an abort now would wait on this thread for the connect step to give up the session.
    const int until = window->Signals().IdleTicks.load() + 4;
    ASSERT_TRUE(PumpUntil(
        [&] { return window->Signals().IdleTicks.load() >= until || SlowLookup::ranOut.load(); }, 20000));
    EXPECT_FALSE(SlowLookup::ranOut.load()) << "the window's thread was held up by the lookup";
    EXPECT_TRUE(window->Flow().Busy());
    EXPECT_FALSE(window->Signals().SendAborted.load());

    SlowLookup::released = true;
    ASSERT_TRUE(WaitIdle()) << Status();
    EXPECT_EQ(Status(), "TimeOut");
    ExpectIdleAfterEnd();
    EXPECT_EQ(window->Text(MainWindow::bodyEdit), "kept");
}
