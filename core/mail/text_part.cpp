// The decision between the plain text part and the quoted-printable one, and the header lines that
// carry text beyond US-ASCII.
#include "core/mail/text_part.h"

#include <vector>

#include "core/mail/address.h"
#include "core/mail/byte_file.h"
#include "core/mail/header_encoding.h"
#include "core/mail/quoted_printable.h"
#include "core/text/utf8.h"

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

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

// The body file's lines as the writer reads them: LF ends a line, a CR before it is dropped, and a lone
// CR inside a line ends a line too. A file that cannot be read gives nothing: the writer reports it.
template <typename Each> void ForEachBodyFileLine(const std::string& path, Each each) {
    const ByteFile file = OpenBytes(path);
    if (!file || SizeOfOpenFile(file.get()) < 0) return;
    std::string line;
    int c;
    bool any = false;
    bool emitted = false;
    while ((c = std::getc(file.get())) != EOF) {
        any = true;
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        each(line);
        emitted = true;
        line.clear();
        any = false;
    }
    // Notepad saves an empty UTF-8 file as its byte-order mark alone: that is no line of text.
    if (any && (emitted || line != "\xEF\xBB\xBF")) each(line);
}

// A file is UTF-8 when every line is: no line end can fall inside a UTF-8 character.
bool BodyFileInCodePage(const std::string& path) {
    bool codePage = false;
    ForEachBodyFileLine(path, [&](const std::string& line) { codePage = codePage || !IsValidUtf8(line); });
    return codePage;
}

void AddBodyFile(BodyFacts& facts, const std::string& path, bool inCodePage) {
    bool first = true;
    ForEachBodyFileLine(path, [&](const std::string& line) {
        facts.AddText(WithCrLfLineEnds(BodyFileLine(line, first, inCodePage)) + "\r\n");
        first = false;
    });
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

std::string BodyFileLine(std::string_view line, bool firstLine, bool inCodePage) {
    if (inCodePage) return CodePageToUtf8(line);
    if (firstLine && line.starts_with(ByteOrderMark)) line.remove_prefix(ByteOrderMark.size());
    return std::string(line);
}

TextPartPlan PlanTextPart(const MailMessage& message) {
    TextPartPlan plan;
    BodyFacts file;
    if (!message.BodyFile.empty()) {
        plan.bodyFileInCodePage = BodyFileInCodePage(message.BodyFile);
        AddBodyFile(file, message.BodyFile, plan.bodyFileInCodePage);
    }
    // The body goes out as WriteBlock writes it: its lines and one more line end.
    BodyFacts body;
    if (!message.Body.empty()) body.AddText(WithCrLfLineEnds(Utf8OrCodePage(message.Body)) + "\r\n");

    plan.national =
        file.eightBit || body.eightBit || !IsAscii(message.Subject) || !IsAscii(ToName(message.ToHeader));
    // A line that imitates the boundary or is too long for SMTP cannot go out as it is.
    plan.quoted = plan.national || file.boundaryLine || body.boundaryLine || file.longLine || body.longLine;
    if (plan.national) plan.charset = TextCharset;
    if (plan.quoted) {
        // WriteBlock's own last line end is no part of the body.
        plan.bodySize = file.quotedSize + (message.Body.empty() ? 0 : body.quotedSize - 2);
    } else {
        // All US-ASCII: the file goes out as it is.
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
    // With SMTPUTF8 the header is UTF-8 as typed (RFC 6532); otherwise domains go as A-labels. A name
    // that would take the UTF-8 line past its bound goes as encoded words, which fold where it cannot.
    const bool utf8 = !SmtpUtf8Address(message).empty();
    const bool rawName =
        utf8 && std::string_view("To: ").size() + Utf8OrCodePage(header).size() <= MaxLineOctets;
    if (!IsAscii(name) && !rawName) {
        AppendWords(pieces, Utf8OrCodePage(name), HeaderCharset);
        addresses = header.substr(name.size());
    }
    const std::string written = utf8 ? Utf8OrCodePage(addresses) : AddressListToAscii(addresses);
    for (std::string& piece : PiecesAfterSemicolons(written))
        pieces.push_back(std::move(piece));
    return FoldPieces("To", pieces);
}

std::string SubjectHeaderLines(const MailMessage& message) {
    const std::string subject = Utf8OrCodePage(message.Subject);
    std::string lines;
    if (IsAscii(subject) && FoldAtBlanks("Subject: " + subject, lines)) return lines;
    // Text beyond US-ASCII, or a long text without blanks to fold at: encoded words can be cut anywhere.
    std::vector<std::string> pieces;
    AppendWords(pieces, subject, IsAscii(subject) ? std::string_view("us-ascii") : HeaderCharset);
    return FoldPieces("Subject", pieces);
}

std::string XAttachmentsLines(const MailMessage& message) {
    const std::string text = Utf8OrCodePage(message.XAttachments) + ";";
    if (IsAscii(text)) return "X-Attachments: " + text + "\r\n";
    // RFC 2047 wants blanks around an encoded word in such text: the ";" goes inside the words.
    std::vector<std::string> pieces;
    AppendWords(pieces, text, HeaderCharset);
    return FoldPieces("X-Attachments", pieces);
}

std::string TextPartHeaderLines(const TextPartPlan& plan) {
    std::string lines = "Content-Type: text/plain; charset=\"" + plan.charset + "\"\r\n";
    if (plan.quoted) lines += "Content-Transfer-Encoding: quoted-printable\r\n";
    return lines + "\r\n";
}

std::string AttachmentTypeLine(std::string_view fileName) {
    std::string line = "Content-Type: application/octet-stream; name=\"";
    if (IsAscii(fileName)) {
        line += fileName;
    } else {
        // Readers that know no RFC 2231 parameter take the encoded words of the older "name".
        bool first = true;
        for (const std::string& word : EncodedWords(Utf8OrCodePage(fileName), HeaderCharset)) {
            if (!first) line += ' ';
            line += word;
            first = false;
        }
    }
    return line + "\";\r\n";
}

std::string AttachmentDispositionLines(std::string_view fileName) {
    if (IsAscii(fileName))
        return "Content-Disposition: attachment; filename=\"" + std::string(fileName) + "\"\r\n\r\n";
    return "Content-Disposition: attachment; filename*=" + ExtendedParameterValue(Utf8OrCodePage(fileName)) +
           "\r\n\r\n";
}

} // namespace tarvel
