// National text and hostile text in a composed message: quoted-printable lines, encoded words, file
// names, folding of long header lines, the text part that imitates the MIME boundary, bare line ends,
// and, read back by Python's email package, the text exactly as typed in windows-1252 and utf-8.
#include "core/mail/header_encoding.h"
#include "core/mail/message.h"
#include "core/mail/quoted_printable.h"

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
        message.ToHeader = "J\xFCrgen <j@example.com>";
        message.Sender = "me@example.org";
        message.Subject = "Gr\xFC\xDF"
                          "e aus K\xF6ln";
        message.Recipients = {"j@example.com"};
        message.Charset = "windows-1252";
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

TEST(HeaderEncoding, CharsetsAreNamedAfterTheCodePage) {
    EXPECT_EQ(CharsetOfCodePage(1252), "windows-1252");
    EXPECT_EQ(CharsetOfCodePage(1250), "windows-1250");
    EXPECT_EQ(CharsetOfCodePage(65001), "utf-8");
    EXPECT_EQ(CharsetOfCodePage(932), "shift_jis");
    EXPECT_EQ(CharsetOfCodePage(4242), "unknown-8bit");
}

// Each word is a whole number of characters: a reader decodes every word on its own.
TEST(HeaderEncoding, EncodedWordsNeverCutACharacter) {
    const struct {
        std::string text;
        const char* charset;
        std::size_t characterBytes;
    } cases[] = {
        {std::string(40, 'a') +
             [] {
                 std::string s;
                 for (int i = 0; i < 60; ++i)
                     s += "\xC3\xBC\xE2\x82\xAC"; // u-umlaut, euro sign
                 return s;
             }(),
         "utf-8", 0},
        {[] {
             std::string s;
             for (int i = 0; i < 70; ++i)
                 s += "\x93\xFA"; // one double-byte character
             return "x" + s;
         }(),
         "shift_jis", 2},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> words = EncodedWords(c.text, c.charset);
        ASSERT_GT(words.size(), 1u);
        std::string decoded;
        for (const std::string& word : words) {
            EXPECT_LE(word.size(), 75u) << word;
            const std::string prefix = "=?"s + c.charset + "?B?";
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
            if (std::string(c.charset) == "utf-8") {
                EXPECT_NE(static_cast<unsigned char>(bytes.front()) & 0xC0, 0x80u)
                    << "starts inside a character";
            } else {
                std::size_t at = 0;
                while (at < bytes.size())
                    at += static_cast<unsigned char>(bytes[at]) >= 0x81 ? c.characterBytes : 1;
                EXPECT_EQ(at, bytes.size()) << "ends inside a character";
            }
            decoded += bytes;
        }
        EXPECT_EQ(decoded, c.text);
    }
}

TEST(HeaderEncoding, ExtendedParameterPercentEncodesAllButAttributeCharacters) {
    EXPECT_EQ(ExtendedParameterValue("Gr\xFC\xDF"
                                     "e (1).txt",
                                     "windows-1252"),
              "windows-1252''Gr%FC%DFe%20%281%29.txt");
}

TEST_F(NationalText, WindowsCodePageTextGoesAsEncodedWordsAndQuotedPrintable) {
    message.Body = "Sch\xF6ne Gr\xFC\xDF"
                   "e, caf\xE9 cr\xE8me\r\n.\r\n";
    EXPECT_EQ(Write(), "To: =?windows-1252?B?SvxyZ2Vu?= <j@example.com>\r\n"
                       "Reply-To: me@example.org\r\n"
                       "From: me@example.org\r\n"
                       "X-Mailer: Tarvel Pro 1.5\r\n"
                       "Subject: =?windows-1252?B?R3L832UgYXVzIEv2bG4=?=\r\n"
                       "Mime-Version: 1.0\r\n"
                       "Content-Type: text/plain; charset=\"windows-1252\"\r\n"
                       "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                       "Sch=F6ne Gr=FC=DFe, caf=E9 cr=E8me\r\n..\r\n\r\n");
    // The estimate counts the body as it goes out: quoted-printable, without the last line end.
    EXPECT_EQ(EstimateMessageSize(message),
              static_cast<std::int64_t>(std::string("Sch=F6ne Gr=FC=DFe, caf=E9 cr=E8me\r\n.\r\n").size()));
}

TEST_F(NationalText, AttachmentNameGetsAnExtendedParameterBesideAnEncodedName) {
    ASSERT_TRUE(TempFolder::PutFile("Gr\xFC\xDF"
                                    "e.txt",
                                    "abc"));
    message.Subject = "Files";
    message.ToHeader = " <j@example.com>";
    message.Body = "See attached.\r\n";
    message.Attachments = {"Gr\xFC\xDF"
                           "e.txt"};
    const std::string text = Write();
    // The text part stays plain: only the file name holds national text.
    EXPECT_NE(text.find("Subject: Files\r\nMime-Version: 1.0\r\n"), std::string::npos);
    EXPECT_NE(text.find("Content-Type: text/plain; charset=\"us-ascii\"\r\n\r\nSee attached.\r\n"),
              std::string::npos);
    EXPECT_NE(
        text.find("Content-Type: application/octet-stream; name=\"=?windows-1252?B?R3L832UudHh0?=\";\r\n"
                  "Content-Transfer-Encoding: base64\r\n"
                  "Content-Disposition: attachment; filename*=windows-1252''Gr%FC%DFe.txt\r\n\r\n"
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
TEST_F(NationalText, ReaderGetsTheTypedTextBackInWindows1252AndUtf8) {
    std::string accents;
    for (int i = 0; i < 30; ++i)
        accents += "\xC3\xA9";
    const struct {
        const char* charset;
        const char* codec;
        std::string subject, name, body, file;
    } cases[] = {
        {"windows-1252", "cp1252",
         "Gr\xFC\xDF"
         "e aus K\xF6ln \x80 " +
             std::string(120, 'x'),
         "J\xFCrgen M\xFCller",
         "Sch\xF6ne Gr\xFC\xDF"
         "e, caf\xE9 cr\xE8me\r\n.\r\n--" +
             Boundary + "\r\n" + std::string(200, '\xE9') + " \r\n",
         "R\xE9sum\xE9.txt"},
        {"utf-8", "utf-8",
         "Gr\xC3\xBC\xC3\x9F"
         "e aus K\xC3\xB6ln \xE2\x82\xAC " +
             accents,
         "J\xC3\xBCrgen",
         "Sch\xC3\xB6ne Gr\xC3\xBC\xC3\x9F"
         "e\r\n\xE2\x82\xAC 5\r\n",
         "\xC3\x9C"
         "bersicht.txt"},
    };
    if (std::system("/usr/bin/python3 -c 'import email' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    const std::string script = std::string(TARVEL_SOURCE_DIR) + "/tests/core/mail/decode_message.py";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.charset);
        ASSERT_TRUE(TempFolder::PutFile(c.file, "attached bytes"));
        MailMessage m = message;
        m.Charset = c.charset;
        m.Subject = c.subject;
        m.ToHeader = c.name + " <j@example.com>";
        m.Body = c.body;
        m.Attachments = {c.file};
        PlainOutput plain;
        ASSERT_TRUE(WriteMessage(m, plain, aborted));
        ExpectWireShape(plain.bytes);
        {
            std::ofstream("message.eml", std::ios::binary) << plain.bytes;
            std::ofstream typed("typed.bin", std::ios::binary);
            for (const std::string& field : {std::string(c.codec), c.subject, c.name, c.body, c.file})
                typed << field << '\0';
        }
        const std::string command = "/usr/bin/python3 " + script + " message.eml typed.bin";
        EXPECT_EQ(std::system(command.c_str()), 0) << plain.bytes;
    }
}
#endif

} // namespace tarvel
