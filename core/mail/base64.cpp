// Base64 (RFC 2045 alphabet) for one attachment line of at most 57 bytes, i.e. 76 characters.
#include "core/mail/base64.h"

#include "core/mail/message.h"

namespace tarvel {

namespace {
constexpr std::size_t MaxLineBytes = 57;
constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
} // namespace

void EncodeBase64LineInto(std::string& line, const unsigned char* bytes, std::size_t count) {
    if (count > MaxLineBytes) count = MaxLineBytes;
    char text[MaxLineBytes / 3 * 4];
    std::size_t length = 0;
    for (std::size_t i = 0; i < count; i += 3) {
        const std::size_t left = count - i;
        const unsigned group = (unsigned{bytes[i]} << 16) | (left > 1 ? unsigned{bytes[i + 1]} << 8 : 0u) |
                               (left > 2 ? unsigned{bytes[i + 2]} : 0u);
        text[length++] = Alphabet[(group >> 18) & 0x3F];
        text[length++] = Alphabet[(group >> 12) & 0x3F];
        text[length++] = left > 1 ? Alphabet[(group >> 6) & 0x3F] : '=';
        text[length++] = left > 2 ? Alphabet[group & 0x3F] : '=';
    }
    line.assign(text, length);
}

std::string EncodeBase64Line(const unsigned char* bytes, std::size_t count) {
    std::string line;
    line.reserve(76);
    EncodeBase64LineInto(line, bytes, count);
    return line;
}

} // namespace tarvel
