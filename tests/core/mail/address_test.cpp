// Domains beyond ASCII to A-labels (users' examples and the limits of IDNA), refusals with their
// reasons, and the Date and Message-ID values made from fixed inputs.
#include "core/mail/address.h"
#include "core/mail/message.h"
#include "core/mail/message_stamp.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvel {
namespace {

TEST(DomainToAscii, ConvertsOrRefusesWithAReason) {
    std::string label57, label58;
    for (int i = 0; i < 57; ++i)
        label57 += "я";
    label58 = label57 + "я";
    const struct {
        std::string domain;
        std::string ascii; // empty: refused
        std::string reason;
    } cases[] = {
        {"пример.рф", "xn--e1afmkfd.xn--p1ai", ""},
        {"Пример.РФ", "xn--e1afmkfd.xn--p1ai", ""},
        {"例子.广告", "xn--fsqu00a.xn--4rr70v", ""},
        {"例子。广告", "xn--fsqu00a.xn--4rr70v", ""}, // the ideographic full stop separates labels too
        {"bücher.Example", "xn--bcher-kva.example", ""},
        {"ελληνικά.gr", "xn--hxargifdar.gr", ""},
        {"żółw.pl", "xn--w-uga1v8h.pl", ""},
        {label57 + ".ru", "xn--41a" + std::string(56, 'a') + ".ru", ""},
        // An ASCII domain goes exactly as typed: the server judges it, as always.
        {"Example..COM", "Example..COM", ""},
        {"", "", ""},
        {"пример..рф", "", "it has an empty label"},
        {"пример.рф.", "", "it has an empty label"},
        {"-пример.рф", "", "begins or ends with a hyphen"},
        {"пример-.рф", "", "begins or ends with a hyphen"},
        {"при мер.рф", "", "holds a character no domain name may hold"},
        {"при_мер.рф", "", "holds a character no domain name may hold"},
        {label58 + ".ru", "", "is longer than 63 characters"},
        {"\xD0\xBF\xD1.рф", "", "not valid UTF-8"},
        {"\xC0\xAE.рф", "", "not valid UTF-8"},     // an overlong "."
        {"\xED\xA0\x80.рф", "", "not valid UTF-8"}, // a surrogate
        {"при\xEE\x80\x80мер.рф", "", "the label"}, // U+E000, private use
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.domain);
        const DomainConversion result = DomainToAscii(c.domain);
        if (c.reason.empty()) {
            EXPECT_TRUE(result.ok()) << result.error;
            EXPECT_EQ(result.ascii, c.ascii);
        } else {
            EXPECT_FALSE(result.ok()) << result.ascii;
            EXPECT_NE(result.error.find(c.reason), std::string::npos) << result.error;
        }
    }
}

TEST(Addresses, MailboxBeyondAsciiNeedsSmtpUtf8AndHeaderAddressesTakeALabels) {
    EXPECT_TRUE(NeedsSmtpUtf8("用户@例子.广告"));
    EXPECT_FALSE(NeedsSmtpUtf8("info@пример.рф"));
    EXPECT_EQ(AddressToAscii("用户@例子.广告"), "用户@xn--fsqu00a.xn--4rr70v");
    EXPECT_EQ(AddressToAscii("a@b@пример.рф"), "a@b@xn--e1afmkfd.xn--p1ai");
    EXPECT_EQ(AddressToAscii("info@пример..рф"), "info@пример..рф"); // refused before the send instead
    EXPECT_EQ(AddressListToAscii(" <info@пример.рф;ann@example.com>"),
              " <info@xn--e1afmkfd.xn--p1ai;ann@example.com>");

    MailMessage message;
    message.Sender = "me@example.org";
    message.Recipients = {"ann@example.com", "info@пример..рф"};
    EXPECT_EQ(SmtpUtf8Address(message), "");
    EXPECT_EQ(InvalidDomainText(message),
              "The domain of the address info@пример..рф is no valid domain name: "
              "it has an empty label (two dots together, or a dot at an end)");
    message.Recipients = {"ann@example.com", "用户@例子.广告"};
    EXPECT_EQ(SmtpUtf8Address(message), "用户@例子.广告");
    EXPECT_EQ(InvalidDomainText(message), "");
}

TEST(MessageStamp, DateAndIdFromFixedInputs) {
    const struct {
        StampInputs in;
        std::string sender;
        std::string date;
        std::string id;
    } cases[] = {
        {{2026, 12, 8, 2, 10, 15, 0, 60, 7, 0x5f3a},
         "me@example.org",
         "Tue, 08 Dec 2026 10:15:00 +0100",
         "<20261208101500.7.0000000000005F3A@example.org>"},
        {{2027, 1, 31, 0, 23, 59, 59, -330, 1, ~0ull},
         "me@пример.рф",
         "Sun, 31 Jan 2027 23:59:59 -0530",
         "<20270131235959.1.FFFFFFFFFFFFFFFF@xn--e1afmkfd.xn--p1ai>"},
        {{1999, 6, 1, 2, 0, 0, 0, 0, 2, 1},
         "me",
         "Tue, 01 Jun 1999 00:00:00 +0000",
         "<19990601000000.2.0000000000000001@localhost>"},
        {{1999, 6, 1, 2, 0, 0, 0, 0, 2, 1},
         "me@[127.0.0.1]",
         "Tue, 01 Jun 1999 00:00:00 +0000",
         "<19990601000000.2.0000000000000001@localhost>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sender);
        EXPECT_EQ(DateValue(c.in), c.date);
        EXPECT_EQ(MessageIdValue(c.in, c.sender), c.id);
    }
}

} // namespace
} // namespace tarvel
