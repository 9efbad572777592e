// The one place where tests that compare message bytes take out the Date and Message-ID lines, which
// differ at every send, after checking that both are there once, before Subject, and in their form.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <string_view>

namespace tarvel::test {

// The text without its Date and Message-ID lines; `messageId` receives the id. A missing, doubled or
// malformed line fails the calling test.
inline std::string WithoutStampLines(std::string_view text, std::string* messageId = nullptr) {
    static const std::regex date(
        R"(Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d )"
        R"((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d\d:\d\d:\d\d [+-]\d{4}\r\n)");
    static const std::regex id(R"(Message-ID: (<[0-9A-Za-z.]+@[0-9A-Za-z.-]+>)\r\n)");
    const std::size_t headEnd = text.find("\r\n\r\n");
    std::string head(text.substr(0, headEnd == std::string_view::npos ? text.size() : headEnd + 2));
    const std::string rest(text.substr(head.size()));
    std::smatch found;
    EXPECT_TRUE(std::regex_search(head, found, date)) << "no Date line of the right form in\n" << head;
    if (found.empty()) return std::string(text);
    const std::size_t dateAt = static_cast<std::size_t>(found.position(0));
    head.erase(dateAt, static_cast<std::size_t>(found.length(0)));
    EXPECT_TRUE(std::regex_search(head, found, id)) << "no Message-ID line of the right form in\n" << head;
    if (found.empty()) return std::string(text);
    EXPECT_EQ(static_cast<std::size_t>(found.position(0)), dateAt) << "Message-ID must follow Date";
    if (messageId) *messageId = found.str(1);
    head.erase(static_cast<std::size_t>(found.position(0)), static_cast<std::size_t>(found.length(0)));
    EXPECT_TRUE(head.compare(dateAt, 9, "Subject: ") == 0) << "the two lines must stand before Subject";
    EXPECT_EQ(head.find("\nDate: "), std::string::npos) << "a second Date line";
    EXPECT_EQ(head.find("\nMessage-ID: "), std::string::npos) << "a second Message-ID line";
    return head + rest;
}

} // namespace tarvel::test
