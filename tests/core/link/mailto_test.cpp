// "mailto:" links from the command line: RFC 6068 vectors, the old "?Subject=" spelling, split arguments,
// and no line break from a link ever reaching an address or the subject.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/link/mailto.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace tarvel;

namespace {

MailToFields Parse(std::string_view link) {
    return ParseMailToLink(link, Utf8ToLatin1);
}

bool HasControl(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

} // namespace

TEST(MailToMode, OnlyAnExactFirstSlashU) {
    EXPECT_TRUE(IsMailToMode({"/u"}));
    EXPECT_TRUE(IsMailToMode({"/u", "mailto:a@x"}));
    EXPECT_FALSE(IsMailToMode({}));
    EXPECT_FALSE(IsMailToMode({"/U", "mailto:a@x"}));
    EXPECT_FALSE(IsMailToMode({"mailto:a@x"}));
    EXPECT_FALSE(IsMailToMode({"/u ", "mailto:a@x"}));
    EXPECT_FALSE(IsMailToMode({"-u"}));
}

TEST(MailToLink, AddressesBeforeTheQuestionMark) {
    EXPECT_EQ(Parse("mailto:a+b@example.org").email, "a+b@example.org");
    EXPECT_EQ(Parse("mailto:a@x.org,b@y.org").email, "a@x.org;b@y.org");
    EXPECT_EQ(Parse("mailto:a@x.org,%20b@y.org").email, "a@x.org;b@y.org");
    EXPECT_EQ(Parse("mailto:a@x.org;b@y.org").email, "a@x.org;b@y.org");
    EXPECT_EQ(Parse("mailto:%22J%20Doe%22@x.org").email, "\"J Doe\"@x.org");
    EXPECT_EQ(Parse("MAILTO:a@x.org").email, "a@x.org");
    EXPECT_EQ(Parse("mailto:a@x.org?to=b@y.org,c@z.org").email, "a@x.org;b@y.org;c@z.org");
    EXPECT_EQ(Parse("mailto:?to=b@y.org").email, "b@y.org");
    const MailToFields only = Parse("mailto:a@x.org");
    EXPECT_EQ(only.subject, "");
    EXPECT_EQ(only.body, "");
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
        const MailToFields fields = Parse(c.link);
        EXPECT_EQ(fields.email, c.email) << c.link;
        EXPECT_EQ(fields.notice, c.notice) << c.link;
    }
}

TEST(MailToLink, SubjectFieldInAnySpelling) {
    EXPECT_EQ(Parse("mailto:a@x.org?subject=Hello%20World").subject, "Hello World");
    const MailToFields exact = Parse("mailto:a@x.org?Subject=Hi");
    EXPECT_EQ(exact.email, "a@x.org");
    EXPECT_EQ(exact.subject, "Hi");
    EXPECT_EQ(Parse("mailto:a@x.org?SUBJECT=Hi").subject, "Hi");
    EXPECT_EQ(Parse("mailto:a@x.org?%73ubject=Hi").subject, "Hi");
    EXPECT_EQ(Parse("mailto:a@x.org?subject=1+1%3D2").subject, "1+1=2");
    EXPECT_EQ(Parse("mailto:a@x.org?subject=first&subject=second").subject, "first");
    EXPECT_EQ(Parse("mailto:a@x.org?subject=").subject, "");
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
}

TEST(MailToLink, BodyBecomesCrLfLines) {
    EXPECT_EQ(Parse("mailto:a@x.org?body=Line%201%0D%0ALine%202%0ALine%203%0D").body,
              "Line 1\r\nLine 2\r\nLine 3\r\n");
    EXPECT_EQ(Parse("mailto:a@x.org?BODY=tab%09kept%00nul%7Fdel").body, "tab\tkept nul del");
    EXPECT_EQ(Parse("mailto:a@x.org?body=%0D%0A%0D%0A.").body, "\r\n\r\n.");
}

TEST(MailToLink, NoLineBreakReachesAddressOrSubject) {
    const MailToFields fields =
        Parse("mailto:a@x.org%0D%0ARCPT%20TO:%3Cevil@y.org%3E?subject=Hi%0D%0ABcc:%20evil@y.org%09!");
    EXPECT_EQ(fields.email, "a@x.org  RCPT TO:<evil@y.org>");
    EXPECT_EQ(fields.subject, "Hi  Bcc: evil@y.org !");
    EXPECT_FALSE(HasControl(fields.email));
    EXPECT_FALSE(HasControl(fields.subject));

    const MailToFields raw = ParseMailToArguments({"/u", "a@x.org\r\nQUIT"}, Utf8ToLatin1);
    EXPECT_EQ(raw.email, "a@x.org  QUIT");
}

TEST(MailToLink, UnknownFieldsAreIgnored) {
    const MailToFields fields =
        Parse("mailto:a@x.org?x-mailer=evil&in-reply-to=%3C1@x%3E&subject=S&noequals");
    EXPECT_EQ(fields.email, "a@x.org");
    EXPECT_EQ(fields.subject, "S");
    EXPECT_EQ(fields.body, "");
    EXPECT_EQ(fields.leftOutBcc, "");
    EXPECT_EQ(LeftOutBccStatus(fields), "");
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
    EXPECT_EQ(Parse("mailto:a@x.org?subject=100%").subject, "100%");
    EXPECT_EQ(Parse("mailto:a@x.org?subject=%zz%4").subject, "%zz%4");
    EXPECT_EQ(Parse("mailto:a@x.org?subject=%4g%%41").subject, "%4g%A");
    EXPECT_EQ(Parse("mailto:a%@x.org").email, "a%@x.org");
}

TEST(MailToLink, Utf8BecomesTheAnsiCodePage) {
    EXPECT_EQ(Parse("mailto:a@x.org?subject=%C3%A9t%C3%A9").subject, "\xE9t\xE9");
    EXPECT_EQ(Parse("mailto:a@x.org?subject=%E2%82%AC5").subject, "?5");
    // Not UTF-8: most likely ANSI already, so the bytes stay.
    EXPECT_EQ(Parse("mailto:a@x.org?subject=%E9t%E9").subject, "\xE9t\xE9");

    int calls = 0;
    const AnsiConverter fake = [&calls](std::string_view utf8) -> std::optional<std::string> {
        ++calls;
        std::string marked = "<";
        marked.append(utf8).append(">");
        return marked;
    };
    const MailToFields fields = ParseMailToLink("mailto:plain@x.org?subject=%C3%A4&body=ascii", fake);
    EXPECT_EQ(fields.subject, "<\xC3\xA4>");
    EXPECT_EQ(fields.email, "plain@x.org");
    EXPECT_EQ(calls, 1);
}

TEST(MailToLink, Latin1ConversionRejectsBrokenUtf8) {
    EXPECT_EQ(Utf8ToLatin1("abc"), "abc");
    EXPECT_EQ(Utf8ToLatin1("\xC3\xBC\xC2\xA0"), "\xFC\xA0");
    EXPECT_EQ(Utf8ToLatin1("\xF0\x9F\x98\x80"), "?");
    EXPECT_FALSE(Utf8ToLatin1("\xC3").has_value());         // cut off
    EXPECT_FALSE(Utf8ToLatin1("\xC0\xAF").has_value());     // overlong
    EXPECT_FALSE(Utf8ToLatin1("\xED\xA0\x80").has_value()); // surrogate
    EXPECT_FALSE(Utf8ToLatin1("\xF4\x90\x80\x80").has_value());
    EXPECT_FALSE(Utf8ToLatin1("\xFF").has_value());
}

TEST(MailToLink, PlatformConversion) {
    EXPECT_EQ(Utf8ToAnsi(""), "");
    EXPECT_EQ(Utf8ToAnsi("plain"), "plain");
    EXPECT_FALSE(Utf8ToAnsi("\xE9t\xE9").has_value());
#ifdef _WIN32
    if (GetACP() == 1252) {
        EXPECT_EQ(Utf8ToAnsi("\xE2\x82\xAC\xC3\xA9"), "\x80\xE9");
    }
#else
    EXPECT_EQ(Utf8ToAnsi("\xC3\xA9"), "\xE9");
#endif
}

TEST(MailToArguments, SplitLinkIsJoinedWithBlanks) {
    const MailToFields fields =
        ParseMailToArguments({"/u", "mailto:a@x.org?subject=Hello", "big", "world&body=x", ""}, Utf8ToLatin1);
    EXPECT_EQ(fields.email, "a@x.org");
    EXPECT_EQ(fields.subject, "Hello big world");
    EXPECT_EQ(fields.body, "x");
}

TEST(MailToArguments, MissingOrPlainSecondArgument) {
    const MailToFields none = ParseMailToArguments({"/u"}, Utf8ToLatin1);
    EXPECT_EQ(none.email, "");
    EXPECT_EQ(none.subject, "");
    EXPECT_EQ(ParseMailToArguments({"/u", ""}, Utf8ToLatin1).email, "");

    const MailToFields plain = ParseMailToArguments({"/u", "someone@example.org"}, Utf8ToLatin1);
    EXPECT_EQ(plain.email, "someone@example.org");
    EXPECT_EQ(plain.subject, "");
    EXPECT_EQ(ParseMailToArguments({"/u", "x%20y?Subject=a"}, Utf8ToLatin1).email, "x%20y?Subject=a");
}
