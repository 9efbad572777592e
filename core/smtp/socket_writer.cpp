// The message writers of the SMTP session over a non-blocking socket.
#include "core/smtp/socket_writer.h"

#include <algorithm>

#include "core/mail/dot_stuffing.h"
#include "core/errors/winsock_errors.h"
#include "core/smtp/smtp_session.h"

namespace tarvel {

namespace {
constexpr std::string_view EndOfData = "\r\n.\r\n";

// The most the leading-dot rule can add to n bytes: one "." per line, and a line is at least "." CR LF.
constexpr std::size_t Stuffed(std::size_t n) {
    return n + n / 3 + 1;
}
} // namespace

SocketWriter::SocketWriter(SmtpConnection& connection, SendSignals& state)
    : connection_(connection), state_(state) {
    buffer_.reserve(Capacity);
}

bool SocketWriter::Stopped() const {
    return Failed() || state_.SendAborted.load();
}

void SocketWriter::WriteLine(std::string_view piece) {
    state_.BytesSent.fetch_add(static_cast<std::int64_t>(piece.size()) - 2);
    Put(piece, true);
}

void SocketWriter::WriteBlock(std::string_view text) {
    state_.BytesSent.fetch_add(static_cast<std::int64_t>(text.size()));
    Put(text, true);
    // Appended after the rule: the CR LF that ends the block begins no line of its own.
    Put(CRLF, false);
}

void SocketWriter::Put(std::string_view text, bool lineStart) {
    atLineStart_ = lineStart;
    while (!text.empty() && !Stopped()) {
        const std::size_t room = Capacity - buffer_.size();
        if (Stuffed(text.size()) <= room) {
            AppendSlice(text);
            return;
        }
        if (!buffer_.empty()) {
            Flush();
            continue;
        }
        // Text larger than the whole buffer goes in slices, cut after a line end where there is one,
        // and never between the CR and the LF of one.
        std::size_t take = (Capacity - 1) * 3 / 4;
        const std::size_t lastEnd = text.substr(0, take).rfind(CRLF);
        if (lastEnd != std::string_view::npos && lastEnd > 0) {
            take = lastEnd + CRLF.size();
        } else if (text[take - 1] == '\r') {
            --take;
        }
        AppendSlice(text.substr(0, take));
        text.remove_prefix(take);
        Flush();
    }
}

void SocketWriter::AppendSlice(std::string_view slice) {
    const bool endsLine = slice.ends_with(CRLF);
    if (!atLineStart_) {
        // The slice goes on with a line that began earlier: its first bytes begin no line.
        const std::size_t end = slice.find(CRLF);
        const std::size_t rest = end == std::string_view::npos ? slice.size() : end + CRLF.size();
        buffer_.append(slice.substr(0, rest));
        slice.remove_prefix(rest);
    }
    AppendDotStuffed(buffer_, slice);
    atLineStart_ = endsLine;
}

void SocketWriter::WriteEndOfData() {
    if (Stopped()) return;
    if (Capacity - buffer_.size() < EndOfData.size()) Flush();
    buffer_.append(EndOfData);
    Flush();
}

void SocketWriter::Flush() {
    if (!Stopped()) {
        const WriteResult result =
            connection_.Write(buffer_, WriteLimits{&state_.SendAborted, IdleLimit, &state_.IdleTicks});
        if (result.end == WriteEnd::Failed || result.end == WriteEnd::TimedOut) {
            failure_ =
                result.end == WriteEnd::TimedOut ? std::string(TimeOutText) : WinSockErrorText(result.error);
            state_.SendAborted.store(true);
        }
    }
    buffer_.clear();
}

} // namespace tarvel
