// Cuts the text received from an SMTP server into whole replies (RFC 5321 section 4.2), whatever
// the TCP chunking, so that the session acts on each reply exactly once.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

struct SmtpReply {
    int code = 0;     // the number that begins the first line; 0 when it begins with no digit
    std::string text; // every line of the reply as received, each with its CR LF
};

class ReplyAssembler {
public:
    // Received text that may be held without a complete reply before the server is deemed broken.
    static constexpr std::size_t Limit = 64 * 1024;

    void Append(std::string_view chunk) { buffer_.append(chunk); }
    // The oldest complete reply, removed from the buffer; nothing while the last line is partial.
    std::optional<SmtpReply> Next();
    // More than `Limit` bytes wait and none of them completes a reply.
    bool Overflowed() const { return buffer_.size() > Limit; }
    std::size_t Pending() const { return buffer_.size(); }
    void Clear();

    // The decimal number at the start of a line: leading blanks skipped, digits read up to the first
    // non-digit; 0 when there is none.
    static int CodeOf(std::string_view line);

private:
    std::string buffer_;
    // Where the next line of the reply being assembled begins: lines before it are "ddd-" lines.
    std::size_t lineStart_ = 0;
};

} // namespace tarvel
