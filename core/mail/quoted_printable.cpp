// The quoted-printable encoder of the text part.
#include "core/mail/quoted_printable.h"

namespace tarvel {

namespace {

constexpr char Hex[] = "0123456789ABCDEF";

bool Literal(unsigned char c) {
    return c >= 33 && c <= 126 && c != '=';
}

} // namespace

void AppendQuotedPrintableLine(std::string& out, std::string_view line) {
    std::size_t length = 0; // of the encoded line being built
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        const bool last = i + 1 == line.size();
        char token[3];
        std::size_t size = 1;
        // A blank at the end of a line may be dropped by relays, so the last one is encoded.
        const bool blank = (c == ' ' || c == '\t') && !last;
        const bool boundaryLike = i == 0 && line.starts_with("--");
        if ((Literal(c) || blank) && !boundaryLike) {
            token[0] = static_cast<char>(c);
        } else {
            token[0] = '=';
            token[1] = Hex[c >> 4];
            token[2] = Hex[c & 15];
            size = 3;
        }
        // A line that goes on needs room for its soft line break.
        if (length + size > (last ? MaxQuotedPrintableLine : MaxQuotedPrintableLine - 1)) {
            out += "=\r\n";
            length = 0;
        }
        out.append(token, size);
        length += size;
    }
    out += "\r\n";
}

std::string EncodeQuotedPrintable(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        AppendQuotedPrintableLine(out, text.substr(start, end - start));
        start = end + 2;
    }
    return out;
}

} // namespace tarvel
