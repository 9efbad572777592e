// Fuzz target: message composition as it goes on the wire. Input: fields separated by 0x1e, each led
// by one letter: "F" sender, "T" To line, "S" subject, "X" X-Attachments text, "R" a recipient, "B"
// body text, "L" the body file's bytes, "M" the name of the next attachment, "A" an attachment's bytes.
// Properties, for every record the session would send: the wire holds no bare CR or LF; header lines
// stay within 998 octets; the leading-dot rule is applied exactly, so only the final end-of-data line
// ends the data; every byte beyond US-ASCII is encoded; and the message reads back to its fields, body
// text and attachment bytes, in UTF-8 whatever of them was in the code page.
#include "fuzz_support.h"
#include "mime_reader.h"

#include "core/mail/address.h"
#include "core/mail/field_check.h"
#include "core/mail/message.h"
#include "core/smtp/send_state.h"
#include "core/smtp/socket_writer.h"
#include "core/text/utf8.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using namespace tarvel;
using namespace tarvel::fuzz;

namespace {

constexpr std::string_view EndOfData = "\r\n.\r\n";

// Every CR LF, lone CR and lone LF as CR LF.
std::string CrLfLines(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

// What a reader sees of text: CR LF lines, without the line ends at the end.
std::string Lines(std::string_view text) {
    std::string out = CrLfLines(text);
    while (out.ends_with("\r\n"))
        out.resize(out.size() - 2);
    return out;
}

bool IsAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// A name Windows allows for a file, from the fuzzer's bytes.
std::string FileNameFrom(std::string_view wanted, std::size_t index) {
    std::string name = std::to_string(index) + "-";
    for (const char c : wanted.substr(0, 100)) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b != 0x7F && std::string_view("\\/:*?\"<>|").find(c) == std::string_view::npos)
            name += c;
    }
    return name;
}

struct MemoryOutput : MessageOutput {
    std::string bytes; // as the writer gave it, before the leading-dot rule
    void WriteLine(std::string_view piece) override { bytes += piece; }
    void WriteBlock(std::string_view text) override {
        bytes += text;
        bytes += "\r\n";
    }
};

// The leading-dot rule written out independently: every line that begins with "." gets one more.
std::string Stuffed(std::string_view text) {
    std::string out;
    bool lineStart = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (lineStart && text[i] == '.') out += '.';
        out += text[i];
        lineStart = text[i] == '\n' && i > 0 && text[i - 1] == '\r';
    }
    return out;
}

void CheckHeaderLines(const MimeEntity& entity) {
    for (const std::string& line : entity.rawHeaderLines)
        Check(line.size() <= MaxHeaderLine, "no header line over 998 octets", line);
    for (const MimeEntity& part : entity.parts)
        CheckHeaderLines(part);
}

// The body file as the reader gets it: a UTF-8 file without its byte-order mark, any other in the code page.
std::string FileText(const std::string& bytes) {
    if (!IsValidUtf8(bytes)) return CodePageToUtf8(bytes);
    return bytes.starts_with("\xEF\xBB\xBF") ? bytes.substr(3) : bytes;
}

void CheckField(const MimeEntity& message, std::string_view header, const std::string& value) {
    const std::string* read = message.Header(header);
    Check(read != nullptr, "every header is there", header);
    if (!IsAscii(value) && !HasControl(value) && (header == "subject" || header == "x-attachments"))
        Check(*read == Utf8OrCodePage(value), "text beyond US-ASCII reads back as UTF-8",
              *read + " | " + value);
    // Compared where the value cannot be mistaken for encoded words or need encoding itself.
    if (IsAscii(value) && value.find("=?") == std::string::npos && !HasControl(value)) {
        std::string_view trimmed = value;
        while (!trimmed.empty() && (trimmed.front() == ' ' || trimmed.front() == '\t'))
            trimmed.remove_prefix(1);
        while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t'))
            trimmed.remove_suffix(1);
        Check(*read == trimmed, "a header reads back as its field", *read + " | " + value);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ScratchFolder folder;
    MailMessage message;
    message.Sender = "me@example.org";
    message.ToHeader = "Ann <ann@example.com>";
    std::string body;
    std::string bodyFile;
    bool haveBodyFile = false;
    std::string nextName;
    std::vector<std::string> contents;
    for (std::string_view field : Fields({reinterpret_cast<const char*>(data), size})) {
        if (field.empty()) continue;
        const std::string value(field.substr(1));
        switch (field.front()) {
        case 'F':
            message.Sender = value;
            break;
        case 'T':
            message.ToHeader = value;
            break;
        case 'S':
            message.Subject = value;
            break;
        case 'X':
            message.XAttachments = value;
            break;
        case 'R':
            message.Recipients.push_back(value);
            break;
        case 'B':
            body = value;
            break;
        case 'L':
            bodyFile = value, haveBodyFile = true;
            break;
        case 'M':
            nextName = value;
            break;
        case 'A':
            if (contents.size() < 3) {
                const std::string name = FileNameFrom(nextName, contents.size());
                Check(folder.Put(name, value), "the scratch folder takes an attachment");
                message.Attachments.push_back(folder.File(name));
                contents.push_back(value);
            }
            break;
        default:
            break;
        }
    }
    if (message.Recipients.empty()) message.Recipients.push_back("ann@example.com");
    const bool multipart = !message.Attachments.empty();
    // Raw text: the writer itself must end every line with CR LF and keep lines from closing a part.
    message.Body = body;
    if (haveBodyFile) {
        Check(folder.Put("body.txt", bodyFile), "the scratch folder takes the body file");
        message.BodyFile = folder.File("body.txt");
    }
    // The session refuses such a record before it connects; nothing of it reaches the wire.
    if (!UnsendableFieldText(message).empty()) return 0;

    MemoryOutput plain;
    std::atomic<bool> aborted{false};
    Check(WriteMessage(message, plain, aborted), "a readable message is written whole");

    WireConnection connection;
    SendSignals state;
    SocketWriter writer(connection, state);
    Check(WriteMessage(message, writer, state.SendAborted), "a readable message goes out whole");
    writer.WriteEndOfData();
    const std::string& wire = connection.text;

    Check(OnlyCrLfPairs(wire), "no bare CR or LF on the wire", wire);
    Check(wire == Stuffed(plain.bytes) + std::string(EndOfData), "the leading-dot rule is applied exactly",
          wire);
    Check(wire.find(EndOfData) == wire.size() - EndOfData.size(), "only the last line ends the data", wire);
    // Addresses beyond US-ASCII go as they are, to a server that takes them (RFC 6532), and a message
    // that needs such a server has its address headers in UTF-8, names included.
    const std::size_t name =
        message.ToHeader.ends_with('>') ? message.ToHeader.find(" <") : std::string::npos;
    const std::string_view addresses =
        std::string_view(message.ToHeader).substr(name == std::string::npos ? 0 : name);
    if (IsAscii(addresses) && IsAscii(message.Sender) && SmtpUtf8Address(message).empty())
        Check(IsAscii(wire), "every byte beyond US-ASCII is encoded", wire);

    std::string error;
    const std::optional<MimeEntity> read = ReadMime(plain.bytes, error);
    Check(read.has_value(), "the message reads back", error);
    CheckHeaderLines(*read);
    CheckField(*read, "to", message.ToHeader);
    CheckField(*read, "from", message.Sender);
    CheckField(*read, "reply-to", message.Sender);
    CheckField(*read, "subject", message.Subject);
    if (multipart) CheckField(*read, "x-attachments", message.XAttachments + ";");

    const MimeEntity* text = &*read;
    if (multipart) {
        Check(read->parts.size() == contents.size() + 1, "one part for the text and one per attachment",
              plain.bytes);
        text = &read->parts.front();
        for (std::size_t i = 0; i < contents.size(); ++i) {
            const MimeEntity& part = read->parts[i + 1];
            Check(part.content == contents[i], "an attachment reads back to its bytes", part.content);
            const std::string* disposition = part.Header("content-disposition");
            Check(disposition != nullptr, "an attachment part has its disposition");
            Check(MimeEntity::Parameter(*disposition, "filename") ==
                      Utf8OrCodePage(AttachmentFileName(message.Attachments[i])),
                  "an attachment keeps its file name", *disposition);
        }
    }
    // The body file's lines each end with CR LF, its last one too, before the body text begins.
    std::string fileLines = CrLfLines(haveBodyFile ? FileText(bodyFile) : std::string());
    if (!fileLines.empty() && !fileLines.ends_with("\r\n")) fileLines += "\r\n";
    const std::string expectedText = Lines(fileLines + Utf8OrCodePage(message.Body));
    Check(Lines(text->content) == expectedText, "the body text reads back", text->content);
    return 0;
}
