// The exact message text WriteMessage produces: headers, text part, attachment parts, the
// leading-dot rule, cancelling part-way and files that cannot be read.
#include "core/mail/message.h"

#include "core/mail/recording_output.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvel {
namespace {

using test::RecordingOutput;
using test::TempFolder;
using namespace std::string_literals;

const std::string Head = "To: Ann Lee <ann@example.com>\r\n"
                         "Reply-To: me@example.org\r\n"
                         "From: me@example.org\r\n"
                         "X-Mailer: Tarvel Pro 1.5\r\n"
                         "Subject: Hello\r\n";
const std::string TextPart = "Content-Type: text/plain; charset=\"us-ascii\"\r\n\r\n";
const std::string MultipartHead =
    "Mime-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"=====================_MERLANTOSK_==_\"\r\n"
    "X-Attachments: ;\r\n\r\n"
    "--=====================_MERLANTOSK_==_\r\n";
const std::string Closing = "--=====================_MERLANTOSK_==_--\r\n\r\n";

std::string PartHead(const std::string& name) {
    return "\r\n--=====================_MERLANTOSK_==_\r\n"
           "Content-Type: application/octet-stream; name=\"" +
           name +
           "\";\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "Content-Disposition: attachment; filename=\"" +
           name + "\"\r\n\r\n";
}

class WriteMessageTest : public ::testing::Test {
protected:
    WriteMessageTest() {
        message.ToHeader = "Ann Lee <ann@example.com>";
        message.Sender = "me@example.org";
        message.Subject = "Hello";
        message.Recipients = {"ann@example.com"};
    }

    // Writes the message and expects it to be written whole.
    std::string Write() {
        WriteFailure failure;
        const bool written = WriteMessage(message, output, aborted, &failure);
        EXPECT_TRUE(written) << failure.path << ": " << failure.reason;
        return output.bytes;
    }

    void Put(const std::string& name, std::string_view bytes) {
        ASSERT_TRUE(TempFolder::PutFile(name, bytes)) << name;
    }

    TempFolder folder;
    MailMessage message;
    RecordingOutput output;
    std::atomic<bool> aborted{false};
};

TEST_F(WriteMessageTest, PlainMessageHasSixHeaderLinesThenTheBody) {
    message.Body = "Hi there\r\n";
    EXPECT_EQ(Write(), Head + TextPart + "Hi there\r\n\r\n");
    EXPECT_EQ(output.lines, 6);
    EXPECT_EQ(output.blocks, 1);
}

TEST_F(WriteMessageTest, EmptySubjectKeepsTheBlankAndEmptyBodyWritesNothing) {
    message.Subject = "";
    message.ToHeader = " <a@x;b@y>";
    EXPECT_EQ(Write(), "To:  <a@x;b@y>\r\nReply-To: me@example.org\r\nFrom: me@example.org\r\n"
                       "X-Mailer: Tarvel Pro 1.5\r\nSubject: \r\n" +
                           TextPart);
    EXPECT_EQ(output.blocks, 0);
}

TEST_F(WriteMessageTest, OneAttachment) {
    Put("a.txt", "abc");
    message.Body = "See the file.\r\n";
    message.Attachments = {"a.txt"};
    EXPECT_EQ(Write(), Head + MultipartHead + TextPart + "See the file.\r\n\r\n" + PartHead("a.txt") +
                           "YWJj\r\n"
                           "\r\n" +
                           Closing);
}

TEST_F(WriteMessageTest, TwoAttachmentsInOrderWithXAttachmentsText) {
    Put("man.bin", "Man");
    Put("empty.bin", "");
    message.XAttachments = "two files";
    message.Attachments = {"man.bin", "empty.bin"};
    const std::string head = Head + MultipartHead;
    std::string expected = head;
    expected.replace(expected.find("X-Attachments: ;"), 16, "X-Attachments: two files;");
    expected += TextPart + PartHead("man.bin") + "TWFu\r\n\r\n" + PartHead("empty.bin") + "\r\n" + Closing;
    EXPECT_EQ(Write(), expected);
}

TEST_F(WriteMessageTest, FilesOf0And57And58BytesEndWithOneEmptyLine) {
    std::string bytes58;
    for (int i = 0; i < 58; ++i)
        bytes58 += static_cast<char>(i);
    Put("zero.bin", "");
    Put("b57.bin", std::string_view(bytes58).substr(0, 57));
    Put("b58.bin", bytes58);
    message.Attachments = {"zero.bin", "b57.bin", "b58.bin"};
    const std::string line76 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4";
    EXPECT_EQ(Write(), Head + MultipartHead + TextPart +                     //
                           PartHead("zero.bin") + "\r\n" +                   //
                           PartHead("b57.bin") + line76 + "\r\n\r\n" +       //
                           PartHead("b58.bin") + line76 + "\r\nOQ==\r\n\r\n" //
                           + Closing);
}

TEST_F(WriteMessageTest, AttachmentBytesAreReadUnchangedByTextMode) {
    Put("crlf.bin", std::string_view("\r\n\x1a\r\n", 5));
    message.Attachments = {"crlf.bin"};
    EXPECT_EQ(Write(), Head + MultipartHead + TextPart + PartHead("crlf.bin") + "DQoaDQo=\r\n\r\n" + Closing);
}

TEST_F(WriteMessageTest, BodyLinesBeginningWithADotGetOneMore) {
    message.Body = ".\r\n.hidden\r\nend.\r\nmid.dle\r\n\r\n.\r\n";
    EXPECT_EQ(Write(), Head + TextPart + "..\r\n..hidden\r\nend.\r\nmid.dle\r\n\r\n..\r\n\r\n");
}

// A lone CR inside a line is a line end too: no bare CR may reach the wire.
TEST_F(WriteMessageTest, BodyFileLinesComeFirstWithCrLfWhateverTheirLineEnds) {
    Put("body.txt", "one\r\ntwo\n.\n.x\n\ny.\r\na\r.b\0c\nlast"s);
    message.BodyFile = "body.txt";
    message.Body = "typed\r\n";
    EXPECT_EQ(Write(), Head + TextPart + "one\r\ntwo\r\n..\r\n..x\r\n\r\ny.\r\n" + "a\r\n..b\0c\r\n"s +
                           "last\r\ntyped\r\n\r\n");
    EXPECT_EQ(output.lines, 6 + 8);
}

TEST_F(WriteMessageTest, EmptyBodyFileAddsNoLine) {
    Put("body.txt", "");
    message.BodyFile = "body.txt";
    EXPECT_EQ(Write(), Head + TextPart);
}

TEST_F(WriteMessageTest, AttachmentNameIsCutAtBackslashAndColonButNotSlash) {
    // On Windows these are a subfolder and drive-relative paths; elsewhere "\" and ":" are
    // ordinary characters of a file name. Either way the files exist and only the name rule counts.
    Put("sub\\one.bin", "1");
    Put("C:two.bin", "2");
    Put("C:sub/three.bin", "3");
    message.Attachments = {"sub\\one.bin", "C:two.bin", "C:sub/three.bin"};
    EXPECT_EQ(Write(), Head + MultipartHead + TextPart + PartHead("one.bin") + "MQ==\r\n\r\n" +
                           PartHead("two.bin") + "Mg==\r\n\r\n" + PartHead("sub/three.bin") + "Mw==\r\n\r\n" +
                           Closing);
}

TEST(AttachmentFileName, FollowsTheLastBackslashOrColonAndHoldsAtMost255Characters) {
    EXPECT_EQ(AttachmentFileName("C:\\Mail\\Files\\report.doc"), "report.doc");
    EXPECT_EQ(AttachmentFileName("C:report.doc"), "report.doc");
    EXPECT_EQ(AttachmentFileName("C:/mail/files/report.doc"), "/mail/files/report.doc");
    EXPECT_EQ(AttachmentFileName("\\\\server\\share:x\\y:z.txt"), "z.txt");
    EXPECT_EQ(AttachmentFileName("report.doc"), "report.doc");
    EXPECT_EQ(AttachmentFileName("C:\\Mail\\"), "");
    const std::string longName(300, 'n');
    EXPECT_EQ(AttachmentFileName("C:\\" + longName), longName.substr(0, 255));
    EXPECT_EQ(AttachmentFileName(longName + ".doc"), longName.substr(0, 255));
    // Characters, not bytes: a name in Chinese keeps 255 whole characters.
    std::string tokyo;
    for (int i = 0; i < 300; ++i)
        tokyo += "\xE6\x9D\xB1";
    EXPECT_EQ(AttachmentFileName("C:\\" + tokyo), tokyo.substr(0, 255 * 3));
}

// The cancel arrives from another thread while a piece is on its way; here the output raises it.
TEST_F(WriteMessageTest, AbortDuringAnAttachmentStopsAfterTheBlockInHand) {
    Put("first.bin", std::string(200, 'x'));
    Put("second.bin", "abc");
    message.Attachments = {"first.bin", "second.bin"};
    output.afterPiece = [&](std::string_view, bool isBlock) {
        if (isBlock && output.blocks == 2) aborted = true;
    };
    std::string xs; // 57 times "x"
    for (int i = 0; i < 19; ++i)
        xs += "eHh4";
    EXPECT_EQ(Write(), Head + MultipartHead + TextPart + PartHead("first.bin") + xs + "\r\n" + xs + "\r\n");
    EXPECT_EQ(output.blocks, 2);
}

TEST_F(WriteMessageTest, AbortOnTheLastBlockSkipsTheClosingDelimiter) {
    Put("a.bin", "abc");
    message.Attachments = {"a.bin"};
    output.afterPiece = [&](std::string_view piece, bool isBlock) {
        if (isBlock && piece.empty()) aborted = true;
    };
    EXPECT_EQ(Write(), Head + MultipartHead + TextPart + PartHead("a.bin") + "YWJj\r\n\r\n");
}

TEST_F(WriteMessageTest, AbortDuringTheBodyFileStopsBeforeItsNextLine) {
    Put("body.txt", "one\ntwo\nthree\n");
    Put("a.bin", "abc");
    message.BodyFile = "body.txt";
    message.Body = "typed\r\n";
    message.Attachments = {"a.bin"};
    output.afterPiece = [&](std::string_view piece, bool) {
        if (piece == "one\r\n") aborted = true;
    };
    EXPECT_EQ(Write(), Head + MultipartHead + TextPart + "one\r\n");
}

TEST_F(WriteMessageTest, MissingAttachmentFailsNamingItAndWritesNothingMore) {
    Put("a.bin", "abc");
    message.Attachments = {"a.bin", "missing.bin", "a.bin"};
    WriteFailure failure;
    EXPECT_FALSE(WriteMessage(message, output, aborted, &failure));
    EXPECT_EQ(failure.path, "missing.bin");
    EXPECT_EQ(failure.reason.rfind("cannot open: ", 0), 0u) << failure.reason;
    EXPECT_GT(failure.reason.size(), 13u) << "the C library's text is missing";
    EXPECT_EQ(output.bytes, Head + MultipartHead + TextPart + PartHead("a.bin") + "YWJj\r\n\r\n");
}

TEST_F(WriteMessageTest, MissingBodyFileFailsBeforeTheBody) {
    message.BodyFile = "nowhere.txt";
    message.Body = "typed\r\n";
    WriteFailure failure;
    EXPECT_FALSE(WriteMessage(message, output, aborted, &failure));
    EXPECT_EQ(failure.path, "nowhere.txt");
    EXPECT_EQ(failure.reason.rfind("cannot open", 0), 0u) << failure.reason;
    EXPECT_EQ(output.bytes, Head + TextPart);
}

TEST_F(WriteMessageTest, FolderAsAttachmentIsRefusedBeforeItsPartHeader) {
    std::filesystem::create_directory("folder");
    message.Attachments = {"folder"};
    WriteFailure failure;
    EXPECT_FALSE(WriteMessage(message, output, aborted, &failure));
    EXPECT_EQ(failure.path, "folder");
    EXPECT_EQ(failure.reason.rfind("cannot open", 0), 0u) << failure.reason;
    EXPECT_EQ(output.bytes, Head + MultipartHead + TextPart);
}

TEST_F(WriteMessageTest, FailureWithoutAFailureRecordStillReturnsFalse) {
    message.Attachments = {"missing.bin"};
    EXPECT_FALSE(WriteMessage(message, output, aborted));
}

#ifdef _WIN32
constexpr const char* UnreadableFile = "Z:\\proc\\self\\mem";
#else
constexpr const char* UnreadableFile = "/proc/self/mem";
#endif

// The process's own memory opens as a regular file but reading at offset 0 fails.
TEST_F(WriteMessageTest, ReadErrorInAnAttachmentFailsNamingIt) {
    if (FileSizeOf(UnreadableFile) != 0 || !OpenBytes(UnreadableFile)) GTEST_SKIP() << "no /proc here";
    Put("a.bin", "abc");
    message.Attachments = {"a.bin", UnreadableFile};
    WriteFailure failure;
    EXPECT_FALSE(WriteMessage(message, output, aborted, &failure));
    EXPECT_EQ(failure.path, UnreadableFile);
    EXPECT_EQ(failure.reason.rfind("read error", 0), 0u) << failure.reason;
    EXPECT_EQ(output.bytes, Head + MultipartHead + TextPart + PartHead("a.bin") + "YWJj\r\n\r\n" +
                                PartHead(AttachmentFileName(UnreadableFile)));
}

TEST_F(WriteMessageTest, ReadErrorInTheBodyFileFailsNamingIt) {
    if (FileSizeOf(UnreadableFile) != 0 || !OpenBytes(UnreadableFile)) GTEST_SKIP() << "no /proc here";
    message.BodyFile = UnreadableFile;
    message.Body = "typed\r\n";
    WriteFailure failure;
    EXPECT_FALSE(WriteMessage(message, output, aborted, &failure));
    EXPECT_EQ(failure.path, UnreadableFile);
    EXPECT_EQ(failure.reason.rfind("read error", 0), 0u) << failure.reason;
    EXPECT_EQ(output.bytes, Head + TextPart);
}

} // namespace
} // namespace tarvel
