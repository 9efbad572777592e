// Reply assembly: a reply ends at a line whose code is followed by a blank, by nothing, or by any
// other text; only a hyphen after the code ("250-") announces another line of the same reply.
#include "mail/reply_assembler.h"

namespace tarvel {

namespace {

constexpr std::string_view LineEnd = "\r\n";

std::size_t SkipBlanks(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && line[i] == ' ')
        ++i;
    return i;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool ContinuesReply(std::string_view line) {
    std::size_t i = SkipBlanks(line);
    const std::size_t digitsStart = i;
    while (i < line.size() && IsDigit(line[i]))
        ++i;
    return i > digitsStart && i < line.size() && line[i] == '-';
}

} // namespace

int ReplyAssembler::CodeOf(std::string_view line) {
    // Nine digits at most: a longer number is no reply code and must not overflow.
    constexpr int MaxDigits = 9;
    int code = 0;
    int digits = 0;
    for (std::size_t i = SkipBlanks(line); i < line.size() && IsDigit(line[i]) && digits < MaxDigits; ++i) {
        code = code * 10 + (line[i] - '0');
        ++digits;
    }
    return code;
}

std::optional<SmtpReply> ReplyAssembler::Next() {
    for (;;) {
        const std::size_t end = buffer_.find(LineEnd, lineStart_);
        if (end == std::string::npos) return std::nullopt;
        const std::string_view line(buffer_.data() + lineStart_, end - lineStart_);
        const std::size_t next = end + LineEnd.size();
        if (ContinuesReply(line)) {
            lineStart_ = next;
            continue;
        }
        SmtpReply reply{CodeOf(buffer_), buffer_.substr(0, next)};
        buffer_.erase(0, next);
        lineStart_ = 0;
        return reply;
    }
}

void ReplyAssembler::Clear() {
    buffer_.clear();
    buffer_.shrink_to_fit();
    lineStart_ = 0;
}

} // namespace tarvel
