// The pieces WriteMessage is made of: splitting the address and attachment fields, base64 lines,
// the leading-dot rule, file sizes and the size estimate.
#include "core/mail/dot_stuffing.h"
#include "core/mail/message.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvel {
namespace {

using Strings = std::vector<std::string>;

Strings Split(std::string_view text) {
    Strings list{"left over"};
    SplitToList(list, text, ';');
    return list;
}

TEST(SplitToList, KeepsNonEmptyPiecesInOrderUntrimmed) {
    EXPECT_EQ(Split("ann@example.com;bob@example.com"), (Strings{"ann@example.com", "bob@example.com"}));
    EXPECT_EQ(Split("ann@example.com; bob@example.com"), (Strings{"ann@example.com", " bob@example.com"}));
    EXPECT_EQ(Split("  ann@example.com "), (Strings{"  ann@example.com "}));
    EXPECT_EQ(Split("a;;b"), (Strings{"a", "b"}));
    EXPECT_EQ(Split(";a;"), (Strings{"a"}));
    EXPECT_EQ(Split("a;"), (Strings{"a"}));
    EXPECT_EQ(Split(";"), Strings{});
    EXPECT_EQ(Split(";;;"), Strings{});
    EXPECT_EQ(Split(""), Strings{});
    EXPECT_EQ(Split(" "), (Strings{" "}));
}

TEST(SplitToList, UsesTheGivenSeparator) {
    Strings list;
    SplitToList(list, "C:\\a.txt,b;c", ',');
    EXPECT_EQ(list, (Strings{"C:\\a.txt", "b;c"}));
}

TEST(SplitToList, CutsEachRemainderAndTheLastPieceTo100000Characters) {
    const std::string longTail(100005, 'x');
    EXPECT_EQ(Split("a;" + longTail), (Strings{"a", longTail.substr(0, 100000)}));
    EXPECT_EQ(Split(longTail), (Strings{longTail.substr(0, 100000)}));
    // The cut remainder ends at the ";" so what followed it is gone.
    EXPECT_EQ(Split("a;" + std::string(99999, 'y') + ";zz"), (Strings{"a", std::string(99999, 'y')}));
}

std::string Base64(std::string_view bytes) {
    return EncodeBase64Line(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

TEST(EncodeBase64Line, PadsTheLastGroupOfOneOrTwoBytes) {
    EXPECT_EQ(EncodeBase64Line(nullptr, 0), "");
    EXPECT_EQ(Base64("f"), "Zg==");
    EXPECT_EQ(Base64("fo"), "Zm8=");
    EXPECT_EQ(Base64("foo"), "Zm9v");
    EXPECT_EQ(Base64("foob"), "Zm9vYg==");
    EXPECT_EQ(Base64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Base64("\xfb\xef\xbe\xff\xfe\xfd"), "++++//79");
    EXPECT_EQ(Base64(std::string_view("\0\0", 2)), "AAA=");
}

TEST(EncodeBase64Line, TakesAtMost57BytesFor76Characters) {
    std::string bytes;
    for (int i = 0; i < 60; ++i)
        bytes += static_cast<char>(i);
    const std::string line57 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4";
    EXPECT_EQ(Base64(std::string_view(bytes).substr(0, 57)), line57);
    EXPECT_EQ(Base64(bytes), line57);
    EXPECT_EQ(Base64(std::string_view(bytes).substr(0, 56)), line57.substr(0, 72) + "Njc=");
}

std::string Stuffed(std::string_view lines, std::string out = "") {
    AppendDotStuffed(out, lines);
    return out;
}

TEST(AppendDotStuffed, DoublesTheDotThatBeginsALine) {
    EXPECT_EQ(Stuffed(""), "");
    EXPECT_EQ(Stuffed(".\r\n"), "..\r\n");
    EXPECT_EQ(Stuffed("..\r\n"), "...\r\n");
    EXPECT_EQ(Stuffed(".hidden\r\nend.\r\nmid.dle\r\n"), "..hidden\r\nend.\r\nmid.dle\r\n");
    // An empty line and a "." would otherwise end the message early.
    EXPECT_EQ(Stuffed("\r\n.\r\n"), "\r\n..\r\n");
    EXPECT_EQ(Stuffed("x\r\n.y"), "x\r\n..y");
    EXPECT_EQ(Stuffed("."), "..");
}

TEST(AppendDotStuffed, OnlyCrLfEndsALine) {
    EXPECT_EQ(Stuffed("a\n.b\r\n"), "a\n.b\r\n");
    EXPECT_EQ(Stuffed("a\r.b\r\n"), "a\r.b\r\n");
    EXPECT_EQ(Stuffed("a\r\r\n.b\r\n"), "a\r\r\n..b\r\n");
}

TEST(AppendDotStuffed, AppendsAndTreatsItsStartAsALineStart) {
    EXPECT_EQ(Stuffed(".x\r\n", "To: a\r\n"), "To: a\r\n..x\r\n");
    EXPECT_EQ(Stuffed(".x\r\n", "part"), "part..x\r\n");
}

class FileSizeTest : public ::testing::Test {
protected:
    test::TempFolder folder;
};

TEST_F(FileSizeTest, CountsBytesAndGivesZeroForWhatCannotBeSized) {
    ASSERT_TRUE(test::TempFolder::PutFile("crlf.txt", "a\r\nb\x1a\r\nc"));
    ASSERT_TRUE(test::TempFolder::PutFile("empty.txt", ""));
    std::filesystem::create_directory("folder");
    EXPECT_EQ(FileSizeOf("crlf.txt"), 8);
    EXPECT_EQ(FileSizeOf("empty.txt"), 0);
    EXPECT_EQ(FileSizeOf("missing.txt"), 0);
    EXPECT_EQ(FileSizeOf("folder"), 0);
    EXPECT_EQ(FileSizeOf(""), 0);
}

TEST_F(FileSizeTest, EstimateIsBodyPlusFourThirdsOfEachAttachment) {
    ASSERT_TRUE(test::TempFolder::PutFile("k.bin", std::string(1000, 'k')));
    MailMessage message;
    message.Body = "0123456789";
    message.Attachments = {"k.bin"};
    EXPECT_EQ(EstimateMessageSize(message), 10 + 1333);
}

TEST_F(FileSizeTest, EstimateTruncatesEachAttachmentAndCountsTheBodyFile) {
    ASSERT_TRUE(test::TempFolder::PutFile("one.bin", "1"));
    ASSERT_TRUE(test::TempFolder::PutFile("two.bin", "22"));
    ASSERT_TRUE(test::TempFolder::PutFile("body.txt", "line\nline\n"));
    MailMessage message;
    message.BodyFile = "body.txt";
    message.Attachments = {"one.bin", "two.bin", "missing.bin"};
    // 1*4/3 + 2*4/3 = 1 + 2; the summed sizes would give 4.
    EXPECT_EQ(EstimateMessageSize(message), 10 + 1 + 2);
    message.BodyFile = "missing.txt";
    EXPECT_EQ(EstimateMessageSize(message), 3);
}

} // namespace
} // namespace tarvel
