// Composing in frmMain: the buttons follow the e-mail field, Send fills the message record from the
// fields, a send that cannot start says why, and Browse appends the picked files.
#include "main_window_fixture.h"

#include <cstring>

#include "ui/file_dialog.h"
#include "ui/namelist.h"

using tarvel::test::MainWindowTest;
using tarvel::test::TfrmMain;

namespace {

// Sends that must not reach any network: a port that is neither a number nor a service ends them at once.
class ComposeTest : public MainWindowTest {
protected:
    ComposeTest() { settings.SMTPPort = "abc"; }
    bool Enabled(int id) { return IsWindowEnabled(Ctl(id)) != FALSE; }
    const tarvel::TEmailMessage& Record() { return messages.front(); }
};

} // namespace

TEST_F(ComposeTest, SendAddAndDeleteFollowTheEmailField) {
    Open();
    EXPECT_FALSE(Enabled(TfrmMain::cmdMake));
    Type(TfrmMain::edsEmail, "a");
    EXPECT_TRUE(Enabled(TfrmMain::cmdMake));
    EXPECT_TRUE(Enabled(TfrmMain::cmdAdd));
    EXPECT_TRUE(Enabled(TfrmMain::cmdDel));
    Type(TfrmMain::edsEmail, "");
    EXPECT_FALSE(Enabled(TfrmMain::cmdMake));
    EXPECT_FALSE(Enabled(TfrmMain::cmdAdd));
    EXPECT_FALSE(Enabled(TfrmMain::cmdDel));
    // Changes made by the program count too.
    frm->SetText(TfrmMain::edsEmail, "b@example.com");
    EXPECT_TRUE(Enabled(TfrmMain::cmdMake));
    tarvel::ui::RefreshNameList(*frm, settings);
    EXPECT_FALSE(Enabled(TfrmMain::cmdMake));
}

TEST_F(ComposeTest, CreationFillsTheNamesAndLeavesEveryFieldEmpty) {
    settings.NameList = {"Bob", "Carol"};
    settings.AddressList = {"bob@example.com", "carol@example.com"};
    Open();
    EXPECT_EQ(frm->Items(TfrmMain::edsName), (std::vector<std::string>{"Bob", "Carol"}));
    EXPECT_EQ(frm->SelectedIndex(TfrmMain::edsName), -1);
    for (int id :
         {TfrmMain::edsName, TfrmMain::edsEmail, TfrmMain::edsSubj, TfrmMain::edsAttach, TfrmMain::edsMemo})
        EXPECT_EQ(frm->Text(id), "") << id;
    EXPECT_FALSE(Enabled(TfrmMain::cmdMake));

    // The same refill runs after Add and Delete: it takes the name and e-mail, never the message.
    Type(TfrmMain::edsSubj, "s");
    Type(TfrmMain::edsAttach, "a");
    Type(TfrmMain::edsMemo, "m");
    Type(TfrmMain::edsEmail, "e");
    settings.NameList.push_back("Dave");
    tarvel::ui::RefreshNameList(*frm, settings);
    EXPECT_EQ(frm->Items(TfrmMain::edsName).size(), 3u);
    EXPECT_EQ(frm->Text(TfrmMain::edsName), "");
    EXPECT_EQ(frm->Text(TfrmMain::edsEmail), "");
    EXPECT_EQ(frm->Text(TfrmMain::edsSubj), "s");
    EXPECT_EQ(frm->Text(TfrmMain::edsAttach), "a");
    EXPECT_EQ(frm->Text(TfrmMain::edsMemo), "m");
}

TEST_F(ComposeTest, SendFillsTheRecordFromTheFields) {
    settings.NameList = {"Bob Smith"};
    settings.AddressList = {"bob@example.com"};
    Open();
    frm->SetSelectedIndex(TfrmMain::edsName, 0);
    Type(TfrmMain::edsEmail, "bob@example.com;; carol@example.com;");
    Type(TfrmMain::edsSubj, "Lunch");
    Type(TfrmMain::edsMemo, "First line\r\n.dot line\r\n\r\nlast\r\n");
    Click(TfrmMain::cmdMake);
    const tarvel::TEmailMessage& m = Record();
    EXPECT_EQ(m.ToHeader, "Bob Smith <bob@example.com;; carol@example.com;>");
    EXPECT_EQ(m.Recipients, (std::vector<std::string>{"bob@example.com", " carol@example.com"}));
    EXPECT_EQ(m.Sender, "me@example.com");
    EXPECT_EQ(m.Subject, "Lunch");
    EXPECT_EQ(m.Body, "First line\r\n.dot line\r\n\r\nlast\r\n");
    EXPECT_TRUE(m.Attachments.empty());
    ASSERT_TRUE(WaitIdle());
}

TEST_F(ComposeTest, ATypedNameThatIsNotPickedGivesAnEmptyNamePart) {
    settings.NameList = {"Bob"};
    Open();
    Type(TfrmMain::edsName, "Somebody New");
    Type(TfrmMain::edsEmail, "new@example.com");
    Click(TfrmMain::cmdMake);
    EXPECT_EQ(Record().ToHeader, " <new@example.com>");
    ASSERT_TRUE(WaitIdle());
}

TEST_F(ComposeTest, TheBodyTakesTheLinesAsDisplayedWithWordWrap) {
    Open();
    std::string paragraph;
    for (int i = 0; i < 40; ++i)
        paragraph += "word" + std::to_string(i) + " ";
    Type(TfrmMain::edsEmail, "x@example.com");
    Type(TfrmMain::edsMemo, paragraph);
    Click(TfrmMain::cmdMake);
    const std::string& body = Record().Body;
    size_t lines = 0;
    for (size_t at = body.find("\r\n"); at != std::string::npos; at = body.find("\r\n", at + 2))
        ++lines;
    EXPECT_GT(lines, 1u) << body;
    EXPECT_EQ(body.substr(body.size() - 2), "\r\n");
    ASSERT_TRUE(WaitIdle());

    // An empty editor gives an empty body.
    Type(TfrmMain::edsMemo, "");
    Click(TfrmMain::cmdMake);
    EXPECT_EQ(Record().Body, "");
    ASSERT_TRUE(WaitIdle());
}

TEST_F(ComposeTest, APortThatIsNoNumberEndsTheSendWithTheConversionError) {
    Open();
    Type(TfrmMain::edsEmail, "x@example.com");
    Type(TfrmMain::edsMemo, "keep me");
    frm->Shared().IdleTicks.store(29); // as an earlier send may leave it
    Click(TfrmMain::cmdMake);
    EXPECT_EQ(frm->Shared().IdleTicks.load(), 0) << "a new send starts counting from nothing";
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Status(), "'abc' is not a valid integer value");
    EXPECT_EQ(frm->Text(TfrmMain::cmdMake), "&Send");
    EXPECT_EQ(frm->Text(TfrmMain::edsMemo), "keep me");
    EXPECT_FALSE(frm->Timer1().Enabled());
    EXPECT_FALSE(frm->Timer2().Enabled());
    EXPECT_EQ(frm->Sockets1().SocketHandle(), -1);
    EXPECT_FALSE(frm->Shared().SendAborted.load());
}

TEST_F(ComposeTest, NoAddressStartsNothingAndSaysSo) {
    Open();
    Type(TfrmMain::edsEmail, ";");
    Type(TfrmMain::edsMemo, "body");
    Click(TfrmMain::cmdMake);
    EXPECT_EQ(Status(), std::string(tarvel::NoRecipientText));
    EXPECT_EQ(frm->Flow().Step(), tarvel::SendStep::Idle);
    EXPECT_FALSE(frm->Timer1().Enabled());
    tarvel::test::PumpUntilPosted(*frm);
    EXPECT_EQ(Status(), std::string(tarvel::NoRecipientText)) << "nothing else ran";
    EXPECT_EQ(frm->Text(TfrmMain::edsMemo), "body");
}

TEST_F(ComposeTest, AnAttachmentThatCannotBeReadStartsNothingAndNamesIt) {
    tarvel::test::TempFolder folder;
    std::string present = folder.File("present.txt");
    tarvel::test::TempFolder::PutFile(present, "data");
    std::string missing = folder.File("missing.bin");
    Open();
    Type(TfrmMain::edsEmail, "x@example.com");
    Type(TfrmMain::edsAttach, present + ";" + missing);
    Click(TfrmMain::cmdMake);
    EXPECT_EQ(Status(), "Cannot read the attachment " + missing);
    EXPECT_EQ(frm->Flow().Step(), tarvel::SendStep::Idle);
    EXPECT_EQ(frm->Text(TfrmMain::edsAttach), present + ";" + missing);

    // A folder is no file to attach either.
    Type(TfrmMain::edsAttach, folder.Path().string());
    Click(TfrmMain::cmdMake);
    EXPECT_EQ(Status(), "Cannot read the attachment " + folder.Path().string());
    EXPECT_EQ(frm->Flow().Step(), tarvel::SendStep::Idle);
}

TEST_F(ComposeTest, BrowsingTwiceAppendsAndCancellingChangesNothing) {
    std::vector<std::string> answers;
    std::vector<std::string> titles;
    DWORD flags = 0;
    auto answered = tarvel::ui::OpenFileHook.Replace([&](OPENFILENAMEA* ofn) {
        titles.push_back(ofn->lpstrTitle ? ofn->lpstrTitle : "");
        flags = ofn->Flags;
        if (answers.empty()) return FALSE;
        std::string answer = answers.front();
        answers.erase(answers.begin());
        if (answer.size() + 2 > ofn->nMaxFile) return FALSE;
        std::memcpy(ofn->lpstrFile, answer.data(), answer.size());
        ofn->lpstrFile[answer.size()] = '\0';
        ofn->lpstrFile[answer.size() + 1] = '\0';
        return TRUE;
    });
    Open();
    answers.push_back("C:\\docs\\one file.txt");
    answers.push_back(std::string("C:\\pics\0a.png\0b.png", 19));
    Click(TfrmMain::Button1);
    EXPECT_EQ(frm->Text(TfrmMain::edsAttach), "C:\\docs\\one file.txt");
    Click(TfrmMain::Button1);
    EXPECT_EQ(frm->Text(TfrmMain::edsAttach), "C:\\docs\\one file.txt;C:\\pics\\a.png;C:\\pics\\b.png");
    Click(TfrmMain::Button1); // cancelled
    EXPECT_EQ(frm->Text(TfrmMain::edsAttach), "C:\\docs\\one file.txt;C:\\pics\\a.png;C:\\pics\\b.png");
    ASSERT_EQ(titles.size(), 3u);
    EXPECT_EQ(titles[0], "Select file to attach");
    EXPECT_TRUE(flags & OFN_ALLOWMULTISELECT);
    EXPECT_TRUE(flags & OFN_EXPLORER);
}

TEST(PickedFiles, OnePathOrAFolderWithNames) {
    using tarvel::ui::SplitPickedFiles;
    EXPECT_EQ(SplitPickedFiles("C:\\a\\b.txt\0"), (std::vector<std::string>{"C:\\a\\b.txt"}));
    EXPECT_EQ(SplitPickedFiles("C:\\\0x.txt\0y.txt\0"), (std::vector<std::string>{"C:\\x.txt", "C:\\y.txt"}));
    EXPECT_TRUE(SplitPickedFiles("").empty());
}
