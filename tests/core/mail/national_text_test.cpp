// National text and hostile text in a composed message: quoted-printable lines, encoded words, file
// names, folding of long header lines, the text part that imitates the MIME boundary, bare line ends,
// and, read back by Python's email package, the text exactly as typed in any script or as a file in the
// code page holds it.
#include "core/mail/header_encoding.h"
#include "core/mail/message.h"
#include "core/mail/quoted_printable.h"
#include "core/text/utf8.h"

#include "core/mail/recording_output.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace tarvel {
namespace {

using test::RecordingOutput;
using test::TempFolder;
using namespace std::string_literals;

const std::string Boundary(MailBoundary);

// The message text as the server keeps it: the writer's pieces without the leading-dot rule.
class PlainOutput : public MessageOutput {
public:
    std::string bytes;
    void WriteLine(std::string_view piece) override { bytes.append(piece); }
    void WriteBlock(std::string_view text) override {
        bytes.append(text);
        bytes += CRLF;
    }
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// No CR or LF but in CR LF pairs, and no line longer than `limit` up to the end of the header.
void ExpectWireShape(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at " << i;
        } else if (text[i] == '\n') {
            EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
        }
    }
    for (const std::string& line : Lines(text))
        EXPECT_LE(line.size(), MaxLineOctets) << line.substr(0, 40);
}

class NationalText : public ::testing::Test {
protected:
    NationalText() {
        message.ToHeader = "J\xC3\xBCrgen <j@example.com>";
        message.Sender = "me@example.org";
        message.Subject = "Gr\xC3\xBC\xC3\x9F"
                          "e aus K\xC3\xB6ln";
        message.Recipients = {"j@example.com"};
    }
    std::string Write() {
        WriteFailure failure;
        EXPECT_TRUE(WriteMessage(message, output, aborted, &failure))
            << failure.path << ": " << failure.reason;
        return output.bytes;
    }

    TempFolder folder;
    MailMessage message;
    RecordingOutput output;
    std::atomic<bool> aborted{false};
};

} // namespace

TEST(QuotedPrintable, EncodesEachLineExactly) {
    const struct {
        std::string text;
        std::string encoded;
    } cases[] = {
        {"", ""},
        {"plain text\r\n", "plain text\r\n"},
        {"a=b\tc \r\n\r\nend\t", "a=3Db\tc=20\r\n\r\nend=09\r\n"},
        {"Sch\xF6ne Gr\xFC\xDF"
         "e\r\n",
         "Sch=F6ne Gr=FC=DFe\r\n"},
        {"--" + Boundary + "\r\n-- \r\n-x",
         "=2D-=3D=3D=3D=3D=3D=3D=3D=3D=3D=3D=3D=3D=3D=3D=3D=3D=3D=3D=3D=3D=3D_MERLANT=\r\n"
         "OSK_=3D=3D_\r\n=2D-=20\r\n-x\r\n"},
        {".\r\n", ".\r\n"},
        // 76 characters fit one line; the 77th needs a soft break after 75.
        {std::string(76, 'x'), std::string(76, 'x') + "\r\n"},
        {std::string(77, 'x'), std::string(75, 'x') + "=\r\nxx\r\n"},
        // An escape is never cut by a soft break.
        {std::string(74, 'x') + "\xE9" + "y", std::string(74, 'x') + "=\r\n=E9y\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(EncodeQuotedPrintable(c.text), c.encoded);
        for (const std::string& line : Lines(c.encoded))
            EXPECT_LE(line.size(), MaxQuotedPrintableLine);
    }
}

// Each word is a whole number of characters: a reader decodes every word on its own.
TEST(HeaderEncoding, EncodedWordsNeverCutACharacter) {
    std::string text(40, 'a');
    for (int i = 0; i < 40; ++i)
        text += "\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"; // u-umlaut, euro sign, an emoji
    const std::vector<std::string> words = EncodedWords(text, HeaderCharset);
    ASSERT_GT(words.size(), 1u);
    std::string decoded;
    for (const std::string& word : words) {
        EXPECT_LE(word.size(), 75u) << word;
        const std::string prefix = "=?UTF-8?B?";
        ASSERT_EQ(word.substr(0, prefix.size()), prefix);
        ASSERT_EQ(word.substr(word.size() - 2), "?=");
        // Base64 decoded by hand, so that the test shares nothing with the encoder.
        const std::string b64 = word.substr(prefix.size(), word.size() - prefix.size() - 2);
        const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string bytes;
        unsigned bits = 0, count = 0;
        for (char ch : b64) {
            if (ch == '=') break;
            bits = bits << 6 | static_cast<unsigned>(alphabet.find(ch));
            if ((count += 6) >= 8) bytes += static_cast<char>(bits >> (count -= 8) & 0xFF);
        }
        EXPECT_NE(static_cast<unsigned char>(bytes.front()) & 0xC0, 0x80u) << "starts inside a character";
        EXPECT_TRUE(IsValidUtf8(bytes)) << "ends inside a character";
        decoded += bytes;
    }
    EXPECT_EQ(decoded, text);
}

TEST(HeaderEncoding, ExtendedParameterPercentEncodesAllButAttributeCharacters) {
    EXPECT_EQ(ExtendedParameterValue("Gr\xC3\xBC\xC3\x9F"
                                     "e (1).txt"),
              "UTF-8''Gr%C3%BC%C3%9Fe%20%281%29.txt");
}

TEST_F(NationalText, TextBeyondAsciiGoesAsUtf8EncodedWordsAndQuotedPrintable) {
    const std::string utf8Body = "Sch\xC3\xB6ne Gr\xC3\xBC\xC3\x9F"
                                 "e, caf\xC3\xA9 cr\xC3\xA8me\r\n.\r\n";
    const std::string wire = "To: =?UTF-8?B?SsO8cmdlbg==?= <j@example.com>\r\n"
                             "Reply-To: me@example.org\r\n"
                             "From: me@example.org\r\n"
                             "X-Mailer: Tarvel Pro 1.5\r\n"
                             "Subject: =?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?=\r\n"
                             "Mime-Version: 1.0\r\n"
                             "Content-Type: text/plain; charset=\"utf-8\"\r\n"
                             "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                             "Sch=C3=B6ne Gr=C3=BC=C3=9Fe, caf=C3=A9 cr=C3=A8me\r\n..\r\n\r\n";
    const std::string quotedBody = "Sch=C3=B6ne Gr=C3=BC=C3=9Fe, caf=C3=A9 cr=C3=A8me\r\n.\r\n";
    // The same text from the window, from a body file in UTF-8 (with and without Notepad's byte-order
    // mark) and from one in the code page: one message on the wire.
    const struct {
        const char* why;
        std::string body, file;
    } cases[] = {
        {"typed", utf8Body, ""},
        {"UTF-8 file", "", utf8Body},
        {"UTF-8 file with its mark", "", "\xEF\xBB\xBF" + utf8Body},
        {"code page file", "",
         "Sch\xF6ne Gr\xFC\xDF"
         "e, caf\xE9 cr\xE8me\r\n.\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        output.bytes.clear();
        message.Body = c.body;
        message.BodyFile.clear();
        if (!c.file.empty()) {
            ASSERT_TRUE(TempFolder::PutFile("body.txt", c.file));
            message.BodyFile = "body.txt";
        }
        // A body file's last line end is its own; typed text gets one more from the writer.
        EXPECT_EQ(Write(), c.file.empty() ? wire : wire.substr(0, wire.size() - 2));
        // The estimate counts the body as it goes out: quoted-printable, without the last line end.
        EXPECT_EQ(EstimateMessageSize(message), static_cast<std::int64_t>(quotedBody.size()));
    }
}

TEST_F(NationalText, AttachmentNameGetsAnExtendedParameterBesideAnEncodedName) {
    ASSERT_TRUE(TempFolder::PutFile("Gr\xC3\xBC\xC3\x9F"
                                    "e.txt",
                                    "abc"));
    message.Subject = "Files";
    message.ToHeader = " <j@example.com>";
    message.Body = "See attached.\r\n";
    message.Attachments = {"Gr\xC3\xBC\xC3\x9F"
                           "e.txt"};
    const std::string text = Write();
    // The text part stays plain: only the file name holds national text.
    EXPECT_NE(text.find("Subject: Files\r\nMime-Version: 1.0\r\n"), std::string::npos);
    EXPECT_NE(text.find("Content-Type: text/plain; charset=\"us-ascii\"\r\n\r\nSee attached.\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("Content-Type: application/octet-stream; name=\"=?UTF-8?B?R3LDvMOfZS50eHQ=?=\";\r\n"
                        "Content-Transfer-Encoding: base64\r\n"
                        "Content-Disposition: attachment; filename*=UTF-8''Gr%C3%BC%C3%9Fe.txt\r\n\r\n"
                        "YWJj\r\n\r\n"),
              std::string::npos)
        << text;
}

// A body line that imitates the boundary would end the text part at the reader and start a part of
// the sender's choosing: the part goes quoted-printable, where no line can begin with the boundary.
TEST_F(NationalText, BodyLineImitatingTheBoundaryMakesTheTextPartQuotedPrintable) {
    ASSERT_TRUE(TempFolder::PutFile("a.bin", "x"));
    message.Subject = "Hello";
    message.ToHeader = "Ann <a@x>";
    message.Attachments = {"a.bin"};
    message.Body = "Hi\r\n--" + Boundary + "\r\nContent-Type: text/html\r\n\r\n<b>evil</b>\r\n";
    const std::string text = Write();
    EXPECT_NE(text.find("Content-Type: text/plain; charset=\"us-ascii\"\r\n"
                        "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                        "Hi\r\n=2D-=3D=3D=3D"),
              std::string::npos)
        << text;
    std::size_t delimiters = 0;
    for (const std::string& line : Lines(text))
        if (line.starts_with("--" + Boundary)) ++delimiters;
    EXPECT_EQ(delimiters, 3u); // the text part, the attachment, the closing one
    ExpectWireShape(text);

    // A boundary that only appears inside a line changes nothing.
    output.bytes.clear();
    message.Body = "Hi --" + Boundary + "\r\n";
    EXPECT_NE(Write().find("charset=\"us-ascii\"\r\n\r\nHi --" + Boundary + "\r\n\r\n"), std::string::npos);
}

// Lone CRs and LFs become CR LF before the leading-dot rule, so "\n.\r\n" cannot end the data early.
TEST_F(NationalText, BareLineEndsInTheBodyGoOutAsCrLf) {
    message.Subject = "Hello";
    message.ToHeader = "Ann <a@x>";
    const struct {
        std::string body;
        std::string wire;
    } cases[] = {
        {"one\n.\r\ntwo", "one\r\n..\r\ntwo\r\n"},
        {"a\r.b\r\n", "a\r\n..b\r\n\r\n"},
        {"x\n\n.", "x\r\n\r\n..\r\n"},
        {"end\r", "end\r\n\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        output.bytes.clear();
        message.Body = c.body;
        const std::string text = Write();
        const std::string head = "charset=\"us-ascii\"\r\n\r\n";
        ASSERT_NE(text.find(head), std::string::npos);
        EXPECT_EQ(text.substr(text.find(head) + head.size()), c.wire);
        ExpectWireShape(text);
    }
}

// RFC 5322 allows 998 octets a line: long subjects fold at blanks, or become encoded words when there
// is none; many recipients fold between addresses. Unfolding gives the values back.
TEST_F(NationalText, LongHeaderLinesAreFolded) {
    std::string words;
    while (words.size() < 1000)
        words += "word" + std::to_string(words.size()) + " ";
    words.pop_back();
    std::string recipients;
    for (int i = 0; i < 60; ++i)
        recipients += (i ? ";"s : ""s) + "recipient" + std::to_string(i) + "@example.com";
    const struct {
        std::string subject;
        std::string to;
        bool encoded;
    } cases[] = {
        {words, "Ann <a@x>", false},
        {std::string(1000, 's'), "Ann <a@x>", true},
        {"Short", "Team <" + recipients + ">", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.subject.substr(0, 20) + " / " + c.to.substr(0, 20));
        output.bytes.clear();
        message.Subject = c.subject;
        message.ToHeader = c.to;
        const std::string text = Write();
        ExpectWireShape(text);
        const std::string header = text.substr(0, text.find("\r\n\r\n") + 2);
        std::string unfolded;
        for (const std::string& line : Lines(header)) {
            if (line.starts_with(" ")) {
                unfolded += line;
            } else {
                unfolded += (unfolded.empty() ? "" : "\n") + line;
            }
        }
        if (c.encoded) {
            EXPECT_NE(unfolded.find("Subject: =?us-ascii?B?"), std::string::npos);
        } else {
            EXPECT_NE(unfolded.find("\nSubject: " + c.subject + "\n"), std::string::npos);
        }
        // Between addresses a fold adds a blank, which readers drop with the line end.
        std::string to = unfolded.substr(0, unfolded.find('\n'));
        std::erase(to, ' ');
        std::string wanted = "To:" + c.to;
        std::erase(wanted, ' ');
        EXPECT_EQ(to, wanted);
    }
}

#ifndef _WIN32
// What a reader shows: Python's email package reads the message and compares with the typed fields.
// Text in any script is typed as UTF-8; a body file and fields in the code page come from older files.
TEST_F(NationalText, ReaderGetsTheTypedTextBackInAnyScript) {
    std::string russian;
    for (int i = 0; i < 20; ++i)
        russian += "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, "; // "Privet, " in Cyrillic
    const struct {
        const char* codec;
        std::string subject, name, body, bodyFile, file;
    } cases[] = {
        {"utf-8",
         "\xCE\x93\xCE\xB5\xCE\xB9\xCE\xAC \xCF\x83\xCE\xBF\xCF\x85 "
         "\xCE\xBA\xCF\x8C\xCF\x83\xCE\xBC\xCE\xB5 " +
             std::string(80, 'x'),                         // Greek
         "\xC5\x81ukasz \xC5\xBB\xC3\xB3\xC5\x82\xC4\x87", // Polish
         russian + "\r\n\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C\xE4\xB8\x96\xE7\x95\x8C\r\n.\r\n--" + Boundary +
             "\r\n",
         "\xEF\xBB\xBF\xF0\x9F\x98\x80 first\r\n", "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82.txt"},
        {"cp1252",
         "Gr\xFC\xDF"
         "e aus K\xF6ln \x80",
         "J\xFCrgen M\xFCller", "caf\xE9\r\n",
         "Sch\xF6ne Gr\xFC\xDF"
         "e\n" +
             std::string(200, '\xE9') + " \n",
         "R\xE9sum\xE9.txt"},
    };
    if (std::system("/usr/bin/python3 -c 'import email' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    const std::string script = std::string(TARVEL_SOURCE_DIR) + "/tests/core/mail/decode_message.py";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codec);
        ASSERT_TRUE(TempFolder::PutFile(c.file, "attached bytes"));
        ASSERT_TRUE(TempFolder::PutFile("body.txt", c.bodyFile));
        MailMessage m = message;
        m.Subject = c.subject;
        m.ToHeader = c.name + " <j@example.com>";
        m.BodyFile = "body.txt";
        m.Body = c.body;
        m.Attachments = {c.file};
        PlainOutput plain;
        ASSERT_TRUE(WriteMessage(m, plain, aborted));
        ExpectWireShape(plain.bytes);
        EXPECT_TRUE(IsAscii(plain.bytes)) << "every byte beyond US-ASCII is encoded";
        {
            std::ofstream("message.eml", std::ios::binary) << plain.bytes;
            std::ofstream typed("typed.bin", std::ios::binary);
            std::string body = c.bodyFile.starts_with("\xEF\xBB\xBF") ? c.bodyFile.substr(3) : c.bodyFile;
            for (const std::string& field : {std::string(c.codec), c.subject, c.name, body + c.body, c.file})
                typed << field << '\0';
        }
        const std::string command = "/usr/bin/python3 " + script + " message.eml typed.bin";
        EXPECT_EQ(std::system(command.c_str()), 0) << plain.bytes;
    }
}
#endif

} // namespace tarvel
