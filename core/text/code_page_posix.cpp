// Where there is no ANSI code page, the portable tests take windows-1252, the one most Windows systems use.
#include "core/text/utf8.h"

namespace tarvel {

namespace {

// 0x80..0x9F of windows-1252; 0 where the code page leaves the byte undefined (kept as that C1 control).
constexpr char16_t HighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char16_t CharOf(unsigned char byte) {
    if (byte >= 0x80 && byte < 0xA0 && HighControls[byte - 0x80] != 0) return HighControls[byte - 0x80];
    return byte;
}

} // namespace

std::string CodePageToUtf8(std::string_view bytes) {
    std::u16string text;
    for (char byte : bytes)
        text += CharOf(static_cast<unsigned char>(byte));
    return Utf16ToUtf8(text);
}

std::optional<std::string> Utf8ToCodePage(std::string_view text) {
    if (!IsValidUtf8(text)) return std::nullopt;
    std::string out;
    for (char16_t code : Utf8ToUtf16(text)) {
        bool found = false;
        for (int byte = 0; byte < 256 && !found; ++byte) {
            if (CharOf(static_cast<unsigned char>(byte)) == code)
                out += static_cast<char>(byte), found = true;
        }
        if (!found) return std::nullopt;
    }
    return out;
}

} // namespace tarvel
