// "mailto:" links as RFC 6068 writes them: addresses before "?", then name=value header fields joined
// by "&", all percent-encoded UTF-8. Nothing decoded from a link may put a line break into a header
// line or an SMTP command, so control characters become blanks everywhere but the body's line breaks.
#include "core/link/mailto.h"

#include <algorithm>

#include "core/text/utf8.h"

namespace tarvel {
namespace {

constexpr std::string_view Scheme = "mailto:";

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

std::size_t FindNoCase(std::string_view text, std::string_view what) {
    if (what.size() > text.size()) return std::string_view::npos;
    for (std::size_t i = 0; i + what.size() <= text.size(); ++i)
        if (EqualsNoCase(text.substr(i, what.size()), what)) return i;
    return std::string_view::npos;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%XX" becomes its byte; a "%" without two hex digits stays as it is. "+" is not a blank in a URI.
std::string PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

bool IsControl(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
}

bool IsEscape(std::string_view text, std::size_t at) {
    return text[at] == '%' && at + 2 < text.size() && HexValue(text[at + 1]) >= 0 &&
           HexValue(text[at + 2]) >= 0;
}

// The text as UTF-8. Each run of escapes is judged on its own: a link may hold UTF-8 escapes beside
// code page ones, and the unescaped text between them comes from a command line that is UTF-8 already.
std::string DecodeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const bool escaped = IsEscape(text, at);
        std::size_t end = at;
        while (end < text.size() && IsEscape(text, end) == escaped)
            end += escaped ? 3 : 1;
        out += Utf8OrCodePage(escaped ? PercentDecode(text.substr(at, end - at)) : text.substr(at, end - at));
        at = end;
    }
    return out;
}

std::string OneLine(std::string text) {
    std::replace_if(text.begin(), text.end(), IsControl, ' ');
    return text;
}

std::string DecodeLine(std::string_view raw) {
    return OneLine(DecodeText(raw));
}

// CR LF, a lone CR and a lone LF each end a line; the body is kept as CR LF lines, and other control
// characters but the tab become blanks.
std::string DecodeBody(std::string_view raw) {
    const std::string text = DecodeText(raw);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += "\r\n";
        } else if (c != '\t' && IsControl(c)) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

std::string_view TrimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// RFC 6068 separates addresses with commas; the program separates recipients with ";". Both split
// only outside a quoted local part. A ";" inside one would still split the address when the mail is
// sent, so such an address is left out and named in the notice instead.
void AppendAddresses(std::string& list, std::string& notice, std::string_view text) {
    std::size_t start = 0;
    bool quoted = false;
    bool semicolonInQuotes = false;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size()) {
            const char c = text[i];
            if (quoted && c == '\\' && i + 1 < text.size()) {
                ++i;
                continue;
            }
            if (c == '"') quoted = !quoted;
            if (quoted && c == ';') semicolonInQuotes = true;
            if (quoted || (c != ',' && c != ';')) continue;
        }
        const std::string_view address = TrimBlanks(text.substr(start, i - start));
        if (semicolonInQuotes) {
            notice += notice.empty() ? LinkAddressLeftOutText : ", ";
            notice += address;
        } else if (!address.empty()) {
            if (!list.empty()) list += ';';
            list += address;
        }
        start = i + 1;
        semicolonInQuotes = false;
    }
}

} // namespace

std::string LeftOutBccStatus(const MailToFields& fields) {
    if (fields.leftOutBcc.empty()) return {};
    return "Blind copies of the link were left out: " + fields.leftOutBcc;
}

std::string MailToStatus(const MailToFields& fields) {
    const std::string bcc = LeftOutBccStatus(fields);
    if (fields.notice.empty() || bcc.empty()) return fields.notice + bcc;
    return fields.notice + "; " + bcc;
}

bool IsMailToMode(const std::vector<std::string>& args) {
    return !args.empty() && args[0] == "/u";
}

MailToFields ParseMailToArguments(const std::vector<std::string>& args) {
    if (args.size() < 2) return {};
    // Registrations written by older copies leave "%1" unquoted, so a link holding blanks arrives in pieces.
    std::size_t last = args.size();
    while (last > 2 && args[last - 1].empty())
        --last;
    std::string link = args[1];
    for (std::size_t i = 2; i < last; ++i)
        link += ' ' + args[i];
    return ParseMailToLink(link);
}

MailToFields ParseMailToLink(std::string_view link) {
    MailToFields fields;
    const std::size_t scheme = FindNoCase(link, Scheme);
    if (scheme == std::string_view::npos) {
        AppendAddresses(fields.email, fields.notice, OneLine(Utf8OrCodePage(link)));
        return fields;
    }
    std::string_view rest = link.substr(scheme + Scheme.size());
    const std::size_t question = rest.find('?');
    AppendAddresses(fields.email, fields.notice, DecodeLine(rest.substr(0, question)));
    if (question == std::string_view::npos) return fields;

    bool haveSubject = false;
    bool haveBody = false;
    std::string_view query = rest.substr(question + 1);
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view hfield = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const std::size_t equals = hfield.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string name = PercentDecode(hfield.substr(0, equals));
        const std::string_view value = hfield.substr(equals + 1);
        if (EqualsNoCase(name, "subject") && !haveSubject) {
            fields.subject = DecodeLine(value);
            fields.subject.resize(FirstCharacters(fields.subject, MaxMailToSubject).size());
            haveSubject = true;
        } else if (EqualsNoCase(name, "body") && !haveBody) {
            fields.body = DecodeBody(value);
            haveBody = true;
        } else if (EqualsNoCase(name, "to") || EqualsNoCase(name, "cc")) {
            // The program writes one recipient line: copies are recipients like the others.
            AppendAddresses(fields.email, fields.notice, DecodeLine(value));
        } else if (EqualsNoCase(name, "bcc")) {
            // A blind copy must never show in a header, and the window has no field that keeps an
            // address out of the To line: the addresses are left out, and the window says so.
            AppendAddresses(fields.leftOutBcc, fields.notice, DecodeLine(value));
        }
    }
    return fields;
}

} // namespace tarvel
