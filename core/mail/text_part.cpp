// The decision between the plain text part and the quoted-printable one, and the header lines that
// carry national text.
#include "core/mail/text_part.h"

#include <vector>

#include "core/mail/address.h"
#include "core/mail/byte_file.h"
#include "core/mail/header_encoding.h"
#include "core/mail/quoted_printable.h"

namespace tarvel {

namespace {

// What the lines of the body say about how they can travel.
struct BodyFacts {
    bool eightBit = false;
    bool boundaryLine = false;
    bool longLine = false;
    std::int64_t quotedSize = 0; // quoted-printable

    void AddLine(std::string_view line) {
        eightBit = eightBit || !IsAscii(line);
        longLine = longLine || line.size() > MaxLineOctets;
        if (line.size() >= 2 + MailBoundary.size() && line.starts_with("--") &&
            line.substr(2, MailBoundary.size()) == MailBoundary)
            boundaryLine = true;
        std::string encoded;
        AppendQuotedPrintableLine(encoded, line);
        quotedSize += static_cast<std::int64_t>(encoded.size());
    }
    // Text whose lines end in CR LF, the last one possibly without.
    void AddText(std::string_view text) {
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find("\r\n", start);
            if (end == std::string_view::npos) end = text.size();
            AddLine(text.substr(start, end - start));
            start = end + 2;
        }
    }
};

// The body file's lines as the writer reads them: LF ends a line, a CR before it is dropped, and a lone
// CR inside a line ends a line too. A file that cannot be read adds nothing: the writer reports it.
void AddBodyFile(BodyFacts& facts, const std::string& path) {
    const ByteFile file = OpenBytes(path);
    if (!file || SizeOfOpenFile(file.get()) < 0) return;
    std::string line;
    int c;
    bool any = false;
    while ((c = std::getc(file.get())) != EOF) {
        any = true;
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        facts.AddText(WithCrLfLineEnds(line) + "\r\n");
        line.clear();
        any = false;
    }
    if (any) facts.AddText(WithCrLfLineEnds(line) + "\r\n");
}

std::vector<std::string> PiecesAfterSemicolons(std::string_view text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(';', start);
        end = end == std::string_view::npos ? text.size() : end + 1;
        pieces.emplace_back(text.substr(start, end - start));
        start = end;
    }
    return pieces;
}

void AppendWords(std::vector<std::string>& pieces, std::string_view text, std::string_view charset) {
    bool first = true;
    for (std::string& word : EncodedWords(text, charset)) {
        pieces.push_back(first ? std::move(word) : " " + word);
        first = false;
    }
}

// "Name <addresses>" as the send flow builds it: the name is what comes before the first " <".
std::size_t NameEnd(std::string_view toHeader) {
    if (toHeader.empty() || toHeader.back() != '>') return std::string_view::npos;
    return toHeader.find(" <");
}

std::string_view ToName(std::string_view toHeader) {
    const std::size_t end = NameEnd(toHeader);
    return end == std::string_view::npos ? std::string_view() : toHeader.substr(0, end);
}

} // namespace

std::string WithCrLfLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "\r\n";
            ++i;
        } else if (c == '\r' || c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string MessageCharset(const MailMessage& message) {
    return message.Charset.empty() ? CharsetOfCodePage(0) : message.Charset;
}

TextPartPlan PlanTextPart(const MailMessage& message) {
    BodyFacts file;
    if (!message.BodyFile.empty()) AddBodyFile(file, message.BodyFile);
    // The body goes out as WriteBlock writes it: its lines and one more line end.
    BodyFacts body;
    if (!message.Body.empty()) body.AddText(WithCrLfLineEnds(message.Body) + "\r\n");

    TextPartPlan plan;
    plan.national =
        file.eightBit || body.eightBit || !IsAscii(message.Subject) || !IsAscii(ToName(message.ToHeader));
    // A line that imitates the boundary or is too long for SMTP cannot go out as it is.
    plan.quoted = plan.national || file.boundaryLine || body.boundaryLine || file.longLine || body.longLine;
    if (plan.national) plan.charset = MessageCharset(message);
    if (plan.quoted) {
        // WriteBlock's own last line end is no part of the body.
        plan.bodySize = file.quotedSize + (message.Body.empty() ? 0 : body.quotedSize - 2);
    } else {
        plan.bodySize = (message.BodyFile.empty() ? 0 : FileSizeOf(message.BodyFile)) +
                        static_cast<std::int64_t>(message.Body.size());
    }
    return plan;
}

std::string ToHeaderLines(const MailMessage& message) {
    const std::string_view header = message.ToHeader;
    const std::string_view name = ToName(header);
    std::vector<std::string> pieces;
    std::string_view addresses = header;
    // With SMTPUTF8 the header is UTF-8 as typed (RFC 6532); otherwise domains go as A-labels.
    const bool utf8 = !SmtpUtf8Address(message).empty();
    if (!IsAscii(name) && !utf8) {
        AppendWords(pieces, name, MessageCharset(message));
        addresses = header.substr(name.size());
    }
    const std::string written = utf8 ? std::string(addresses) : AddressListToAscii(addresses);
    for (std::string& piece : PiecesAfterSemicolons(written))
        pieces.push_back(std::move(piece));
    return FoldPieces("To", pieces);
}

std::string SubjectHeaderLines(const MailMessage& message) {
    const std::string& subject = message.Subject;
    std::string lines;
    if (IsAscii(subject) && FoldAtBlanks("Subject: " + subject, lines)) return lines;
    // National text, or a long text without blanks to fold at: encoded words can be cut anywhere.
    std::vector<std::string> pieces;
    AppendWords(pieces, subject, IsAscii(subject) ? std::string("us-ascii") : MessageCharset(message));
    return FoldPieces("Subject", pieces);
}

std::string TextPartHeaderLines(const TextPartPlan& plan) {
    std::string lines = "Content-Type: text/plain; charset=\"" + plan.charset + "\"\r\n";
    if (plan.quoted) lines += "Content-Transfer-Encoding: quoted-printable\r\n";
    return lines + "\r\n";
}

std::string AttachmentTypeLine(std::string_view fileName, std::string_view charset) {
    std::string line = "Content-Type: application/octet-stream; name=\"";
    if (IsAscii(fileName)) {
        line += fileName;
    } else {
        bool first = true;
        for (const std::string& word : EncodedWords(fileName, charset)) {
            if (!first) line += ' ';
            line += word;
            first = false;
        }
    }
    return line + "\";\r\n";
}

std::string AttachmentDispositionLines(std::string_view fileName, std::string_view charset) {
    if (IsAscii(fileName))
        return "Content-Disposition: attachment; filename=\"" + std::string(fileName) + "\"\r\n\r\n";
    return "Content-Disposition: attachment; filename*=" + ExtendedParameterValue(fileName, charset) +
           "\r\n\r\n";
}

} // namespace tarvel
