// Encoded words, extended parameters and header folding for text beyond US-ASCII.
#include "core/mail/header_encoding.h"

#include <algorithm>

namespace tarvel {

namespace {

// The length of the UTF-8 character that starts at `at`; malformed text counts byte by byte, so that
// nothing is ever cut short.
std::size_t CharacterLength(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return std::min(length, text.size() - at);
}

constexpr char Base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void AppendBase64(std::string& out, std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        unsigned v = 0;
        for (std::size_t k = 0; k < 3; ++k)
            v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? Base64Alphabet[(v >> (18 - 6 * k)) & 63] : '=';
    }
}

} // namespace

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::vector<std::string> EncodedWords(std::string_view text, std::string_view charset) {
    // RFC 2047 section 2: an encoded word is at most 75 characters, its "=?", "?B?" and "?=" included.
    constexpr std::size_t MaxWord = 75;
    const std::size_t overhead = charset.size() + 7;
    const std::size_t maxBytes = MaxWord > overhead + 4 ? (MaxWord - overhead) / 4 * 3 : 3;
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size()) {
            const std::size_t next = end + CharacterLength(text, end);
            if (next - start > maxBytes && end > start) break;
            end = next;
        }
        std::string word = "=?";
        word += charset;
        word += "?B?";
        AppendBase64(word, text.substr(start, end - start));
        word += "?=";
        words.push_back(std::move(word));
        start = end;
    }
    return words;
}

std::string ExtendedParameterValue(std::string_view text) {
    constexpr char Hex[] = "0123456789ABCDEF";
    std::string out(HeaderCharset);
    out += "''";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const bool attributeChar = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                   (c >= '0' && c <= '9') ||
                                   std::string_view("!#$&+-.^_`|~").find(ch) != std::string_view::npos;
        if (attributeChar) {
            out += ch;
        } else {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 15];
        }
    }
    return out;
}

bool FoldAtBlanks(std::string_view line, std::string& folded) {
    folded.clear();
    if (line.size() <= MaxLineOctets) {
        folded.append(line);
        folded += "\r\n";
        return true;
    }
    // The first blank belongs to "Name: ", where no fold may go.
    const std::size_t valueStart = line.find(": ");
    std::size_t start = 0;
    while (line.size() - start > FoldedLineOctets) {
        // The last blank that keeps this line short enough, or else the first one after that.
        const std::size_t from =
            start == 0 && valueStart != std::string_view::npos ? valueStart + 2 : start + 1;
        std::size_t cut = line.rfind(' ', start + FoldedLineOctets);
        if (cut == std::string_view::npos || cut < from) cut = line.find(' ', from);
        if (cut == std::string_view::npos || cut < from) break;
        if (cut - start > MaxLineOctets) return false;
        folded.append(line.substr(start, cut - start));
        folded += "\r\n";
        start = cut; // the blank starts the next line
    }
    if (line.size() - start > MaxLineOctets) return false;
    folded.append(line.substr(start));
    folded += "\r\n";
    return true;
}

std::string FoldPieces(std::string_view name, const std::vector<std::string>& pieces) {
    std::string out(name);
    out += ": ";
    std::size_t total = out.size();
    for (const std::string& piece : pieces)
        total += piece.size();
    const bool fold = total > MaxLineOctets;
    std::size_t lineLength = out.size();
    bool first = true;
    for (const std::string& piece : pieces) {
        if (fold && !first && lineLength + piece.size() > FoldedLineOctets) {
            out += "\r\n ";
            lineLength = 1;
        }
        out += piece;
        lineLength += piece.size();
        first = false;
    }
    out += "\r\n";
    return out;
}

} // namespace tarvel
