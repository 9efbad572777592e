// Reply assembly: a line "ddd-" announces another line of the same reply, any other line ends it,
// and the last line's code is the reply's (RFC 5321 section 4.2.1).
#include "core/smtp/reply_assembler.h"

#include <algorithm>

namespace tarvel {

namespace {

constexpr std::string_view LineEnd = "\r\n";
constexpr std::size_t CodeDigits = 3;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

int ReplyAssembler::CodeOf(std::string_view line) {
    if (line.size() < CodeDigits) return 0;
    int code = 0;
    for (std::size_t i = 0; i < CodeDigits; ++i) {
        if (!IsDigit(line[i])) return 0;
        code = code * 10 + (line[i] - '0');
    }
    if (line.size() > CodeDigits && line[CodeDigits] != ' ' && line[CodeDigits] != '-') return 0;
    return code;
}

void ReplyAssembler::Append(std::string_view chunk) {
    // Handed-out replies are dropped once they make up half the buffer: each byte moves at most
    // a few times, instead of the whole rest moving after every reply.
    if (head_ > 0 && head_ * 2 >= buffer_.size()) {
        buffer_.erase(0, head_);
        lineStart_ -= head_;
        scanFrom_ -= head_;
        head_ = 0;
    }
    buffer_.append(chunk);
}

std::optional<SmtpReply> ReplyAssembler::Next() {
    for (;;) {
        const std::size_t end = buffer_.find(LineEnd, scanFrom_);
        if (end == std::string::npos) {
            examined_ += buffer_.size() - scanFrom_;
            // A CR at the very end may be followed by its LF in the next chunk.
            scanFrom_ = std::max(lineStart_, buffer_.empty() ? 0 : buffer_.size() - 1);
            return std::nullopt;
        }
        examined_ += end + LineEnd.size() - scanFrom_;
        const std::string_view line(buffer_.data() + lineStart_, end - lineStart_);
        const std::size_t next = end + LineEnd.size();
        const int code = CodeOf(line);
        if (firstCode_ < 0) {
            firstCode_ = code;
        } else if (code != firstCode_) {
            disagrees_ = true;
        }
        lineStart_ = scanFrom_ = next;
        if (code != 0 && line.size() > CodeDigits && line[CodeDigits] == '-') continue;

        SmtpReply reply{disagrees_ ? 0 : code, buffer_.substr(head_, next - head_)};
        const bool dropped = dropping_;
        head_ = next;
        StartReply();
        if (head_ == buffer_.size()) {
            buffer_.clear();
            head_ = lineStart_ = scanFrom_ = 0;
        }
        if (dropped) continue;
        return reply;
    }
}

void ReplyAssembler::StartReply() {
    firstCode_ = -1;
    disagrees_ = false;
    dropping_ = false;
}

void ReplyAssembler::DropBegun() {
    while (Next()) {
    }
    dropping_ = Pending() > 0;
}

void ReplyAssembler::Clear() {
    buffer_.clear();
    buffer_.shrink_to_fit();
    head_ = lineStart_ = scanFrom_ = 0;
    examined_ = 0;
    StartReply();
}

} // namespace tarvel
