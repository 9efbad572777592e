// Dialling before a send: what reaches RasDialW, lines already up, failures and the texts they give,
// and input too long for its record field.
#include <gtest/gtest.h>

#include <string>

#include "platform/dialup/fake_ras.h"

using namespace dialup_test;

class RasDial : public FakeRasTest {
protected:
    void SetUp() override {
        FakeRasTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(Load());
        fake.SetStored("5551234", "alice", "stored-secret", "HOME", "5559999");
    }
};

TEST_F(RasDial, DialsTheEntryWithItsStoredNumberAndPassword) {
    EXPECT_EQ(manager->DialRasEntry("Home ISP", "", ""), "");
    EXPECT_TRUE(manager->RasDialled());
    EXPECT_EQ(manager->RasConnection(), reinterpret_cast<HANDLE>(0x5150));

    const fake_ras::Script& seen = fake.Script();
    EXPECT_EQ(fake.Calls(), (Calls{"RasEnumConnectionsW", "RasGetEntryDialParamsW", "RasDialW"}));
    EXPECT_EQ(seen.enumConnectionsFirstSize, 816u);
    EXPECT_EQ(seen.enumConnectionsBufferBytes, 81600u);
    EXPECT_EQ(seen.getDialParamsSize, 2096u);
    EXPECT_STREQ(seen.getDialParamsEntryName, "Home ISP");
    EXPECT_TRUE(seen.getDialParamsPhoneBookNull);
    EXPECT_EQ(seen.dialSize, 2096u);
    EXPECT_TRUE(seen.dialSynchronous);
    EXPECT_STREQ(seen.dialEntryName, "Home ISP");
    EXPECT_STREQ(seen.dialPhoneNumber, "5551234");
    EXPECT_STREQ(seen.dialPassword, "stored-secret");
    EXPECT_STREQ(seen.dialUserName, "alice");
    EXPECT_STREQ(seen.dialDomain, "HOME");
    EXPECT_STREQ(seen.dialCallbackNumber, "5559999");
}

TEST_F(RasDial, PasswordOverrideReplacesTheStoredOneWhole) {
    EXPECT_EQ(manager->DialRasEntry("Home ISP", "", "pw"), "");
    EXPECT_STREQ(fake.Script().dialPassword, "pw");
    EXPECT_STREQ(fake.Script().dialUserName, "alice");
}

TEST_F(RasDial, NamesAndPasswordsBeyondTheCodePageReachTheRecordWhole) {
    fake.SetStored("5551234", "Łukasz", "stored-secret");
    EXPECT_EQ(manager->DialRasEntry("Łódź Интернет 東京", "", "пароль"), "");
    EXPECT_STREQ(fake.Script().getDialParamsEntryName, "Łódź Интернет 東京");
    EXPECT_STREQ(fake.Script().dialEntryName, "Łódź Интернет 東京");
    EXPECT_STREQ(fake.Script().dialUserName, "Łukasz");
    EXPECT_STREQ(fake.Script().dialPassword, "пароль");
}

TEST_F(RasDial, PhoneTextIsAppendedToTheStoredNumber) {
    EXPECT_EQ(manager->DialRasEntry("Home ISP", "#77", ""), "");
    EXPECT_STREQ(fake.Script().dialPhoneNumber, "5551234#77");
}

TEST_F(RasDial, LineAlreadyUpIsNeitherDialledNorHungUp) {
    fake.Script().connectionCount = 1;
    EXPECT_EQ(manager->DialRasEntry("Home ISP", "", ""), "");
    EXPECT_EQ(fake.Calls(), Calls{"RasEnumConnectionsW"});
    EXPECT_FALSE(manager->RasDialled());

    EXPECT_EQ(manager->HangUpRas(false), " ");
    EXPECT_EQ(fake.Calls(), Calls{"RasEnumConnectionsW"});
    EXPECT_TRUE(log.pauses.empty());
}

TEST_F(RasDial, LineFoundUpAfterOurOwnDialStaysOursToHangUp) {
    ASSERT_EQ(manager->DialRasEntry("Home ISP", "", ""), "");
    fake.Script().connectionCount = 1;
    fake.Script().dialHandle = 0x6000;
    EXPECT_EQ(manager->DialRasEntry("Home ISP", "", ""), "");
    EXPECT_EQ(CountCalls(fake.Calls(), "RasDialW"), 1);
    EXPECT_TRUE(manager->RasDialled());

    EXPECT_EQ(manager->HangUpRas(false), " ");
    EXPECT_EQ(fake.Script().hangUpHandle, 0x5150u);
}

TEST_F(RasDial, UnlistableConnectionsMeanNoDial) {
    fake.Script().enumConnectionsResult = 610;
    EXPECT_EQ(manager->DialRasEntry("Home ISP", "", ""), "");
    EXPECT_EQ(fake.Calls(), Calls{"RasEnumConnectionsW"});
    EXPECT_FALSE(manager->RasDialled());
}

TEST_F(RasDial, UnreadableDialParamsStopBeforeDialling) {
    fake.Script().getDialParamsResult = 623;
    fake.AddErrorText(623, "The system could not find the phone book entry for this connection.");
    EXPECT_EQ(
        manager->DialRasEntry("Gone", "", ""),
        "RasGetEntryDialParams failed: The system could not find the phone book entry for this connection.");
    EXPECT_EQ(fake.Calls(), (Calls{"RasEnumConnectionsW", "RasGetEntryDialParamsW", "RasGetErrorStringW"}));
    EXPECT_EQ(fake.Script().errorStringBufferBytes, 100u);
    EXPECT_FALSE(manager->RasDialled());

    // Without a platform text the code is shown in decimal.
    fake.Script().getDialParamsResult = 1234;
    EXPECT_EQ(manager->DialRasEntry("Gone", "", ""), "RasGetEntryDialParams failed: 1234");
    EXPECT_EQ(CountCalls(fake.Calls(), "RasDialW"), 0);
    EXPECT_EQ(manager->HangUpRas(false), " ");
    EXPECT_EQ(CountCalls(fake.Calls(), "RasHangUpW"), 0);
}

TEST_F(RasDial, FailedDialWithAHandleIsHungUpAtOnce) {
    fake.Script().dialResult = 676;
    fake.Script().dialHandle = 0x77;
    fake.AddErrorText(676, "The line is busy.");
    EXPECT_EQ(manager->DialRasEntry("Home ISP", "", ""), "RasDial failed: The line is busy.");
    EXPECT_EQ(fake.Calls(), (Calls{"RasEnumConnectionsW", "RasGetEntryDialParamsW", "RasDialW",
                                   "RasGetErrorStringW", "RasHangUpW"}));
    EXPECT_EQ(fake.Script().hangUpHandle, 0x77u);
    EXPECT_TRUE(log.pauses.empty());
    EXPECT_FALSE(manager->RasDialled());

    // The end of the send then has nothing to hang up.
    EXPECT_EQ(manager->HangUpRas(false), " ");
    EXPECT_EQ(CountCalls(fake.Calls(), "RasHangUpW"), 1);
}

TEST_F(RasDial, FailedDialWithoutTextOrHandle) {
    fake.Script().dialResult = 680;
    fake.Script().dialHandle = 0;
    EXPECT_EQ(manager->DialRasEntry("Home ISP", "", ""), "RasDial failed: Modem error?");
    EXPECT_EQ(CountCalls(fake.Calls(), "RasHangUpW"), 0);
    EXPECT_EQ(manager->RasConnection(), nullptr);
    EXPECT_FALSE(manager->RasDialled());
}

TEST_F(RasDial, ErrorTextIsCutToTheHundredByteBuffer) {
    std::string longText(150, 'x');
    fake.Script().dialResult = 629;
    fake.AddErrorText(629, longText.c_str());
    EXPECT_EQ(manager->DialRasEntry("Home ISP", "", ""), "RasDial failed: " + std::string(99, 'x'));
}

TEST_F(RasDial, FailedRedialAfterOurLineDroppedLeavesUsOffline) {
    ASSERT_EQ(manager->DialRasEntry("Home ISP", "", ""), "");
    ASSERT_TRUE(manager->RasDialled());
    // The line went down by itself; the next dial fails.
    fake.Script().dialResult = 678;
    fake.Script().dialHandle = 0x88;
    EXPECT_EQ(manager->DialRasEntry("Home ISP", "", ""), "RasDial failed: Modem error?");
    EXPECT_FALSE(manager->RasDialled());
    EXPECT_EQ(manager->HangUpRas(false), " ");
    EXPECT_EQ(CountCalls(fake.Calls(), "RasHangUpW"), 1);
    EXPECT_EQ(fake.Script().hangUpHandle, 0x88u);
}

TEST_F(RasDial, TextsThatDoNotFitTheirFieldsAreRefusedAndNothingIsDialled) {
    EXPECT_EQ(manager->DialRasEntry(std::string(257, 'e'), "", ""),
              "Dial-up entry name is longer than 256 characters.");
    EXPECT_EQ(manager->DialRasEntry("Home ISP", "", std::string(257, 'p')),
              "Dial-up password is longer than 256 characters.");
    // 7 stored digits + 122 = 129 > 128.
    EXPECT_EQ(manager->DialRasEntry("Home ISP", std::string(122, '1'), ""),
              "Dial-up phone number is longer than 128 characters.");
    EXPECT_EQ(CountCalls(fake.Calls(), "RasDialW"), 0);
    EXPECT_EQ(CountCalls(fake.Calls(), "RasGetEntryDialParamsW"), 1);
    EXPECT_FALSE(manager->RasDialled());
}

TEST_F(RasDial, TextsThatJustFitAreDialledWhole) {
    std::string name(256, 'e'), password(256, 'p'), digits(121, '1');
    EXPECT_EQ(manager->DialRasEntry(name, digits, password), "");
    EXPECT_EQ(fake.Script().dialEntryName, name);
    EXPECT_EQ(fake.Script().dialPassword, password);
    EXPECT_EQ(fake.Script().dialPhoneNumber, "5551234" + digits);
    EXPECT_TRUE(manager->RasDialled());
}
