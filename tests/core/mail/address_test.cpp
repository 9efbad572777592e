// Domains to A-labels (users' examples and the limits of IDNA) or refused with the reason, and the Date and
// Message-ID values made from fixed inputs.
#include "core/mail/address.h"
#include "core/mail/message_stamp.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvel {
namespace {

TEST(DomainToAscii, ConvertsOrRefusesWithAReason) {
    std::string ya57;
    for (int i = 0; i < 57; ++i)
        ya57 += "я";
    // Refused when the second column is empty; then the third is part of the reason.
    const std::string cases[][3] = {
        {"пример.рф", "xn--e1afmkfd.xn--p1ai"},
        {"Пример.РФ", "xn--e1afmkfd.xn--p1ai"},
        {"例子.广告", "xn--fsqu00a.xn--4rr70v"},
        {"例子。广告", "xn--fsqu00a.xn--4rr70v"},
        {"bücher.Example", "xn--bcher-kva.example"},
        {"ελληνικά.gr", "xn--hxargifdar.gr"},
        {ya57 + ".ru", "xn--41a" + std::string(56, 'a') + ".ru"},
        {"Example..COM", "Example..COM"}, // ASCII goes as typed: the server judges it, as always
        {"пример..рф", "", "it has an empty label"},
        {"пример.рф.", "", "it has an empty label"},
        {"-пример.рф", "", "begins or ends with a hyphen"},
        {"при мер.рф", "", "no domain name may hold"},
        {"при_мер.рф", "", "no domain name may hold"},
        {ya57 + "я.ru", "", "is longer than 63 characters"},
        {"\xD0\xBF\xD1.рф", "", "not valid UTF-8"},
        {"\xC0\xAE.рф", "", "not valid UTF-8"},     // an overlong "."
        {"\xED\xA0\x80.рф", "", "not valid UTF-8"}, // a surrogate
        {"при\xEE\x80\x80мер.рф", "", "the label"}, // U+E000, private use
    };
    for (const auto& [domain, ascii, reason] : cases) {
        const DomainConversion result = DomainToAscii(domain);
        EXPECT_EQ(result.ascii, ascii) << domain;
        EXPECT_NE(result.error.find(reason), std::string::npos) << domain << result.error;
        EXPECT_EQ(result.ok(), reason.empty()) << domain;
    }
    EXPECT_EQ(AddressToAscii("a@b@пример.рф"), "a@b@xn--e1afmkfd.xn--p1ai");
}

TEST(MessageStamp, DateAndIdFromFixedInputs) {
    const struct {
        StampInputs in;
        std::string sender, date, id;
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
         "me@[127.0.0.1]",
         "Tue, 01 Jun 1999 00:00:00 +0000",
         "<19990601000000.2.0000000000000001@localhost>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DateValue(c.in), c.date);
        EXPECT_EQ(MessageIdValue(c.in, c.sender), c.id);
    }
}

} // namespace
} // namespace tarvel
