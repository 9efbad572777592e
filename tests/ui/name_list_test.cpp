// The name list over the main window: Add, Delete and picking change the name and e-mail fields only,
// every change is saved at once, and values the file cannot carry are refused before anything changes.
#include <gtest/gtest.h>

#include "core/config/config.h"
#include "dialog_support.h"
#include "ui/name_list.h"

using tarvel::test::Click;
using tarvel::test::Drain;
using tarvel::test::Lines;
using tarvel::test::ScratchFolder;
using tarvel::ui::MainWindow;
using tarvel::ui::SharedState;
using M = MainWindow;

namespace {

class NameList : public ::testing::Test {
protected:
    NameList() { state.configPath = folder.Config(); }

    MainWindow& Main() {
        if (!main) {
            tarvel::ui::MainOptions options;
            options.exeFolder = folder.Folder();
            main = std::make_unique<MainWindow>(state.settings, messages, fake.Make(), options);
            tarvel::ui::InstallNameList(*main, state);
            EXPECT_TRUE(main->Create());
            main->Show();
            Drain();
        }
        return *main;
    }
    void Type(int id, const std::string& text) { Main().SetText(id, text); }
    void Add(const std::string& name, const std::string& address) {
        Type(M::nameCombo, name);
        Type(M::emailEdit, address);
        Click(Main().Control(M::addButton));
    }
    void Pick(int index) {
        Main().SetSelectedIndex(M::nameCombo, index);
        Main().NamePicked(); // what CBN_SELCHANGE runs
    }
    void TypeCompose() {
        Type(M::subjectEdit, "Typed subject");
        Type(M::bodyEdit, "Typed body\r\nsecond line");
        Type(M::attachEdit, "C:\\report.txt");
    }
    void ExpectComposeKept() {
        EXPECT_EQ(Main().Text(M::subjectEdit), "Typed subject");
        EXPECT_EQ(Main().Text(M::bodyEdit), "Typed body\r\nsecond line");
        EXPECT_EQ(Main().Text(M::attachEdit), "C:\\report.txt");
    }

    tarvel::test::FakeSystem fake; // first, so that it goes last
    tarvel::ui::Application app;
    ScratchFolder folder;
    SharedState state;
    tarvel::MessageList messages;
    std::unique_ptr<MainWindow> main;
};

} // namespace

TEST_F(NameList, AddAppendsSavesAndKeepsWhatWasTyped) {
    Main();
    TypeCompose();
    Add("Ann", "ann@example.com;bob@example.com");
    EXPECT_EQ(state.settings.NameList, (std::vector<std::string>{"Ann"}));
    EXPECT_EQ(state.settings.AddressList, (std::vector<std::string>{"ann@example.com;bob@example.com"}));
    EXPECT_EQ(Main().Items(M::nameCombo), (std::vector<std::string>{"Ann"}));
    ExpectComposeKept();
    EXPECT_EQ(Main().Text(M::nameCombo), "");
    EXPECT_EQ(Main().Text(M::emailEdit), "");
    // The e-mail field's change handler: empty, so Send, Add and Delete are off.
    EXPECT_FALSE(Main().IsEnabled(M::sendButton));
    EXPECT_FALSE(Main().IsEnabled(M::addButton));
    EXPECT_FALSE(Main().IsEnabled(M::deleteButton));
    EXPECT_EQ(folder.ReadConfig(),
              "localhost:25\r\n\r\n:\r\nFALSE\r\nAnn\r\nann@example.com;bob@example.com\r\n");
    EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(NameList, DuplicateAndEmptyNamesAreKeptEachWithItsAddress) {
    Add("Ann", "a1@example.com");
    Add("Ann", "a2@example.com");
    Add("", "nobody@example.com");
    EXPECT_EQ(Main().Items(M::nameCombo), (std::vector<std::string>{"Ann", "Ann", ""}));
    EXPECT_EQ(state.settings.AddressList,
              (std::vector<std::string>{"a1@example.com", "a2@example.com", "nobody@example.com"}));
    Pick(1);
    EXPECT_EQ(Main().Text(M::emailEdit), "a2@example.com");
    Pick(2);
    EXPECT_EQ(Main().Text(M::emailEdit), "nobody@example.com");
}

TEST_F(NameList, OrderSurvivesARestart) {
    Add("Carl", "c@example.com");
    Add("Ann", "a@example.com");
    Add("Bea", "b@example.com");
    main.reset();

    tarvel::Settings reloaded;
    tarvel::LoadConfiguration(reloaded, folder.Config());
    EXPECT_FALSE(reloaded.FirstRun);
    EXPECT_EQ(reloaded.NameList, (std::vector<std::string>{"Carl", "Ann", "Bea"}));
    EXPECT_EQ(reloaded.AddressList,
              (std::vector<std::string>{"c@example.com", "a@example.com", "b@example.com"}));
    state.settings = reloaded;
    EXPECT_EQ(Main().Items(M::nameCombo), (std::vector<std::string>{"Carl", "Ann", "Bea"}));
}

TEST_F(NameList, PickingFillsTheAddressOnlyAndFocusesTheSubject) {
    state.settings.NameList = {"Ann", "Bob"};
    state.settings.AddressList = {"ann@example.com", "bob@example.com"};
    Main();
    TypeCompose();
    Pick(1);
    EXPECT_EQ(Main().Text(M::emailEdit), "bob@example.com");
    ExpectComposeKept();
    EXPECT_EQ(GetFocus(), Main().Control(M::subjectEdit));
    EXPECT_TRUE(Main().IsEnabled(M::sendButton));
    EXPECT_FALSE(folder.HasConfig()); // picking saves nothing
}

TEST_F(NameList, DeleteRemovesTheSelectedPairAndSaves) {
    state.settings.NameList = {"Ann", "Bob", "Cy"};
    state.settings.AddressList = {"a@x", "b@x", "c@x"};
    Main();
    Pick(1);
    TypeCompose();
    Click(Main().Control(M::deleteButton));
    EXPECT_EQ(state.settings.NameList, (std::vector<std::string>{"Ann", "Cy"}));
    EXPECT_EQ(state.settings.AddressList, (std::vector<std::string>{"a@x", "c@x"}));
    EXPECT_EQ(Main().Items(M::nameCombo), (std::vector<std::string>{"Ann", "Cy"}));
    ExpectComposeKept();
    EXPECT_EQ(Main().Text(M::emailEdit), "");
    EXPECT_EQ(Lines(folder.ReadConfig()),
              (std::vector<std::string>{"localhost:25", "", ":", "FALSE", "Ann", "a@x", "Cy", "c@x"}));
}

TEST_F(NameList, DeleteWithNothingSelectedChangesNothing) {
    state.settings.NameList = {"Ann"};
    state.settings.AddressList = {"a@x"};
    Main();
    Type(M::nameCombo, "Ann"); // typed, not picked
    Type(M::emailEdit, "a@x");
    Click(Main().Control(M::deleteButton));
    EXPECT_EQ(state.settings.NameList, (std::vector<std::string>{"Ann"}));
    EXPECT_EQ(Main().Text(M::emailEdit), "a@x");
    EXPECT_FALSE(folder.HasConfig());
}

TEST_F(NameList, AddRefusesWhatTheFileCannotCarry) {
    Main();
    TypeCompose();
    Add("Ann\r\nEvil", "a@x");
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_NE(fake.boxes[0].text.find("name"), std::string::npos) << fake.boxes[0].text;
    // A combo box hands the focus on to its edit field.
    EXPECT_TRUE(IsChild(Main().Control(M::nameCombo), GetFocus())) << GetFocus();
    EXPECT_TRUE(state.settings.NameList.empty());
    EXPECT_TRUE(state.settings.AddressList.empty());
    EXPECT_EQ(Main().Text(M::emailEdit), "a@x"); // left for a correction
    ExpectComposeKept();
    EXPECT_FALSE(folder.HasConfig());

    Add("Ann", std::string("a@x\x1A", 4));
    ASSERT_EQ(fake.boxes.size(), 2u);
    EXPECT_NE(fake.boxes[1].text.find("address"), std::string::npos) << fake.boxes[1].text;
    EXPECT_EQ(GetFocus(), Main().Control(M::emailEdit));
    EXPECT_TRUE(state.settings.NameList.empty());
    EXPECT_FALSE(folder.HasConfig());
}

TEST_F(NameList, AFailedSaveIsShownKeepsTheChangeInMemoryAndTheFileWhole) {
    folder.WriteConfig("old:25\r\n\r\n:\r\nFALSE\r\n");
    folder.BlockSaving();
    Add("Ann", "a@x");
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_NE(fake.boxes[0].text.find("zembrix.cfg"), std::string::npos) << fake.boxes[0].text;
    EXPECT_EQ(folder.ReadConfig(), "old:25\r\n\r\n:\r\nFALSE\r\n");
    EXPECT_EQ(state.settings.NameList, (std::vector<std::string>{"Ann"}));
}
