// Domains beyond ASCII to A-labels, the portable Punycode encoder, and the record's address checks.
#include "core/mail/address.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "core/mail/message.h"

namespace tarvel {

namespace {

// RFC 1035 and RFC 5890: a label's octets, and a whole name's.
constexpr std::size_t MaxLabel = 63;
constexpr std::size_t MaxDomain = 253;

bool Ascii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
std::optional<std::u32string> DecodeUtf8(std::string_view text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80                    ? 1
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
        if (length == 0 || i + length > text.size()) return std::nullopt;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            c = c << 6 | (next & 0x3F);
        }
        constexpr char32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < Least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
        out += c;
        i += length;
    }
    return out;
}

bool LetterDigitHyphen(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

char32_t Lower(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F))
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    if (c == 0x178) return 0xFF; // Ÿ: its small letter is in Latin-1
    // Latin Extended-A pairs capital and small letters, even then odd, apart from two
    // stretches where the capital is odd.
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x138 && c != 0x149 && c != 0x17F) {
        const bool oddPairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddPairs ? c % 2 == 1 : c % 2 == 0) return c + 1;
    }
    return c;
}

// What no label may hold: controls, Latin-1 signs, blanks and formatting, private use, non-characters.
bool Refused(char32_t c) {
    return c < 0x80 ? !LetterDigitHyphen(c)
                    : c <= 0xBF || c == 0xD7 || c == 0xF7 || (c >= 0x2000 && c <= 0x206F) || c == 0x3000 ||
                          (c >= 0xE000 && c <= 0xF8FF) || (c >= 0xFDD0 && c <= 0xFDEF) || c == 0xFEFF ||
                          (c >= 0xFFF0 && c <= 0xFFFF) || (c & 0xFFFE) == 0xFFFE || c >= 0xF0000;
}

// RFC 3492 section 6.3, with its parameters from section 5.
std::optional<std::string> Punycode(const std::u32string& input) {
    constexpr std::uint32_t Base = 36, TMin = 1, TMax = 26, Skew = 38, Damp = 700, InitialBias = 72;
    constexpr std::uint32_t InitialN = 0x80;
    const auto digit = [](std::uint32_t d) { return static_cast<char>(d < 26 ? 'a' + d : '0' + (d - 26)); };
    const auto adapt = [&](std::uint32_t delta, std::uint32_t points, bool first) {
        delta = first ? delta / Damp : delta / 2;
        delta += delta / points;
        std::uint32_t k = 0;
        while (delta > ((Base - TMin) * TMax) / 2) {
            delta /= Base - TMin;
            k += Base;
        }
        return k + (Base - TMin + 1) * delta / (delta + Skew);
    };
    std::string out;
    for (char32_t c : input)
        if (c < 0x80) out += static_cast<char>(c);
    const std::uint32_t basic = static_cast<std::uint32_t>(out.size());
    std::uint32_t handled = basic;
    if (basic > 0) out += '-';
    std::uint32_t n = InitialN, delta = 0, bias = InitialBias;
    while (handled < input.size()) {
        std::uint32_t m = 0x10FFFF + 1;
        for (char32_t c : input)
            if (c >= n && c < m) m = c;
        // Labels are at most 63 octets, so the counts stay far from overflowing: refuse rather than wrap.
        if ((m - n) > (0xFFFFFFFFu - delta) / (handled + 1)) return std::nullopt;
        delta += (m - n) * (handled + 1);
        n = m;
        for (char32_t c : input) {
            if (c < n) ++delta;
            if (c != n) continue;
            std::uint32_t q = delta;
            for (std::uint32_t k = Base;; k += Base) {
                const std::uint32_t t = k <= bias ? TMin : k >= bias + TMax ? TMax : k - bias;
                if (q < t) break;
                out += digit(t + (q - t) % (Base - t));
                q = (q - t) / (Base - t);
            }
            out += digit(q);
            bias = adapt(delta, handled + 1, handled == basic);
            delta = 0;
            ++handled;
        }
        ++delta;
        ++n;
    }
    return out;
}

std::string Quoted(std::u32string_view label) {
    std::string text = "\"";
    for (char32_t c : label) {
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | c >> 6);
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | c >> 12);
            text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | c >> 18);
            text += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text + "\"";
}

bool AddressSeparator(char c) {
    return c == ' ' || c == '\t' || c == ';' || c == ',' || c == '<' || c == '>';
}

} // namespace

std::string_view AddressDomain(std::string_view address) {
    const std::size_t at = address.rfind('@');
    return at == std::string_view::npos ? std::string_view() : address.substr(at + 1);
}

std::string_view AddressLocalPart(std::string_view address) {
    return address.substr(0, address.rfind('@'));
}

bool NeedsSmtpUtf8(std::string_view address) {
    return !Ascii(AddressLocalPart(address));
}

DomainConversion PortableLabelToAscii(const std::u32string& label) {
    std::u32string lower;
    for (char32_t c : label) {
        if (Refused(c)) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
            return {{},
                    "the label " + Quoted(label) + " holds a character no domain name may hold (" + code +
                        ")"};
        }
        lower += Lower(c);
    }
    const std::optional<std::string> encoded = Punycode(lower);
    if (!encoded) return {{}, "the label " + Quoted(label) + " is too long"};
    return {"xn--" + *encoded, {}};
}

DomainConversion DomainToAscii(std::string_view domain) {
    if (Ascii(domain)) return {std::string(domain), {}};
    std::optional<std::u32string> points = DecodeUtf8(domain);
    if (!points) return {{}, "it is not valid UTF-8 text"};
    // The full stops of Chinese and Japanese text separate labels as "." does (RFC 3490 section 3.1).
    for (char32_t& c : *points)
        if (c == 0x3002 || c == 0xFF0E || c == 0xFF61) c = '.';
    DomainConversion result;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = points->find(U'.', start);
        if (end == std::u32string::npos) end = points->size();
        const std::u32string label = points->substr(start, end - start);
        if (label.empty()) return {{}, "it has an empty label (two dots together, or a dot at an end)"};
        if (label.front() == '-' || label.back() == '-')
            return {{}, "the label " + Quoted(label) + " begins or ends with a hyphen"};
        std::string ascii;
        bool plain = true;
        for (char32_t c : label) {
            if (c >= 0x80) {
                plain = false;
            } else if (!LetterDigitHyphen(c)) {
                return {{}, "the label " + Quoted(label) + " holds a character no domain name may hold"};
            }
            ascii += static_cast<char>(Lower(c));
        }
        if (!plain) {
            DomainConversion converted = LabelToAscii(label);
            if (!converted.ok()) return converted;
            ascii = std::move(converted.ascii);
            // Compatibility forms (fullwidth signs, say) may map to ASCII that no host name holds.
            for (char c : ascii)
                if (!LetterDigitHyphen(static_cast<unsigned char>(c)))
                    return {{}, "the label " + Quoted(label) + " holds a character no domain name may hold"};
        }
        if (ascii.size() > MaxLabel)
            return {{}, "the label " + Quoted(label) + " is longer than 63 characters as an A-label"};
        if (!result.ascii.empty()) result.ascii += '.';
        result.ascii += ascii;
        if (end == points->size()) break;
        start = end + 1;
    }
    if (result.ascii.size() > MaxDomain) return {{}, "it is longer than 253 characters as A-labels"};
    return result;
}

std::string AddressToAscii(std::string_view address) {
    const std::string_view domain = AddressDomain(address);
    if (Ascii(domain)) return std::string(address);
    const DomainConversion converted = DomainToAscii(domain);
    if (!converted.ok()) return std::string(address);
    return std::string(address.substr(0, address.size() - domain.size())) + converted.ascii;
}

std::string AddressListToAscii(std::string_view text) {
    if (Ascii(text)) return std::string(text);
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size() && !AddressSeparator(text[end]))
            ++end;
        out += AddressToAscii(text.substr(start, end - start));
        if (end < text.size()) out += text[end];
        start = end + 1;
    }
    return out;
}

std::string SmtpUtf8Address(const MailMessage& message) {
    if (NeedsSmtpUtf8(message.Sender)) return message.Sender;
    for (const std::string& recipient : message.Recipients)
        if (NeedsSmtpUtf8(recipient)) return recipient;
    return {};
}

std::string InvalidDomainText(const MailMessage& message) {
    std::vector<const std::string*> addresses{&message.Sender};
    for (const std::string& recipient : message.Recipients)
        addresses.push_back(&recipient);
    for (const std::string* address : addresses) {
        const DomainConversion converted = DomainToAscii(AddressDomain(*address));
        if (!converted.ok())
            return "The domain of the address " + *address + " is no valid domain name: " + converted.error;
    }
    return {};
}

std::string NoSmtpUtf8Text(std::string_view address) {
    return "The server cannot take the address " + std::string(address) + ": it does not offer SMTPUTF8";
}

} // namespace tarvel
