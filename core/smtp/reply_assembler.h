// Cuts the text received from an SMTP server into whole replies (RFC 5321 section 4.2), whatever
// the TCP chunking, so that the session acts on each reply exactly once.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

struct SmtpReply {
    // The code of the reply's last line; 0 when that line has no code or when the lines of the
    // reply disagree about it, which no session state takes for acceptance.
    int code = 0;
    std::string text; // every line of the reply as received, each with its CR LF
};

class ReplyAssembler {
public:
    // Received text that may be held without a complete reply before the server is deemed broken.
    static constexpr std::size_t Limit = 64 * 1024;

    void Append(std::string_view chunk);
    // The oldest complete reply, removed from the buffer; nothing while the last line is partial.
    // Each received byte is looked at once, however finely the server cuts its text.
    std::optional<SmtpReply> Next();
    // Drops every reply that has begun: those complete now, and the one under way (a partial line
    // included) once it completes.
    void DropBegun();
    // More than `Limit` bytes wait and none of them completes a reply.
    bool Overflowed() const { return Pending() > Limit; }
    std::size_t Pending() const { return buffer_.size() - head_; }
    // Bytes looked at in search of line ends since the last Clear: at most about one look per
    // received byte, whatever the chunking (a server that trickles must not cost quadratic time).
    std::size_t Examined() const { return examined_; }
    void Clear();

    // The code of one line: exactly three digits at its start, followed by a blank, a hyphen or
    // the end of the line; 0 for any other line.
    static int CodeOf(std::string_view line);

private:
    void StartReply();

    std::string buffer_;
    std::size_t head_ = 0;      // where the reply being assembled begins; bytes before it are handed out
    std::size_t lineStart_ = 0; // where its current line begins
    std::size_t scanFrom_ = 0;  // where the search for the next line end goes on
    int firstCode_ = -1;        // the code of its first line; -1 before that line is complete
    bool disagrees_ = false;    // a line's code differs from the first line's
    bool dropping_ = false;     // the reply under way began before DropBegun
    std::size_t examined_ = 0;
};

} // namespace tarvel
