// Hanging up after a send: only a line we dialled, the pause after success, failure, and asking first.
#include <gtest/gtest.h>

#include "platform/dialup/fake_ras.h"

using namespace dialup_test;

class RasHangUp : public FakeRasTest {
protected:
    void SetUp() override {
        FakeRasTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(Load());
        ASSERT_EQ(manager->DialRasEntry("Home ISP", "", ""), "");
        ASSERT_TRUE(manager->RasDialled());
        fake.ClearCalls();
    }
};

TEST_F(RasHangUp, HangsUpOurLineThenPausesASecond) {
    EXPECT_EQ(manager->HangUpRas(false), " ");
    EXPECT_EQ(fake.Calls(), Calls{"RasHangUpW"});
    EXPECT_EQ(fake.Script().hangUpHandle, 0x5150u);
    EXPECT_EQ(log.pauses, std::vector<DWORD>{1000});
    EXPECT_EQ(log.hangUpsBeforePause, std::vector<int>{1});
    EXPECT_FALSE(manager->RasDialled());
    EXPECT_TRUE(log.boxes.empty());

    // Once offline, a second hang-up does nothing.
    EXPECT_EQ(manager->HangUpRas(false), " ");
    EXPECT_EQ(fake.Calls(), Calls{"RasHangUpW"});
}

TEST_F(RasHangUp, FailedHangUpIsReportedAndNotRetried) {
    fake.Script().hangUpResult = 6;
    EXPECT_EQ(manager->HangUpRas(false), "RasHangUp failed.");
    EXPECT_TRUE(log.pauses.empty());
    EXPECT_FALSE(manager->RasDialled());
    EXPECT_EQ(manager->HangUpRas(false), " ");
    EXPECT_EQ(fake.Calls(), Calls{"RasHangUpW"});
}

TEST_F(RasHangUp, AskingFirstAndAnsweringNoLeavesTheLineUp) {
    log.boxAnswer = IDNO;
    EXPECT_EQ(manager->HangUpRas(true), " ");
    ASSERT_EQ(log.boxes.size(), 1u);
    EXPECT_EQ(log.boxes[0].text, "You are still online! Would you like to disconnect?");
    EXPECT_EQ(log.boxes[0].caption, "Modem online");
    EXPECT_EQ(log.boxes[0].type, static_cast<UINT>(MB_YESNO));
    EXPECT_TRUE(fake.Calls().empty()) << fake.Calls().front();
    EXPECT_TRUE(manager->RasDialled());

    log.boxAnswer = IDYES;
    EXPECT_EQ(manager->HangUpRas(true), " ");
    EXPECT_EQ(log.boxes.size(), 2u);
    EXPECT_EQ(fake.Calls(), Calls{"RasHangUpW"});
    EXPECT_FALSE(manager->RasDialled());

    // Nothing dialled: no question either.
    EXPECT_EQ(manager->HangUpRas(true), " ");
    EXPECT_EQ(log.boxes.size(), 2u);
}
