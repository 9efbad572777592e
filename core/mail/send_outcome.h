// How the send of one message record ended, as the SMTP session found it: taken, refused in the server's
// own words, or failed for a reason of the system's or the program's own.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

namespace tarvel {

struct SendOutcome {
    enum class Kind {
        None,     // not decided: the send has not reached this record, or ended without a reason
        Accepted, // the server took the message
        Refused,  // the server said no; `text` is its reply as received, CR LF included
        Failed,   // the send broke off; `text` is what went wrong, in the system's or our own words
    };

    Kind kind = Kind::None;
    std::string text;

    static SendOutcome Accept() { return {Kind::Accepted, {}}; }
    static SendOutcome Refusal(std::string_view reply) { return {Kind::Refused, std::string(reply)}; }
    static SendOutcome Failure(std::string_view why) { return {Kind::Failed, std::string(why)}; }

    bool Accepted() const { return kind == Kind::Accepted; }
    bool Decided() const { return kind != Kind::None; }
    bool operator==(const SendOutcome&) const = default;
};

// The server's words (or any outcome's) as the status line shows them: control characters gone, a line
// break one space, cut to StatusLineLimit bytes (never inside a UTF-8 character) with "..." after.
inline constexpr std::size_t StatusLineLimit = 160;
std::string StatusLineText(std::string_view text);
// For the hint beside it: the whole text, its lines kept, every other control character gone.
std::string HintText(std::string_view text);

const char* SendOutcomeKindName(SendOutcome::Kind kind);
// For test failure messages and logs: the kind, then the text in quotes.
std::ostream& operator<<(std::ostream& out, const SendOutcome& outcome);

} // namespace tarvel
