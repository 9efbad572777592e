// The outgoing message record and the exact text that is written for it once the server accepts DATA.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/mail/send_outcome.h"

namespace tarvel {

inline constexpr std::string_view CRLF = "\r\n";
inline constexpr std::string_view MailBoundary = "=====================_MERLANTOSK_==_";

struct MailMessage {
    std::string XAttachments;
    std::vector<std::string> Attachments;
    std::string Sender;
    std::string ToHeader;
    std::vector<std::string> Recipients;
    std::string Subject;
    std::string BodyFile;
    std::string Body;
    // Set by the SMTP session; a new send clears it before anything else.
    SendOutcome Outcome;
    // The MIME name of the code page that the text fields are written in ("windows-1252", "utf-8"); it
    // is declared only when a field holds more than US-ASCII. Empty: "unknown-8bit".
    std::string Charset;
    // The Date and Message-ID header values; the SMTP session sets both as a send starts (StampMessage).
    std::string Date;
    std::string MessageId;
};

// The records one SMTP session sends; the program keeps exactly one and refills it for every send.
using MessageList = std::vector<MailMessage>;

// Where WriteMessage puts the message text: the SMTP session's socket writer, or memory in tests.
class MessageOutput {
public:
    virtual ~MessageOutput() = default;
    // Puts the piece (whole lines, each ending in CRLF) on the wire with the leading-dot rule.
    virtual void WriteLine(std::string_view piece) = 0;
    // Puts the text and a CRLF on the wire with the leading-dot rule.
    virtual void WriteBlock(std::string_view text) = 0;
};

// Why a message could not be written whole: the file that failed and the reason.
struct WriteFailure {
    std::string path;
    std::string reason;
};

// Clears the list, then adds every non-empty piece between separators, in order, untrimmed.
void SplitToList(std::vector<std::string>& list, std::string_view text, char separator);
// The file's size in bytes (64-bit, so files over 2 GiB count right); 0 when it cannot be opened or sized.
std::int64_t FileSizeOf(const std::string& path);
// Body file + body text (as quoted-printable when the text part goes so) + 4/3 of each attachment (each
// truncated on its own); headers not counted.
std::int64_t EstimateMessageSize(const MailMessage& message);
// One base64 line: at most 57 bytes (more are cut to 57), 4 characters per started group of 3.
std::string EncodeBase64Line(const unsigned char* bytes, std::size_t count);
// The name that an attachment part carries: the path after its last "\" or ":", at most 255 characters.
std::string AttachmentFileName(std::string_view path);

// Writes the message text (not the end-of-data line). Returns false when a body file or an
// attachment could not be opened or read; `failure` then names it and nothing more is written.
// Checks `sendAborted` where the send may be cancelled and returns true (nothing more written).
bool WriteMessage(const MailMessage& message, MessageOutput& output, const std::atomic<bool>& sendAborted,
                  WriteFailure* failure = nullptr);

} // namespace tarvel
