// The reply worker alone and driving a session: arrival order, no overlap, own copies, notices behind
// the texts, and an abort from another thread while the worker is inside a transfer or inside a failed
// command send.
#include "core/smtp/reply_worker.h"
#include "core/smtp/session_transcript.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using test::ScriptedConnection;

// A deadlock must fail the test, not hang it.
void AwaitOrDie(bool done, const char* what) {
    if (!done) {
        ADD_FAILURE() << what << " did not finish";
        std::fflush(nullptr);
        std::_Exit(1);
    }
}

TEST(ReplyWorker, HandlesTextsInArrivalOrderOneAtATime) {
    std::vector<std::string> seen;
    std::atomic<int> running{0};
    std::atomic<int> overlaps{0};
    {
        ReplyWorker worker([&](std::string_view text, bool) {
            if (running.fetch_add(1) != 0) ++overlaps;
            seen.emplace_back(text);
            if (seen.size() % 64 == 0) std::this_thread::sleep_for(1ms);
            running.fetch_sub(1);
        });
        std::string buffer;
        for (int i = 0; i < 1000; ++i) {
            buffer = std::to_string(i);
            worker.Post(buffer);
            buffer = "overwritten"; // each call has its own copy of the text
        }
        AwaitOrDie(worker.WaitIdle(20s), "the queue");
    }
    ASSERT_EQ(seen.size(), 1000u);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(seen[i], std::to_string(i)) << i;
    EXPECT_EQ(overlaps, 0);
}

TEST(ReplyWorker, StoppingDropsWaitingTextsAndWaitsForTheRunningOne) {
    std::atomic<int> handled{0};
    std::atomic<bool> inside{false};
    {
        ReplyWorker worker([&](std::string_view, bool) {
            inside = true;
            std::this_thread::sleep_for(20ms);
            ++handled;
        });
        for (int i = 0; i < 50; ++i)
            worker.Post("x");
        for (int i = 0; i < 2000 && !inside; ++i)
            std::this_thread::sleep_for(1ms);
    }
    EXPECT_GE(handled, 1) << "the running call was allowed to finish";
    EXPECT_LT(handled, 50) << "the waiting texts were dropped";
}

TEST(ReplyWorker, ANoticeRunsAfterTheTextsBeforeItAndBeforeTheTextsAfterIt) {
    std::vector<std::string> seen;
    std::mutex lock;
    std::condition_variable noticed;
    bool done = false;
    {
        ReplyWorker worker([&](std::string_view text, bool) {
            std::this_thread::sleep_for(1ms); // the notice must not overtake a text that takes its time
            std::lock_guard guard(lock);
            seen.emplace_back(text);
        });
        worker.Post("1");
        worker.Post("2");
        worker.Then([&] {
            std::lock_guard guard(lock);
            seen.emplace_back("notice");
            done = true;
            noticed.notify_all();
        });
        worker.Post("3");
        {
            // The caller is told without waiting for the worker itself.
            std::unique_lock guard(lock);
            AwaitOrDie(noticed.wait_for(guard, 20s, [&] { return done; }), "the notice");
        }
        AwaitOrDie(worker.WaitIdle(20s), "the queue");
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "notice", "3"}));
}

class SessionOnWorker : public test::SessionFixture {
protected:
    ReplyWorker worker{[this](std::string_view text, bool early) { session.HandleReply(text, early); }};

    ~SessionOnWorker() override {
        // The worker must stop before the session it calls goes away.
        state.SendAborted = true;
        connection.stalled = false;
    }
};

TEST_F(SessionOnWorker, ChunksPostedInPiecesGiveTheExactExchange) {
    Start();
    for (const char* chunk :
         {"22", "0-mx\r\n220 ", "ready\r\n", "250 hi\r", "\n250 ok\r\n", "250", " ok\r\n"})
        worker.Post(chunk);
    AwaitOrDie(worker.WaitIdle(20s), "the worker");
    Play({test::C("HELO testhost"), test::C("MAIL FROM: <me@example.org>"),
          test::C("RCPT TO: <ann@example.com>"), test::C("DATA")});
    worker.Post("354 go\r\n");
    worker.Post("250 queued\r\n");
    AwaitOrDie(worker.WaitIdle(20s), "the worker");
    Play({test::MessageText, test::C("QUIT")});
    EXPECT_EQ(Message().Outcome, SendOutcome::Accept());
    EXPECT_EQ(connection.Wire(), test::ExpectedWire(Message()));
}

TEST_F(SessionOnWorker, AbortFromAnotherThreadStopsARunningTransfer) {
    Message().Body.assign(200 * 1024, 'b'); // larger than one send, so the stall comes mid-message
    connection.stalled = true;
    connection.waitSleepMs = 1;
    Start();
    for (const char* chunk : {"220 hi\r\n", "250 hi\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"})
        worker.Post(chunk);
    for (int i = 0; i < 20000 && connection.Waits() < 5; ++i)
        std::this_thread::sleep_for(1ms);
    ASSERT_GE(connection.Waits(), 5) << "the transfer did not start";
    EXPECT_EQ(session.State(), SessionState::Data);

    auto abort = std::async(std::launch::async, [this] { session.Abort("TimeOut"); });
    AwaitOrDie(abort.wait_for(20s) == std::future_status::ready, "Abort");
    AwaitOrDie(worker.WaitIdle(20s), "the worker");
    EXPECT_EQ(session.State(), SessionState::Idle);
    EXPECT_EQ(Message().Outcome, SendOutcome::Failure("TimeOut"));
    // The transfer was interrupted: no command would make sense on the connection now.
    const std::vector<std::string> commands = connection.Commands();
    EXPECT_EQ(commands.back(), "DATA\r\n");
    // A send that had already passed its check when the flag was set may still go out, nothing after.
    EXPECT_LE(connection.RawSendsWhileAborted(), 1);
}

TEST_F(SessionOnWorker, FailedCommandSendOnTheWorkerAbortsWithoutDeadlock) {
    connection.failCommandsFrom = 1; // MAIL FROM and every later command
    Start();
    worker.Post("220 hi\r\n");
    worker.Post("250 hi\r\n");
    worker.Post("250 late\r\n");
    AwaitOrDie(worker.WaitIdle(20s), "the worker");
    // The failure is handed over once the worker is done: the text queued behind it met the same broken
    // connection, and the first failure's text is the one kept.
    Play({test::C("HELO testhost"), test::C("MAIL FROM: <me@example.org>"),
          test::C("RCPT TO: <ann@example.com>"), test::C("QUIT"), test::Closed});
    EXPECT_EQ(session.State(), SessionState::Idle);
    EXPECT_EQ(Message().Outcome, SendOutcome::Failure("Connection reset by peer"));
}

} // namespace
} // namespace tarvel
