// The output that puts message text on the SMTP connection: the leading-dot rule, the byte
// counters, and one bounded buffer so that the socket sees few large sends instead of one per line.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/mail/message.h"
#include "core/smtp/send_state.h"
#include "core/smtp/smtp_connection.h"

namespace tarvel {

class SocketWriter final : public MessageOutput {
public:
    // One send of this size moves data about as fast as the socket can; smaller ones cost a call each.
    static constexpr std::size_t Capacity = 64 * 1024;
    // A socket that takes nothing for this long ends the transfer, as the window's 30 idle ticks would.
    static constexpr std::chrono::milliseconds IdleLimit{30000};

    SocketWriter(SmtpConnection& connection, SendSignals& state);

    void WriteLine(std::string_view piece) override;
    void WriteBlock(std::string_view text) override;

    // Puts the end-of-data line (CR LF "." CR LF) behind the message text and writes out everything:
    // not message text, so neither counted nor dot-stuffed.
    void WriteEndOfData();
    // Writes out what the buffer holds.
    void Flush();
    // Drops what the buffer holds without writing it.
    void Discard() { buffer_.clear(); }

    // A send failed for a reason other than a full buffer; SendAborted is set then.
    bool Failed() const { return !failure_.empty(); }
    const std::string& FailureText() const { return failure_; }

private:
    bool Stopped() const;
    // Appends text, flushing whenever the buffer cannot take more; `lineStart` says whether the text
    // begins a line, to which the leading-dot rule then applies.
    void Put(std::string_view text, bool lineStart);
    void AppendSlice(std::string_view slice);

    SmtpConnection& connection_;
    SendSignals& state_;
    std::string buffer_;
    // False while the text being put continues a line that an earlier slice of it began.
    bool atLineStart_ = true;
    std::string failure_;
};

} // namespace tarvel
