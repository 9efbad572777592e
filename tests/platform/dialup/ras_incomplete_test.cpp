// A remote-access library without one of the seven entry points (RasGetConnectStatusW): loaded once,
// unavailable for the rest of the run, and every operation quietly does nothing.
#include <gtest/gtest.h>

#include "platform/dialup/fake_ras.h"

using namespace dialup_test;
using tarvel::RasEntryList;

class RasIncomplete : public FakeRasTest {};

TEST_F(RasIncomplete, StaysUnavailableForTheRunAndDoesNothing) {
    ASSERT_EQ(GetProcAddress(fake.Module(), "RasGetConnectStatusW"), nullptr)
        << "the complete fake was loaded";
    fake.SetEntries({"Work"});
    fake.SetStored("5551234", "alice", "secret");

    manager->LoadRasLibrary();
    HMODULE loaded = manager->RasLibrary();
    EXPECT_EQ(loaded, fake.Module());
    EXPECT_FALSE(manager->RasAvailable());

    RasEntryList list{{"kept"}, 0};
    manager->FillRasEntries(list, "Work");
    EXPECT_EQ(list.items, std::vector<std::string>{"kept"});
    EXPECT_EQ(list.selected, 0);
    EXPECT_EQ(manager->DialRasEntry("Work", "", ""), "");
    EXPECT_FALSE(manager->RasDialled());
    EXPECT_EQ(manager->HangUpRas(true), " ");
    EXPECT_TRUE(log.boxes.empty());
    EXPECT_TRUE(fake.Calls().empty()) << fake.Calls().front();

    // Not loaded again: the same handle, still unavailable.
    manager->LoadRasLibrary();
    EXPECT_EQ(manager->RasLibrary(), loaded);
    EXPECT_FALSE(manager->RasAvailable());
}
