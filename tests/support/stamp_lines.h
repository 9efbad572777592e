// The one place where tests that compare message bytes take out the Date and Message-ID lines, which
// differ at every send, after checking that both are there once, together before Subject, in their form.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <string_view>

namespace tarvel::test {

// The text without the two lines; `messageId` receives the id. Lines missing, doubled or malformed fail
// the calling test, and the text comes back whole.
inline std::string WithoutStampLines(std::string_view text, std::string* messageId = nullptr) {
    static const std::regex stamp(
        "\r\nDate: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
        "\\d{4} "
        "\\d\\d:\\d\\d:\\d\\d [+-]\\d{4}\r\nMessage-ID: (<[0-9A-Za-z.]+@[0-9A-Za-z.-]+>)\r\nSubject: ");
    const std::string head(text.substr(0, text.find("\r\n\r\n")));
    std::smatch found;
    const auto count = [&head](std::string_view line) {
        std::size_t n = 0;
        for (std::size_t at = head.find(line); at != std::string::npos; at = head.find(line, at + 1))
            ++n;
        return n;
    };
    const bool once =
        std::regex_search(head, found, stamp) && count("\nDate: ") == 1 && count("\nMessage-ID: ") == 1;
    EXPECT_TRUE(once) << "no single Date and Message-ID of the right form before Subject in\n" << head;
    if (!once) return std::string(text);
    if (messageId) *messageId = found.str(3);
    const auto at = static_cast<std::size_t>(found.position(0));
    return std::string(text.substr(0, at)) + "\r\nSubject: " + std::string(text.substr(at + found.length(0)));
}

} // namespace tarvel::test
