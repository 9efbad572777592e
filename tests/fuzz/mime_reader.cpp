// The MIME reader of the fuzz targets. It follows the RFCs, not the program's writer, so that it
// keeps checking the writer when the writer changes how it encodes.
#include "mime_reader.h"

namespace tarvel::fuzz {

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerText(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = Lower(c);
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::string> Base64(std::string_view text) {
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (const char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=' || c == '\r' || c == '\n')
            continue;
        else
            return std::nullopt;
        value = (value << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

// Quoted-printable (RFC 2045 section 6.7); in headers (RFC 2047 "Q") "_" is a blank.
std::optional<std::string> QuotedPrintable(std::string_view text, bool header) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '=') {
            if (text.substr(i + 1, 2) == "\r\n") {
                i += 2;
                continue;
            }
            if (i + 2 >= text.size() || Hex(text[i + 1]) < 0 || Hex(text[i + 2]) < 0) return std::nullopt;
            out += static_cast<char>(Hex(text[i + 1]) * 16 + Hex(text[i + 2]));
            i += 2;
        } else {
            out += header && c == '_' ? ' ' : c;
        }
    }
    return out;
}

// Encoded words "=?charset?B|Q?text?=" become their bytes; blanks between two of them go.
std::string DecodeWords(std::string_view value) {
    std::string out;
    std::size_t pendingBlanks = std::string::npos; // start in `out` of blanks after an encoded word
    std::size_t i = 0;
    while (i < value.size()) {
        if (value.substr(i, 2) == "=?") {
            const std::size_t q1 = value.find('?', i + 2);
            const std::size_t q2 = q1 == std::string_view::npos ? q1 : value.find('?', q1 + 1);
            const std::size_t end = q2 == std::string_view::npos ? q2 : value.find("?=", q2 + 1);
            if (end != std::string_view::npos && q2 == q1 + 2) {
                const char encoding = Lower(value[q1 + 1]);
                const std::string_view payload = value.substr(q2 + 1, end - q2 - 1);
                std::optional<std::string> bytes;
                if (encoding == 'b') bytes = Base64(payload);
                if (encoding == 'q') bytes = QuotedPrintable(payload, true);
                if (bytes) {
                    if (pendingBlanks != std::string::npos) out.resize(pendingBlanks);
                    out += *bytes;
                    i = end + 2;
                    pendingBlanks = out.size();
                    continue;
                }
            }
        }
        if (value[i] != ' ' && value[i] != '\t') pendingBlanks = std::string::npos;
        out += value[i++];
    }
    return out;
}

} // namespace

const std::string* MimeEntity::Header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (key == name) return &value;
    return nullptr;
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// An RFC 2231 value, charset''percent-encoded bytes, as the bytes it stands for; nullopt when malformed.
std::optional<std::string> ExtendedValue(std::string_view text) {
    const std::size_t quotes = text.find("''");
    if (quotes == std::string_view::npos) return std::nullopt;
    text.remove_prefix(quotes + 2);
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

} // namespace

std::optional<std::string> MimeEntity::Parameter(std::string_view value, std::string_view name) {
    const std::string lower = LowerText(value);
    // The extended form (name*=charset''%XX...) carries what the plain form cannot.
    for (std::size_t at = lower.find(';'); at != std::string::npos; at = lower.find(';', at + 1)) {
        std::string_view rest = Trim(std::string_view(value).substr(at + 1));
        if (LowerText(rest.substr(0, name.size())) != name || rest.substr(name.size(), 2) != "*=") continue;
        rest.remove_prefix(name.size() + 2);
        return ExtendedValue(rest.substr(0, rest.find(';')));
    }
    for (std::size_t at = lower.find(';'); at != std::string::npos; at = lower.find(';', at + 1)) {
        std::string_view rest = Trim(std::string_view(value).substr(at + 1));
        if (LowerText(rest.substr(0, name.size())) != name || rest.substr(name.size(), 1) != "=") continue;
        rest.remove_prefix(name.size() + 1);
        if (rest.starts_with('"')) {
            const std::size_t close = rest.find('"', 1);
            if (close == std::string_view::npos) return std::nullopt;
            return std::string(rest.substr(1, close - 1));
        }
        return std::string(rest.substr(0, rest.find(';')));
    }
    return std::nullopt;
}

std::optional<MimeEntity> ReadMime(std::string_view text, std::string& error) {
    MimeEntity entity;
    std::size_t bodyStart = text.find("\r\n\r\n");
    std::string_view headerBlock;
    std::string_view body;
    if (text.starts_with("\r\n")) {
        body = text.substr(2);
    } else if (bodyStart == std::string_view::npos) {
        headerBlock = text;
        if (headerBlock.ends_with("\r\n")) headerBlock.remove_suffix(2);
    } else {
        headerBlock = text.substr(0, bodyStart);
        body = text.substr(bodyStart + 4);
    }
    // Header lines, unfolded.
    std::vector<std::string> logical;
    while (!headerBlock.empty()) {
        const std::size_t end = headerBlock.find("\r\n");
        const std::string_view line = headerBlock.substr(0, end);
        entity.rawHeaderLines.emplace_back(line);
        if ((line.starts_with(' ') || line.starts_with('\t')) && !logical.empty()) {
            logical.back() += line;
        } else {
            logical.emplace_back(line);
        }
        if (end == std::string_view::npos) break;
        headerBlock.remove_prefix(end + 2);
    }
    for (const std::string& line : logical) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            error = "header line without a colon: " + line;
            return std::nullopt;
        }
        entity.headers.emplace_back(LowerText(Trim(std::string_view(line).substr(0, colon))),
                                    DecodeWords(Trim(std::string_view(line).substr(colon + 1))));
    }

    const std::string* type = entity.Header("content-type");
    if (type != nullptr && LowerText(*type).starts_with("multipart/")) {
        const std::optional<std::string> boundary = MimeEntity::Parameter(*type, "boundary");
        if (!boundary || boundary->empty()) {
            error = "multipart without a boundary";
            return std::nullopt;
        }
        // Delimiter lines: "--" boundary at a line start, the last one followed by "--".
        const std::string dash = "--" + *boundary;
        std::vector<std::size_t> lineStarts{0};
        for (std::size_t i = body.find("\r\n"); i != std::string_view::npos; i = body.find("\r\n", i + 2))
            lineStarts.push_back(i + 2);
        std::optional<std::size_t> partStart;
        bool closed = false;
        for (const std::size_t start : lineStarts) {
            if (body.substr(start, dash.size()) != dash) continue;
            const std::size_t end = body.find("\r\n", start);
            const std::string_view rest = Trim(body.substr(
                start + dash.size(), end == std::string_view::npos ? end : end - start - dash.size()));
            const bool last = rest == "--";
            if (!last && !rest.empty()) continue;
            if (partStart) {
                // The CR LF before a delimiter belongs to the delimiter.
                const std::size_t partEnd = start >= 2 ? start - 2 : start;
                std::optional<MimeEntity> part =
                    ReadMime(body.substr(*partStart, partEnd > *partStart ? partEnd - *partStart : 0), error);
                if (!part) return std::nullopt;
                entity.parts.push_back(std::move(*part));
            }
            if (last) {
                closed = true;
                break;
            }
            partStart = end == std::string_view::npos ? body.size() : end + 2;
        }
        if (!closed) {
            error = "multipart without its closing delimiter";
            return std::nullopt;
        }
        return entity;
    }

    const std::string* encoding = entity.Header("content-transfer-encoding");
    const std::string cte = encoding ? LowerText(Trim(*encoding)) : "7bit";
    std::optional<std::string> content;
    if (cte == "base64") {
        content = Base64(body);
    } else if (cte == "quoted-printable") {
        content = QuotedPrintable(body, false);
    } else {
        content = std::string(body);
    }
    if (!content) {
        error = "content that does not decode as " + cte;
        return std::nullopt;
    }
    entity.content = std::move(*content);
    return entity;
}

} // namespace tarvel::fuzz
