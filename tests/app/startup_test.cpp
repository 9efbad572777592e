// Start-up: tray or mail-to mode by the exact first argument, the fields taken from a "mailto:" link,
// the settings dialog of a first run, a configuration file that stops the start, and the tray menu's
// dialogs.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/link/mailto.h"
#include "app/startup.h"
#include "ui/dialog_support.h"

using tarvel::Program;
using tarvel::StartupOptions;
using tarvel::test::Click;
using tarvel::test::Drain;
using tarvel::test::FakeSystem;
using tarvel::test::ScratchFolder;
using tarvel::ui::MainWindow;
using tarvel::ui::SettingsDialog;
using M = MainWindow;

namespace {

constexpr const char* StoredConfig =
    "mail.example:2525\r\nme@example.com\r\n:\r\nFALSE\r\nAnn\r\nann@example.com\r\n";

class Startup : public ::testing::Test {
protected:
    Program& Start(std::vector<std::string> args, bool expectStarted = true) {
        StartupOptions options;
        options.args = std::move(args);
        options.exePath = folder.Folder() + "tarvel.exe";
        options.services = fake.Make();
        program = std::make_unique<Program>(std::move(options));
        EXPECT_EQ(program->Start(), expectStarted);
        Drain();
        return *program;
    }
    MainWindow& Main() { return *program->MainForm(); }

    ScratchFolder folder;
    FakeSystem fake;
    std::unique_ptr<Program> program;
};

} // namespace

TEST_F(Startup, MailToWithOneAddressShowsTheWindowReadyToSend) {
    folder.WriteConfig(StoredConfig);
    Program& p = Start({"/u", "mailto:ann@example.com"});
    EXPECT_TRUE(p.MailToMode());
    EXPECT_TRUE(Main().IsVisible());
    EXPECT_EQ(Main().Text(M::emailEdit), "ann@example.com");
    EXPECT_EQ(Main().Text(M::subjectEdit), "");
    EXPECT_TRUE(Main().IsEnabled(M::sendButton));
    EXPECT_EQ(p.SettingsForm(), nullptr); // not a first run
    EXPECT_EQ(p.State().settings.SMTPServer, "mail.example");
    EXPECT_EQ(Main().Items(M::nameCombo), (std::vector<std::string>{"Ann"}));
}

TEST_F(Startup, MailToWithASubject) {
    folder.WriteConfig(StoredConfig);
    Start({"/u", "mailto:ann@example.com?Subject=Hello%20there"});
    EXPECT_EQ(Main().Text(M::emailEdit), "ann@example.com");
    EXPECT_EQ(Main().Text(M::subjectEdit), "Hello there");
}

TEST_F(Startup, MailToCopiesAreRecipientsAndBlindCopiesOnlyShowInTheStatusLine) {
    folder.WriteConfig(StoredConfig);
    Start({"/u", "mailto:a@example.com?cc=c@example.com&bcc=hidden@example.com&subject=S"});
    EXPECT_EQ(Main().Text(M::emailEdit), "a@example.com;c@example.com");
    EXPECT_EQ(Main().Text(M::subjectEdit), "S");
    EXPECT_EQ(Main().Text(M::bodyEdit), "");
    EXPECT_EQ(Main().Text(M::statusLabel), "Blind copies of the link were left out: hidden@example.com");
}

TEST_F(Startup, MailToSubjectIsCutAtAThousandCharactersAndTheBodyMakesLines) {
    folder.WriteConfig(StoredConfig);
    Start({"/u",
           "mailto:a@example.com;b@example.com?subject=" + std::string(1500, 's') + "&body=One%0D%0ATwo"});
    EXPECT_EQ(Main().Text(M::emailEdit), "a@example.com;b@example.com");
    EXPECT_EQ(Main().Text(M::subjectEdit), std::string(1000, 's'));
    EXPECT_EQ(Main().Text(M::bodyEdit), "One\r\nTwo");
}

TEST_F(Startup, MailToAddressThatASemicolonInQuotesWouldSplitIsLeftOutAndNamed) {
    folder.WriteConfig(StoredConfig);
    Start({"/u", "mailto:%22a%3Bb%22@x.org,ann@example.com"});
    EXPECT_EQ(Main().Text(M::emailEdit), "ann@example.com");
    EXPECT_EQ(Main().Text(M::statusLabel), std::string(tarvel::LinkAddressLeftOutText) + "\"a;b\"@x.org");
}

TEST_F(Startup, AnyOtherFirstArgumentStartsInTheTray) {
    folder.WriteConfig(StoredConfig);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"/U", "mailto:ann@example.com"},
          std::vector<std::string>{"mailto:ann@example.com"}, std::vector<std::string>{}}) {
        Program& p = Start(args);
        EXPECT_FALSE(p.MailToMode()) << (args.empty() ? "" : args[0]);
        EXPECT_FALSE(Main().IsVisible());
        EXPECT_EQ(Main().Text(M::emailEdit), "");
        EXPECT_FALSE(Main().IsEnabled(M::sendButton));
        program.reset();
    }
}

TEST_F(Startup, NoConfigurationOpensTheSettingsDialogAndACancelledFirstRunWritesNothing) {
    Program& p = Start({});
    EXPECT_TRUE(p.State().settings.FirstRun);
    EXPECT_EQ(fake.serverSeenByImport, "localhost"); // the default, before the import cleared it
    EXPECT_EQ(p.State().configPath, folder.Config());
    EXPECT_FALSE(Main().IsVisible());
    SettingsDialog* dialog = p.SettingsForm();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->IsVisible());
    EXPECT_EQ(GetWindow(dialog->Handle(), GW_OWNER), nullptr);
    EXPECT_EQ(dialog->Text(SettingsDialog::serverEdit), "smtp.imported.example");

    Click(dialog->Control(SettingsDialog::cancelButton));
    Drain();
    EXPECT_FALSE(p.State().SettingsOpen);
    EXPECT_FALSE(folder.HasConfig());
    program.reset(); // the end of the run saves nothing either
    EXPECT_FALSE(folder.HasConfig());
    EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(Startup, AConfirmedFirstRunWritesTheFile) {
    Program& p = Start({});
    Click(p.SettingsForm()->Control(SettingsDialog::okButton));
    Drain();
    EXPECT_EQ(folder.ReadConfig(), "smtp.imported.example:25\r\nme@imported.example\r\n:\r\nFALSE\r\n");
}

TEST_F(Startup, AConfigurationThatCannotBeReadStopsTheStart) {
    std::filesystem::create_directories(folder.Path() / "zembrix.cfg"); // exists, but is no file
    Program& p = Start({}, false);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_NE(fake.boxes[0].text.find("zembrix.cfg"), std::string::npos) << fake.boxes[0].text;
    EXPECT_EQ(p.MainForm(), nullptr);
}

TEST_F(Startup, TheTrayMenuOpensOneDialogOfEachKindOwnedByTheMainWindow) {
    folder.WriteConfig(StoredConfig);
    Program& p = Start({});
    Main().PropertiesItemClick();
    SettingsDialog* dialog = p.SettingsForm();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(GetWindow(dialog->Handle(), GW_OWNER), Main().Handle());
    EXPECT_EQ(dialog->Text(SettingsDialog::portEdit), "2525");
    Main().PropertiesItemClick();
    EXPECT_EQ(p.SettingsForm(), dialog);
    EXPECT_EQ(fake.recorded, 1);

    Main().AboutItemClick();
    tarvel::ui::AboutBox* about = p.AboutForm();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(GetWindow(about->Handle(), GW_OWNER), Main().Handle());
    Main().AboutItemClick();
    EXPECT_EQ(p.AboutForm(), about);
    EXPECT_EQ(about->Text(tarvel::ui::AboutBox::closeButton), "&Close");
}
