// Listing the phone book for the settings dialog: order kept, exact-name selection, empty and failed lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dialup/fake_ras.h"

using namespace dialup_test;
using tarvel::RasEntryList;
using Items = std::vector<std::string>;

class RasEntries : public FakeRasTest {};

TEST_F(RasEntries, ListsNamesInLibraryOrderAndSelectsTheExactName) {
    fake.SetEntries({"Work", "Home ISP", "Łódź Интернет", "東京"});
    RasEntryList list;
    manager->FillRasEntries(list, "Home ISP");
    EXPECT_EQ(list.items, (Items{"Work", "Home ISP", "Łódź Интернет", "東京"}));
    EXPECT_EQ(list.selected, 1);
    manager->FillRasEntries(list, "東京");
    EXPECT_EQ(list.selected, 3);
    fake.ClearCalls();
    manager->FillRasEntries(list, "Home ISP");

    // One buffer of 100 records in the first layout, default phone book.
    EXPECT_EQ(fake.Script().enumEntriesFirstSize, 520u);
    EXPECT_EQ(fake.Script().enumEntriesBufferBytes, 52000u);
    EXPECT_TRUE(fake.Script().enumEntriesArgumentsNull);
    EXPECT_EQ(fake.Calls(), Calls{"RasEnumEntriesW"});
}

TEST_F(RasEntries, NameDifferingOnlyInCaseOrAbsentSelectsNothing) {
    fake.SetEntries({"Home ISP", "Work"});
    RasEntryList list;
    manager->FillRasEntries(list, "home isp");
    EXPECT_EQ(list.items, (Items{"Home ISP", "Work"}));
    EXPECT_EQ(list.selected, -1);

    manager->FillRasEntries(list, "Home ISP ");
    EXPECT_EQ(list.selected, -1);
    manager->FillRasEntries(list, std::nullopt);
    EXPECT_EQ(list.items, (Items{"Home ISP", "Work"}));
    EXPECT_EQ(list.selected, -1);
}

TEST_F(RasEntries, LaterOfTwoEqualNamesIsSelected) {
    fake.SetEntries({"Same", "Other", "Same"});
    RasEntryList list;
    manager->FillRasEntries(list, "Same");
    EXPECT_EQ(list.selected, 2);
}

TEST_F(RasEntries, EmptyPhoneBookClearsTheList) {
    RasEntryList list{{"stale"}, 0};
    fake.SetEntries({});
    manager->FillRasEntries(list, "stale");
    EXPECT_TRUE(list.items.empty()) << list.items.size();
    EXPECT_EQ(list.selected, -1);
}

TEST_F(RasEntries, FailedEnumerationClearsTheList) {
    RasEntryList list{{"stale"}, 0};
    fake.SetEntries({"Work"});
    fake.Script().enumEntriesResult = 621;
    manager->FillRasEntries(list, "Work");
    EXPECT_TRUE(list.items.empty()) << list.items.size();
    EXPECT_EQ(list.selected, -1);
}

TEST_F(RasEntries, MoreThanHundredEntriesDoNotFitAndListNothing) {
    for (int i = 0; i < 101; ++i)
        fake.SetEntry(i, "Entry " + std::to_string(i));
    fake.Script().entryCount = 101;
    RasEntryList list{{"stale"}, 0};
    manager->FillRasEntries(list, "Entry 0");
    EXPECT_TRUE(list.items.empty()) << list.items.size();
    EXPECT_EQ(list.selected, -1);

    fake.Script().entryCount = 100;
    manager->FillRasEntries(list, "Entry 99");
    ASSERT_EQ(list.items.size(), 100u);
    EXPECT_EQ(list.items[99], "Entry 99");
    EXPECT_EQ(list.selected, 99);
}

TEST_F(RasEntries, LongestEntryNameComesThroughWhole) {
    // 256 UTF-16 units, the field's limit, some of them beyond any one code page.
    std::string longest = "Ж" + std::string(254, 'n') + "Z";
    fake.SetEntries({longest, "short"});
    RasEntryList list;
    manager->FillRasEntries(list, longest);
    ASSERT_EQ(list.items.size(), 2u);
    EXPECT_EQ(list.items[0], longest);
    EXPECT_EQ(list.items[1], "short");
    EXPECT_EQ(list.selected, 0);
}
