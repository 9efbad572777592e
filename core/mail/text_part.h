// How the header and the text part of one message are written: kept byte for byte as typed when the
// text is plain US-ASCII in short lines, otherwise in UTF-8 with encoded words and a quoted-printable
// text part, so that neither text in any script nor a line that imitates the MIME boundary reaches the
// reader changed.
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
    bool bodyFileInCodePage = false;  // the body file is no UTF-8: its lines are read in the code page
};

// Reads the body text and the body file (when there is one) to decide.
TextPartPlan PlanTextPart(const MailMessage& message);

// One line of the body file as the reader gets it: UTF-8, without the byte-order mark that begins a
// file saved as UTF-8 by Notepad.
std::string BodyFileLine(std::string_view line, bool firstLine, bool inCodePage);

// Every bare CR and bare LF becomes CR LF: a lone one on the wire is read as a line end by some servers
// and not by others, which lets text smuggle an end of data past the leading-dot rule.
std::string WithCrLfLineEnds(std::string_view text);

// The header lines, each ended by CR LF (folded ones hold more than one line).
std::string ToHeaderLines(const MailMessage& message);
std::string SubjectHeaderLines(const MailMessage& message);
// The names of the attachments as the window lists them, with the ";" that ends the list.
std::string XAttachmentsLines(const MailMessage& message);
std::string TextPartHeaderLines(const TextPartPlan& plan);
// An attachment's "Content-Type" line, and its "Content-Disposition" line with the empty line after it.
std::string AttachmentTypeLine(std::string_view fileName);
std::string AttachmentDispositionLines(std::string_view fileName);

} // namespace tarvel
