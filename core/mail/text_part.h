// How the header and the text part of one message are written: kept byte for byte as typed when the
// text is plain US-ASCII in short lines, otherwise in the system's charset with encoded words and a
// quoted-printable text part, so that neither national text nor a line that imitates the MIME boundary
// reaches the reader changed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/mail/message.h"

namespace tarvel {

struct TextPartPlan {
    bool national = false;            // the subject, the To name or the body holds bytes outside US-ASCII
    bool quoted = false;              // the text part goes quoted-printable
    std::string charset = "us-ascii"; // the charset that the text part declares
    std::int64_t bodySize = 0;        // the body file and body text as they go out (for the size estimate)
};

// Reads the body text and the body file (when there is one) to decide.
TextPartPlan PlanTextPart(const MailMessage& message);

// Every bare CR and bare LF becomes CR LF: a lone one on the wire is read as a line end by some servers
// and not by others, which lets text smuggle an end of data past the leading-dot rule.
std::string WithCrLfLineEnds(std::string_view text);

// The header lines, each ended by CR LF (folded ones hold more than one line).
std::string ToHeaderLines(const MailMessage& message);
std::string SubjectHeaderLines(const MailMessage& message);
std::string TextPartHeaderLines(const TextPartPlan& plan);
// An attachment's "Content-Type" line, and its "Content-Disposition" line with the empty line after it.
std::string AttachmentTypeLine(std::string_view fileName, std::string_view charset);
std::string AttachmentDispositionLines(std::string_view fileName, std::string_view charset);

// The charset of the message's national text: its own, or "unknown-8bit" when it names none.
std::string MessageCharset(const MailMessage& message);

} // namespace tarvel
