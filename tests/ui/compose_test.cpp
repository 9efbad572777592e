// Composing in the main window: the buttons follow the e-mail field, Send fills the message record from the
// fields, a send that cannot start says why, and Browse appends the picked files.
#include "main_window_fixture.h"

#include <cstring>
#include <cwchar>

#include "core/text/wide.h"
#include "win/file_dialog.h"
#include "ui/name_list.h"

using tarvel::test::MainWindow;
using tarvel::test::MainWindowTest;

namespace {

// Sends that must not reach any network: a port that is neither a number nor a service ends them at once.
class ComposeTest : public MainWindowTest {
protected:
    ComposeTest() { settings.SMTPPort = "abc"; }
    bool Enabled(int id) { return IsWindowEnabled(Ctl(id)) != FALSE; }
    const tarvel::MailMessage& Record() { return messages.front(); }
};

} // namespace

TEST_F(ComposeTest, SendAddAndDeleteFollowTheEmailField) {
    Open();
    EXPECT_FALSE(Enabled(MainWindow::sendButton));
    Type(MainWindow::emailEdit, "a");
    EXPECT_TRUE(Enabled(MainWindow::sendButton));
    EXPECT_TRUE(Enabled(MainWindow::addButton));
    EXPECT_TRUE(Enabled(MainWindow::deleteButton));
    Type(MainWindow::emailEdit, "");
    EXPECT_FALSE(Enabled(MainWindow::sendButton));
    EXPECT_FALSE(Enabled(MainWindow::addButton));
    EXPECT_FALSE(Enabled(MainWindow::deleteButton));
    // Changes made by the program count too.
    window->SetText(MainWindow::emailEdit, "b@example.com");
    EXPECT_TRUE(Enabled(MainWindow::sendButton));
    tarvel::ui::RefreshNameList(*window, settings);
    EXPECT_FALSE(Enabled(MainWindow::sendButton));
}

TEST_F(ComposeTest, CreationFillsTheNamesAndLeavesEveryFieldEmpty) {
    settings.NameList = {"Bob", "Carol"};
    settings.AddressList = {"bob@example.com", "carol@example.com"};
    Open();
    EXPECT_EQ(window->Items(MainWindow::nameCombo), (std::vector<std::string>{"Bob", "Carol"}));
    EXPECT_EQ(window->SelectedIndex(MainWindow::nameCombo), -1);
    for (int id : {MainWindow::nameCombo, MainWindow::emailEdit, MainWindow::subjectEdit,
                   MainWindow::attachEdit, MainWindow::bodyEdit})
        EXPECT_EQ(window->Text(id), "") << id;
    EXPECT_FALSE(Enabled(MainWindow::sendButton));

    // The same refill runs after Add and Delete: it takes the name and e-mail, never the message.
    Type(MainWindow::subjectEdit, "s");
    Type(MainWindow::attachEdit, "a");
    Type(MainWindow::bodyEdit, "m");
    Type(MainWindow::emailEdit, "e");
    settings.NameList.push_back("Dave");
    tarvel::ui::RefreshNameList(*window, settings);
    EXPECT_EQ(window->Items(MainWindow::nameCombo).size(), 3u);
    EXPECT_EQ(window->Text(MainWindow::nameCombo), "");
    EXPECT_EQ(window->Text(MainWindow::emailEdit), "");
    EXPECT_EQ(window->Text(MainWindow::subjectEdit), "s");
    EXPECT_EQ(window->Text(MainWindow::attachEdit), "a");
    EXPECT_EQ(window->Text(MainWindow::bodyEdit), "m");
}

TEST_F(ComposeTest, SendFillsTheRecordFromTheFields) {
    settings.NameList = {"Bob Smith"};
    settings.AddressList = {"bob@example.com"};
    Open();
    window->SetSelectedIndex(MainWindow::nameCombo, 0);
    Type(MainWindow::emailEdit, "bob@example.com;; carol@example.com;");
    Type(MainWindow::subjectEdit, "Lunch");
    Type(MainWindow::bodyEdit, "First line\r\n.dot line\r\n\r\nlast\r\n");
    Click(MainWindow::sendButton);
    const tarvel::MailMessage& m = Record();
    EXPECT_EQ(m.ToHeader, "Bob Smith <bob@example.com;; carol@example.com;>");
    EXPECT_EQ(m.Recipients, (std::vector<std::string>{"bob@example.com", " carol@example.com"}));
    EXPECT_EQ(m.Sender, "me@example.com");
    EXPECT_EQ(m.Subject, "Lunch");
    EXPECT_EQ(m.Body, "First line\r\n.dot line\r\n\r\nlast\r\n");
    EXPECT_TRUE(m.Attachments.empty());
    ASSERT_TRUE(WaitIdle());
}

TEST_F(ComposeTest, KeysInAnyScriptReachTheRecordAsUtf8) {
    // Greek, Cyrillic, Chinese and a character beyond the BMP (a surrogate pair in WM_CHAR), with the code
    // page holding none of them.
    const std::string name = "Łukasz Żółkiewski", subject = "Καλημέρα \xF0\x9F\x93\xA7";
    settings.NameList = {name, "Bob"};
    settings.AddressList = {"lukasz@example.com", "bob@example.com"};
    Open();
    EXPECT_EQ(window->Items(MainWindow::nameCombo), (std::vector<std::string>{name, "Bob"}));
    window->SetSelectedIndex(MainWindow::nameCombo, 0);
    Type(MainWindow::emailEdit, "lukasz@example.com");
    Keys(MainWindow::subjectEdit, subject);
    Keys(MainWindow::bodyEdit, "Добрый день\r东京");
    EXPECT_EQ(window->Text(MainWindow::subjectEdit), subject);
    Click(MainWindow::sendButton);
    const tarvel::MailMessage& m = Record();
    EXPECT_EQ(m.ToHeader, name + " <lukasz@example.com>");
    EXPECT_EQ(m.Subject, subject);
    EXPECT_EQ(m.Body, "Добрый день\r\n东京\r\n");
    ASSERT_TRUE(WaitIdle());
}

TEST_F(ComposeTest, ATypedNameThatIsNotPickedGivesAnEmptyNamePart) {
    settings.NameList = {"Bob"};
    Open();
    Type(MainWindow::nameCombo, "Somebody New");
    Type(MainWindow::emailEdit, "new@example.com");
    Click(MainWindow::sendButton);
    EXPECT_EQ(Record().ToHeader, " <new@example.com>");
    ASSERT_TRUE(WaitIdle());
}

TEST_F(ComposeTest, TheBodyTakesTheLinesAsDisplayedWithWordWrap) {
    Open();
    std::string paragraph;
    for (int i = 0; i < 40; ++i)
        paragraph += "word" + std::to_string(i) + " ";
    Type(MainWindow::emailEdit, "x@example.com");
    Type(MainWindow::bodyEdit, paragraph);
    Click(MainWindow::sendButton);
    const std::string& body = Record().Body;
    size_t lines = 0;
    for (size_t at = body.find("\r\n"); at != std::string::npos; at = body.find("\r\n", at + 2))
        ++lines;
    EXPECT_GT(lines, 1u) << body;
    EXPECT_EQ(body.substr(body.size() - 2), "\r\n");
    ASSERT_TRUE(WaitIdle());

    // An empty editor gives an empty body.
    Type(MainWindow::bodyEdit, "");
    Click(MainWindow::sendButton);
    EXPECT_EQ(Record().Body, "");
    ASSERT_TRUE(WaitIdle());
}

TEST_F(ComposeTest, APortThatIsNoNumberEndsTheSendWithTheConversionError) {
    Open();
    Type(MainWindow::emailEdit, "x@example.com");
    Type(MainWindow::bodyEdit, "keep me");
    window->Signals().IdleTicks.store(29); // as an earlier send may leave it
    Click(MainWindow::sendButton);
    EXPECT_EQ(window->Signals().IdleTicks.load(), 0) << "a new send starts counting from nothing";
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Status(), "'abc' is not a valid integer value");
    EXPECT_EQ(window->Text(MainWindow::sendButton), "&Send");
    EXPECT_EQ(window->Text(MainWindow::bodyEdit), "keep me");
    EXPECT_FALSE(window->IdleTimer().Enabled());
    EXPECT_FALSE(window->ProgressTimer().Enabled());
    EXPECT_EQ(window->Socket().SocketHandle(), -1);
    EXPECT_FALSE(window->Signals().SendAborted.load());
}

TEST_F(ComposeTest, NoAddressStartsNothingAndSaysSo) {
    Open();
    Type(MainWindow::emailEdit, ";");
    Type(MainWindow::bodyEdit, "body");
    Click(MainWindow::sendButton);
    EXPECT_EQ(Status(), std::string(tarvel::NoRecipientText));
    EXPECT_EQ(window->Flow().Step(), tarvel::SendStep::Idle);
    EXPECT_FALSE(window->IdleTimer().Enabled());
    tarvel::test::PumpUntilPosted(*window);
    EXPECT_EQ(Status(), std::string(tarvel::NoRecipientText)) << "nothing else ran";
    EXPECT_EQ(window->Text(MainWindow::bodyEdit), "body");
}

TEST_F(ComposeTest, AnAttachmentThatCannotBeReadStartsNothingAndNamesIt) {
    tarvel::test::TempFolder folder;
    std::string present = folder.File("present.txt");
    tarvel::test::TempFolder::PutFile(present, "data");
    std::string missing = folder.File("missing.bin");
    Open();
    Type(MainWindow::emailEdit, "x@example.com");
    Type(MainWindow::attachEdit, present + ";" + missing);
    Click(MainWindow::sendButton);
    EXPECT_EQ(Status(), "Cannot read the attachment " + missing);
    EXPECT_EQ(window->Flow().Step(), tarvel::SendStep::Idle);
    EXPECT_EQ(window->Text(MainWindow::attachEdit), present + ";" + missing);

    // A folder is no file to attach either.
    Type(MainWindow::attachEdit, folder.Path().string());
    Click(MainWindow::sendButton);
    EXPECT_EQ(Status(), "Cannot read the attachment " + folder.Path().string());
    EXPECT_EQ(window->Flow().Step(), tarvel::SendStep::Idle);
}

TEST_F(ComposeTest, BrowsingTwiceAppendsAndCancellingChangesNothing) {
    std::vector<std::string> answers;
    std::vector<std::string> titles;
    DWORD flags = 0;
    system.fileDialog = [&](OPENFILENAMEW* ofn) {
        titles.push_back(tarvel::Narrow(ofn->lpstrTitle ? ofn->lpstrTitle : L""));
        flags = ofn->Flags;
        if (answers.empty()) return FALSE;
        const std::wstring answer = tarvel::Widen(answers.front());
        answers.erase(answers.begin());
        if (answer.size() + 2 > ofn->nMaxFile) return FALSE;
        std::wmemcpy(ofn->lpstrFile, answer.data(), answer.size());
        ofn->lpstrFile[answer.size()] = '\0';
        ofn->lpstrFile[answer.size() + 1] = '\0';
        return TRUE;
    };
    Open();
    answers.push_back("C:\\docs\\one file.txt");
    // Names beyond any one code page come back as they are.
    answers.push_back(std::string("C:\\Łódź\0Отчёт.txt\0東京.txt", 36));
    Click(MainWindow::browseButton);
    EXPECT_EQ(window->Text(MainWindow::attachEdit), "C:\\docs\\one file.txt");
    Click(MainWindow::browseButton);
    const std::string both = "C:\\docs\\one file.txt;C:\\Łódź\\Отчёт.txt;C:\\Łódź\\東京.txt";
    EXPECT_EQ(window->Text(MainWindow::attachEdit), both);
    Click(MainWindow::browseButton); // cancelled
    EXPECT_EQ(window->Text(MainWindow::attachEdit), both);
    ASSERT_EQ(titles.size(), 3u);
    EXPECT_EQ(titles[0], "Select file to attach");
    EXPECT_TRUE(flags & OFN_ALLOWMULTISELECT);
    EXPECT_TRUE(flags & OFN_EXPLORER);
}

TEST(PickedFiles, OnePathOrAFolderWithNames) {
    using tarvel::ui::SplitPickedFiles;
    EXPECT_EQ(SplitPickedFiles(L"C:\\a\\b.txt\0"), (std::vector<std::string>{"C:\\a\\b.txt"}));
    EXPECT_EQ(SplitPickedFiles(L"C:\\\0x.txt\0y.txt\0"),
              (std::vector<std::string>{"C:\\x.txt", "C:\\y.txt"}));
    EXPECT_TRUE(SplitPickedFiles(L"").empty());
}
