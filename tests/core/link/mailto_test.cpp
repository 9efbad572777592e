// "mailto:" links from the command line: RFC 6068 vectors, the old "?Subject=" spelling, split arguments,
// and no line break from a link ever reaching an address or the subject.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "core/link/mailto.h"

using namespace tarvel;

namespace {

MailToFields Parse(std::string_view link) {
    return ParseMailToLink(link);
}

bool HasControl(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

// One field of what a link, or the program's arguments, gave.
struct Field {
    std::string MailToFields::*member;
    const char* name;
};
const Field Email{&MailToFields::email, "email"};
const Field Subject{&MailToFields::subject, "subject"};
const Field Body{&MailToFields::body, "body"};

struct LinkCase {
    std::string link;
    Field field;
    std::string expected;
};

void ExpectLinkFields(std::initializer_list<LinkCase> cases) {
    for (const LinkCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.link) + ", " + c.field.name);
        EXPECT_EQ(Parse(c.link).*c.field.member, c.expected);
    }
}

} // namespace

TEST(MailToMode, OnlyAnExactFirstSlashU) {
    const struct {
        std::vector<std::string> args;
        bool mailTo;
    } cases[] = {
        {{"/u"}, true},
        {{"/u", "mailto:a@x"}, true},
        {{}, false},
        {{"/U", "mailto:a@x"}, false},
        {{"mailto:a@x"}, false},
        {{"/u ", "mailto:a@x"}, false},
        {{"-u"}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsMailToMode(c.args), c.mailTo) << ::testing::PrintToString(c.args);
}

TEST(MailToLink, AddressesBeforeTheQuestionMark) {
    ExpectLinkFields({
        {"mailto:a+b@example.org", Email, "a+b@example.org"},
        {"mailto:a@x.org,b@y.org", Email, "a@x.org;b@y.org"},
        {"mailto:a@x.org,%20b@y.org", Email, "a@x.org;b@y.org"},
        {"mailto:a@x.org;b@y.org", Email, "a@x.org;b@y.org"},
        {"mailto:%22J%20Doe%22@x.org", Email, "\"J Doe\"@x.org"},
        {"MAILTO:a@x.org", Email, "a@x.org"},
        {"mailto:a@x.org?to=b@y.org,c@z.org", Email, "a@x.org;b@y.org;c@z.org"},
        {"mailto:?to=b@y.org", Email, "b@y.org"},
        {"mailto:a@x.org", Subject, ""},
        {"mailto:a@x.org", Body, ""},
    });
}

TEST(MailToLink, AQuotedAddressIsNeverSplit) {
    const std::string leftOut(LinkAddressLeftOutText);
    const struct {
        std::string_view link;
        std::string email;
        std::string notice;
    } cases[] = {
        {"mailto:%22a%3Bb%22@x.org", "", leftOut + "\"a;b\"@x.org"},
        {"mailto:\"a;b\"@x.org,c@y.org", "c@y.org", leftOut + "\"a;b\"@x.org"},
        {"mailto:c@y.org?to=%22a%3Bb%22@x.org,%22d;e%22@x.org", "c@y.org",
         leftOut + "\"a;b\"@x.org, \"d;e\"@x.org"},
        {"mailto:%22a%5C%22%3Bb%22@x.org", "", leftOut + "\"a\\\";b\"@x.org"},
        {"mailto:%22a%3Bb@x.org", "", leftOut + "\"a;b@x.org"}, // never closed
        {"mailto:%22a,b%22@x.org,c@y.org", "\"a,b\"@x.org;c@y.org", ""},
        {"mailto:%22J%20Doe%22@x.org;%20b@y.org", "\"J Doe\"@x.org;b@y.org", ""},
        {"\"a;b\"@x.org", "", leftOut + "\"a;b\"@x.org"}, // no scheme: taken as it stands
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.link));
        const MailToFields fields = Parse(c.link);
        EXPECT_EQ(fields.email, c.email);
        EXPECT_EQ(fields.notice, c.notice);
    }
}

TEST(MailToLink, SubjectFieldInAnySpelling) {
    ExpectLinkFields({
        {"mailto:a@x.org?subject=Hello%20World", Subject, "Hello World"},
        {"mailto:a@x.org?Subject=Hi", Email, "a@x.org"},
        {"mailto:a@x.org?Subject=Hi", Subject, "Hi"},
        {"mailto:a@x.org?SUBJECT=Hi", Subject, "Hi"},
        {"mailto:a@x.org?%73ubject=Hi", Subject, "Hi"},
        {"mailto:a@x.org?subject=1+1%3D2", Subject, "1+1=2"},
        {"mailto:a@x.org?subject=first&subject=second", Subject, "first"},
        {"mailto:a@x.org?subject=", Subject, ""},
    });
}

TEST(MailToLink, SubjectIsCutAtOneThousandCharacters) {
    const std::string link = "mailto:a@x.org?subject=" + std::string(1500, 'a') + "&body=b";
    const MailToFields fields = Parse(link);
    EXPECT_EQ(fields.subject, std::string(1000, 'a'));
    EXPECT_EQ(fields.body, "b");
    // The limit counts decoded characters, not escapes.
    std::string escaped = "mailto:a@x.org?subject=";
    for (int i = 0; i < 1200; ++i)
        escaped += "%41";
    EXPECT_EQ(Parse(escaped).subject, std::string(1000, 'A'));
    // ... and characters, not bytes: no character is cut in two.
    std::string accents;
    for (int i = 0; i < 1001; ++i)
        accents += "%C3%A9";
    std::string cut;
    for (int i = 0; i < 1000; ++i)
        cut += "\xC3\xA9";
    EXPECT_EQ(Parse("mailto:a@x.org?subject=" + accents).subject, cut);
}

TEST(MailToLink, BodyBecomesCrLfLines) {
    ExpectLinkFields({
        {"mailto:a@x.org?body=Line%201%0D%0ALine%202%0ALine%203%0D", Body, "Line 1\r\nLine 2\r\nLine 3\r\n"},
        {"mailto:a@x.org?BODY=tab%09kept%00nul%7Fdel", Body, "tab\tkept nul del"},
        {"mailto:a@x.org?body=%0D%0A%0D%0A.", Body, "\r\n\r\n."},
    });
}

TEST(MailToLink, NoLineBreakReachesAddressOrSubject) {
    const MailToFields fields =
        Parse("mailto:a@x.org%0D%0ARCPT%20TO:%3Cevil@y.org%3E?subject=Hi%0D%0ABcc:%20evil@y.org%09!");
    EXPECT_EQ(fields.email, "a@x.org  RCPT TO:<evil@y.org>");
    EXPECT_EQ(fields.subject, "Hi  Bcc: evil@y.org !");
    EXPECT_FALSE(HasControl(fields.email));
    EXPECT_FALSE(HasControl(fields.subject));

    const MailToFields raw = ParseMailToArguments({"/u", "a@x.org\r\nQUIT"});
    EXPECT_EQ(raw.email, "a@x.org  QUIT");
}

TEST(MailToLink, UnknownFieldsAreIgnored) {
    const std::string link = "mailto:a@x.org?x-mailer=evil&in-reply-to=%3C1@x%3E&subject=S&noequals";
    const Field LeftOutBcc{&MailToFields::leftOutBcc, "leftOutBcc"};
    ExpectLinkFields({
        {link, Email, "a@x.org"},
        {link, Subject, "S"},
        {link, Body, ""},
        {link, LeftOutBcc, ""},
    });
    EXPECT_EQ(LeftOutBccStatus(Parse(link)), "");
}

// Copies join the recipients in link order; blind copies reach neither the recipients nor any other
// field, and the status line names them.
TEST(MailToLink, CopiesJoinTheRecipientsBlindCopiesAreLeftOut) {
    const struct {
        const char* link;
        const char* email;
        const char* leftOut;
    } cases[] = {
        {"mailto:a@x.org?cc=c@z.org", "a@x.org;c@z.org", ""},
        {"mailto:a@x.org?CC=c@z.org,%20d@z.org&to=t@z.org", "a@x.org;c@z.org;d@z.org;t@z.org", ""},
        {"mailto:?cc=c@z.org&subject=S", "c@z.org", ""},
        {"mailto:a@x.org?bcc=b@z.org", "a@x.org", "b@z.org"},
        {"mailto:a@x.org?Bcc=b@z.org,e@z.org&cc=c@z.org&bcc=f@z.org", "a@x.org;c@z.org",
         "b@z.org;e@z.org;f@z.org"},
        {"mailto:a@x.org?bcc=b@z.org%0D%0AX:y", "a@x.org", "b@z.org  X:y"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        const MailToFields fields = Parse(c.link);
        EXPECT_EQ(fields.email, c.email);
        EXPECT_EQ(fields.leftOutBcc, c.leftOut);
        EXPECT_EQ(fields.subject.find("z.org"), std::string::npos);
        EXPECT_EQ(fields.body, "");
        EXPECT_EQ(LeftOutBccStatus(fields),
                  *c.leftOut ? std::string("Blind copies of the link were left out: ") + c.leftOut : "");
    }
}

TEST(MailToLink, MalformedEscapesStayLiteral) {
    ExpectLinkFields({
        {"mailto:a@x.org?subject=100%", Subject, "100%"},
        {"mailto:a@x.org?subject=%zz%4", Subject, "%zz%4"},
        {"mailto:a@x.org?subject=%4g%%41", Subject, "%4g%A"},
        {"mailto:a%@x.org", Email, "a%@x.org"},
    });
}

// Escapes are UTF-8 (RFC 6068); a run of them that is not was written in the code page (windows-1252 here
// and in the Wine prefix), as links for older programs were. Either way the field holds UTF-8.
TEST(MailToLink, EscapedUtf8AndCodePageOctetsBecomeUtf8) {
    ExpectLinkFields({
        {"mailto:a@x.org?subject=%C3%A9t%C3%A9", Subject, "\xC3\xA9t\xC3\xA9"},
        {"mailto:a@x.org?subject=%E2%82%AC5", Subject,
         "\xE2\x82\xAC"
         "5"},
        {"mailto:a@x.org?body=%E4%BD%A0%E5%A5%BD%0D%0A%F0%9F%98%80", Body,
         "\xE4\xBD\xA0\xE5\xA5\xBD\r\n\xF0\x9F\x98\x80"},
        {"mailto:a@x.org?subject=Gr\xC3\xBC\xC3\x9F"
         "e",
         Subject,
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
        {"mailto:%D0%B8%D0%BD%D1%84%D0%BE@x.org", Email, "\xD0\xB8\xD0\xBD\xD1\x84\xD0\xBE@x.org"},
        // Not UTF-8: the code page.
        {"mailto:a@x.org?subject=%E9t%E9", Subject, "\xC3\xA9t\xC3\xA9"},
        {"mailto:a@x.org?subject=%80", Subject, "\xE2\x82\xAC"},
        {"mailto:a@x.org?subject=K\xF6ln", Subject, "K\xC3\xB6ln"},
        {"mailto:a@x.org?subject=%C3%A9 %E9", Subject, "\xC3\xA9 \xC3\xA9"},
        {"mailto:a@x.org?subject=%C0%AF", Subject, "\xC3\x80\xC2\xAF"},                       // overlong
        {"mailto:a@x.org?subject=%ED%A0%80", Subject, "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},        // surrogate
        {"mailto:a@x.org?subject=%F7%BF%BF%BF", Subject, "\xC3\xB7\xC2\xBF\xC2\xBF\xC2\xBF"}, // past U+10FFFF
        {"mailto:a@x.org?subject=%E2%82", Subject, "\xC3\xA2\xE2\x80\x9A"},                   // cut short
    });
}

TEST(MailToArguments, SplitLinkIsJoinedWithBlanks) {
    const MailToFields fields =
        ParseMailToArguments({"/u", "mailto:a@x.org?subject=Hello", "big", "world&body=x", ""});
    EXPECT_EQ(fields.email, "a@x.org");
    EXPECT_EQ(fields.subject, "Hello big world");
    EXPECT_EQ(fields.body, "x");
}

TEST(MailToArguments, MissingOrPlainSecondArgument) {
    const struct {
        std::vector<std::string> args;
        Field field;
        std::string expected;
    } cases[] = {
        {{"/u"}, Email, ""},
        {{"/u"}, Subject, ""},
        {{"/u", ""}, Email, ""},
        {{"/u", "someone@example.org"}, Email, "someone@example.org"},
        {{"/u", "someone@example.org"}, Subject, ""},
        {{"/u", "x%20y?Subject=a"}, Email, "x%20y?Subject=a"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseMailToArguments(c.args).*c.field.member, c.expected)
            << ::testing::PrintToString(c.args) << ", " << c.field.name;
}
