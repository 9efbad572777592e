// Base64 both ways on whole strings; tokens are a few kilobytes at most.
#include "core/oauth/encoding.h"

#include <cstdint>

namespace tarvel::oauth {
namespace {

constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

} // namespace

std::string Base64Encode(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        std::uint32_t group = 0;
        for (std::size_t j = 0; j < 3; ++j)
            group = group << 8 | (j < n ? static_cast<unsigned char>(bytes[i + j]) : 0u);
        for (std::size_t j = 0; j < 4; ++j)
            text += j <= n ? Alphabet[(group >> (18 - 6 * j)) & 0x3F] : '=';
    }
    return text;
}

std::string Base64UrlEncode(std::string_view bytes) {
    std::string text = Base64Encode(bytes);
    while (!text.empty() && text.back() == '=')
        text.pop_back();
    for (char& c : text)
        c = c == '+' ? '-' : c == '/' ? '_' : c;
    return text;
}

std::optional<std::string> Base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t group = 0;
        int padding = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const char c = text[i + j];
            // Padding only at the very end, at most two, and nothing after it.
            if (c == '=' && i + 4 == text.size() && j >= 2) {
                ++padding;
                group <<= 6;
                continue;
            }
            const int value = Sextet(c);
            if (value < 0 || padding > 0) return std::nullopt;
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        for (int j = 0; j < 3 - padding; ++j)
            bytes += static_cast<char>((group >> (16 - 8 * j)) & 0xFF);
    }
    return bytes;
}

} // namespace tarvel::oauth
