// WriteMessage: the header, the text part and the base64 attachment parts, one piece at a time,
// so that neither the body file nor an attachment is ever held in memory.
#include "core/mail/message.h"

#include "core/mail/address.h"
#include "core/mail/base64.h"
#include "core/mail/byte_file.h"
#include "core/mail/quoted_printable.h"
#include "core/mail/text_part.h"
#include "core/text/utf8.h"

#include <cerrno>
#include <initializer_list>
#include <utility>

#include "tarvel_version.h"

namespace tarvel {

namespace {

// RFC 2045 limits encoded lines to 76 characters: 57 bytes each.
constexpr std::size_t BlockBytes = 57;
constexpr std::size_t EncodedBlockChars = 76;

enum class Outcome { Done, Aborted, Failed };

std::string Concat(std::initializer_list<std::string_view> parts) {
    std::size_t length = 0;
    for (std::string_view part : parts)
        length += part.size();
    std::string text;
    text.reserve(length);
    for (std::string_view part : parts)
        text.append(part);
    return text;
}

std::string Reason(std::string_view what, int error) {
    return error == 0 ? std::string(what) : Concat({what, ": ", ErrnoText(error)});
}

class Writer {
public:
    Writer(MessageOutput& output, const std::atomic<bool>& sendAborted, WriteFailure* failure)
        : output_(output), sendAborted_(sendAborted), failure_(failure) {}

    bool Aborted() const { return sendAborted_.load(); }

    Outcome Fail(const std::string& path, std::string reason) {
        if (failure_) *failure_ = WriteFailure{path, std::move(reason)};
        return Outcome::Failed;
    }

    // A directory (which opens on POSIX systems) or a device such as CON is refused like a missing
    // file: it has no content to send, and a device could keep the send waiting forever.
    ByteFile Open(const std::string& path) {
        errno = 0;
        ByteFile file = OpenBytes(path);
        if (!file) {
            Fail(path, Reason("cannot open", errno));
        } else if (SizeOfOpenFile(file.get()) < 0) {
            Fail(path, "cannot open: not a regular file");
            file.reset();
        }
        return file;
    }

    // The body file's lines, read as text whatever their line ends: LF ends a line, a CR before
    // it is dropped, and every line goes out with CR LF, in UTF-8.
    Outcome WriteBodyFile(const std::string& path, bool quoted, bool inCodePage) {
        const ByteFile file = Open(path);
        if (!file) return Outcome::Failed;
        std::string line;
        for (bool first = true;; first = false) {
            if (Aborted()) return Outcome::Aborted;
            line.clear();
            errno = 0;
            int c;
            while ((c = std::getc(file.get())) != EOF && c != '\n')
                line += static_cast<char>(c);
            if (c == EOF) {
                if (std::ferror(file.get())) return Fail(path, Reason("read error", errno));
                // Notepad saves an empty UTF-8 file as its byte-order mark alone: no line of text.
                if (line.empty() || (first && line == "\xEF\xBB\xBF")) return Outcome::Done;
            }
            if (!line.empty() && line.back() == '\r') line.pop_back();
            WriteText(WithCrLfLineEnds(BodyFileLine(line, first, inCodePage)) + std::string(CRLF), quoted);
            if (c == EOF) return Outcome::Done;
        }
    }

    // Lines of body text (each ended by CR LF), as they are or quoted-printable.
    void WriteText(const std::string& lines, bool quoted) {
        if (quoted)
            output_.WriteLine(EncodeQuotedPrintable(lines));
        else
            output_.WriteLine(lines);
    }

    // One attachment part. The file is opened before its part header goes out, so that a file
    // that cannot be read leaves no half part behind.
    Outcome WriteAttachment(const std::string& path) {
        const ByteFile file = Open(path);
        if (!file) return Outcome::Failed;
        const std::string name = AttachmentFileName(path);
        output_.WriteLine(Concat({CRLF, "--", MailBoundary, CRLF}));
        output_.WriteLine(AttachmentTypeLine(name));
        output_.WriteLine(Concat({"Content-Transfer-Encoding: base64", CRLF}));
        output_.WriteLine(AttachmentDispositionLines(name));

        unsigned char block[BlockBytes];
        std::string line;
        line.reserve(EncodedBlockChars);
        for (;;) {
            errno = 0;
            const std::size_t count = std::fread(block, 1, BlockBytes, file.get());
            if (count < BlockBytes && std::ferror(file.get())) return Fail(path, Reason("read error", errno));
            // The last, empty read is written too: every part ends with one empty line.
            EncodeBase64LineInto(line, block, count);
            output_.WriteBlock(line);
            if (Aborted()) return Outcome::Aborted;
            if (count == 0) return Outcome::Done;
        }
    }

private:
    MessageOutput& output_;
    const std::atomic<bool>& sendAborted_;
    WriteFailure* failure_;
};

} // namespace

bool WriteMessage(const MailMessage& message, MessageOutput& output, const std::atomic<bool>& sendAborted,
                  WriteFailure* failure) {
    Writer writer(output, sendAborted, failure);
    const bool multipart = !message.Attachments.empty();
    const TextPartPlan plan = PlanTextPart(message);

    // A message that goes with SMTPUTF8 keeps its addresses as typed (RFC 6532); any other carries only
    // ASCII in its headers, so a domain beyond it is written as its A-labels there too.
    const std::string sender =
        SmtpUtf8Address(message).empty() ? AddressToAscii(message.Sender) : message.Sender;
    output.WriteLine(ToHeaderLines(message));
    output.WriteLine(Concat({"Reply-To: ", sender, CRLF}));
    output.WriteLine(Concat({"From: ", sender, CRLF}));
    output.WriteLine(Concat({"X-Mailer: Tarvel Pro " TARVEL_VERSION, CRLF}));
    if (!message.Date.empty()) output.WriteLine(Concat({"Date: ", message.Date, CRLF}));
    if (!message.MessageId.empty()) output.WriteLine(Concat({"Message-ID: ", message.MessageId, CRLF}));
    output.WriteLine(SubjectHeaderLines(message));
    // Encoded words and a transfer encoding mean MIME also where no attachment made it so.
    if (multipart || plan.quoted) output.WriteLine(Concat({"Mime-Version: 1.0", CRLF}));
    if (multipart) {
        output.WriteLine(Concat({"Content-Type: multipart/mixed; boundary=\"", MailBoundary, "\"", CRLF}));
        output.WriteLine(Concat({XAttachmentsLines(message), CRLF}));
        output.WriteLine(Concat({"--", MailBoundary, CRLF}));
    }
    output.WriteLine(TextPartHeaderLines(plan));

    if (!message.BodyFile.empty()) {
        const Outcome outcome = writer.WriteBodyFile(message.BodyFile, plan.quoted, plan.bodyFileInCodePage);
        if (outcome != Outcome::Done) return outcome == Outcome::Aborted;
    }
    if (!message.Body.empty()) {
        // The body's lines with the line end that WriteBlock adds after them.
        const std::string body = WithCrLfLineEnds(Utf8OrCodePage(message.Body));
        if (plan.quoted)
            output.WriteLine(EncodeQuotedPrintable(body + std::string(CRLF)));
        else
            output.WriteBlock(body);
    }

    for (const std::string& path : message.Attachments) {
        const Outcome outcome = writer.WriteAttachment(path);
        if (outcome != Outcome::Done) return outcome == Outcome::Aborted;
    }
    if (multipart && !writer.Aborted()) output.WriteLine(Concat({"--", MailBoundary, "--", CRLF, CRLF}));
    return true;
}

} // namespace tarvel
