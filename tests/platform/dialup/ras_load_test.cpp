// Binding the remote-access library: loaded on first need and kept, the NT-family key check and its retry.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/dialup.h"
#include "platform/dialup/fake_ras.h"

using namespace dialup_test;
using tarvel::RasEntryList;
using tarvel::RasManager;
using tarvel::RasPlatform;

// Runs before anything else in this program has loaded the library.
TEST(RasLoad, LoadsOnFirstNeedOnlyAndKeepsOneReference) {
    ASSERT_EQ(GetModuleHandleA("rasapi32.dll"), nullptr) << "some earlier test kept the library loaded";
    ASSERT_TRUE(EnsureRasKey());
    PlatformLog log;
    {
        RasManager manager(RecordingPlatform(log, nullptr));
        // Dial and hang-up rely on an earlier load; they never load by themselves.
        EXPECT_EQ(manager.DialRasEntry("Work", "", ""), "");
        EXPECT_EQ(manager.HangUpRas(true), " ");
        EXPECT_EQ(manager.RasLibrary(), nullptr);
        EXPECT_EQ(GetModuleHandleA("rasapi32.dll"), nullptr);

        manager.LoadRasLibrary();
        HMODULE loaded = manager.RasLibrary();
        ASSERT_NE(loaded, nullptr);
        EXPECT_EQ(loaded, GetModuleHandleA("rasapi32.dll"));
        EXPECT_TRUE(manager.RasAvailable());
        manager.LoadRasLibrary();
        EXPECT_EQ(manager.RasLibrary(), loaded);
    }
    // Exactly one reference was taken, and it goes with the manager.
    EXPECT_EQ(GetModuleHandleA("rasapi32.dll"), nullptr);
    EXPECT_TRUE(log.boxes.empty());
}

TEST(RasLoad, WineCountsAsWindowsNT) {
    EXPECT_TRUE(tarvel::IsWindowsNT());
}

// A key of this process only, so that parallel test processes do not see each other's changes.
class RasKeyTest : public FakeRasTest {
protected:
    void TearDown() override {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\TarvelTests"); // fails while another process uses it
    }
    RasPlatform PlatformWithKey(bool isNt) {
        RasPlatform platform = RecordingPlatform(log, &fake);
        platform.rasKey = keyPath;
        platform.isWindowsNT = [isNt] { return isNt; };
        return platform;
    }
    std::string keyPath = "Software\\TarvelTests\\RAS-" + std::to_string(GetCurrentProcessId());
};

TEST_F(RasKeyTest, MissingKeyOnNtLeavesUnavailableAndTheNextCallTriesAgain) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());
    RasManager nt(PlatformWithKey(true));
    fake.SetEntries({"Work"});

    nt.LoadRasLibrary();
    EXPECT_EQ(nt.RasLibrary(), nullptr);
    EXPECT_FALSE(nt.RasAvailable());
    RasEntryList list{{"kept"}, 0};
    nt.FillRasEntries(list, "Work");
    EXPECT_EQ(list.items, std::vector<std::string>{"kept"});
    EXPECT_EQ(list.selected, 0);
    EXPECT_EQ(nt.DialRasEntry("Work", "", ""), "");
    EXPECT_TRUE(fake.Calls().empty()) << fake.Calls().front();

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    nt.FillRasEntries(list, "Work");
    EXPECT_TRUE(nt.RasAvailable());
    EXPECT_EQ(nt.RasLibrary(), fake.Module());
    EXPECT_EQ(list.items, std::vector<std::string>{"Work"});
    EXPECT_EQ(list.selected, 0);
}

TEST_F(RasKeyTest, OtherPlatformsNeedNoKey) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());
    RasManager old(PlatformWithKey(false));
    old.LoadRasLibrary();
    EXPECT_TRUE(old.RasAvailable());
    EXPECT_EQ(old.RasLibrary(), fake.Module());
}
