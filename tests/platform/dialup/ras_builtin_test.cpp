// The real binding: the process-wide manager over Wine's own RASAPI32.DLL, which has all seven entry
// points, an empty phone book and no lines up.
#include <gtest/gtest.h>

#include "platform/dialup.h"
#include "platform/dialup/fake_ras.h"

using namespace tarvel;

TEST(RasBuiltin, BindsTheSystemLibraryWithAnEmptyPhoneBookAndNoLines) {
    ASSERT_TRUE(dialup_test::EnsureRasKey());
    LoadRasLibrary();
    RasManager& manager = TheRasManager();
    ASSERT_NE(manager.RasLibrary(), nullptr);
    EXPECT_TRUE(manager.RasAvailable());
    EXPECT_EQ(GetProcAddress(manager.RasLibrary(), "FakeRas_Script"), nullptr)
        << "the scripted fake was loaded";

    RasEntryList list{{"stale"}, 0};
    FillRasEntries(list, "stale");
    EXPECT_TRUE(list.items.empty()) << list.items.size();
    EXPECT_EQ(list.selected, -1);

    // No line is up, so the dial reaches the library, which cannot dial anything here.
    std::string result = DialRasEntry("No such entry", "", "");
    EXPECT_NE(result, "");
    EXPECT_EQ(result.rfind("Ras", 0), 0u) << result;
    EXPECT_FALSE(manager.RasDialled()) << result;
    EXPECT_EQ(HangUpRas(false), " ");
}
