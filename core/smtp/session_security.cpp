// EHLO keywords, SASL texts and secret wiping for the secure part of the SMTP session.
#include "core/smtp/session_security.h"

#include <algorithm>
#include <cctype>

#include "core/mail/base64.h"

namespace tarvel {
namespace {

std::string Upper(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

std::vector<std::string> Words(std::string_view text) {
    std::vector<std::string> words;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = text.find_first_not_of(" \t", pos);
        if (start == std::string_view::npos) break;
        std::size_t end = text.find_first_of(" \t", start);
        if (end == std::string_view::npos) end = text.size();
        words.emplace_back(text.substr(start, end - start));
        pos = end;
    }
    return words;
}

} // namespace

EhloOffer ParseEhloOffer(std::string_view reply) {
    EhloOffer offer;
    bool first = true;
    std::size_t pos = 0;
    while (pos < reply.size()) {
        std::size_t end = reply.find('\n', pos);
        if (end == std::string_view::npos) end = reply.size();
        std::string_view line = reply.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (first) {
            first = false;
            continue;
        }
        // "250-KEYWORD params" or "250 KEYWORD params".
        if (line.size() < 4) continue;
        std::vector<std::string> words = Words(Upper(line.substr(4)));
        if (words.empty()) continue;
        if (words[0].rfind("AUTH=", 0) == 0) {
            words.push_back(words[0].substr(5));
            words[0] = "AUTH";
        }
        if (words[0] == "STARTTLS") offer.startTls = true;
        if (words[0] == "SMTPUTF8") offer.smtpUtf8 = true;
        if (words[0] != "AUTH") continue;
        for (std::size_t i = 1; i < words.size(); ++i) {
            offer.authPlain = offer.authPlain || words[i] == "PLAIN";
            offer.authLogin = offer.authLogin || words[i] == "LOGIN";
        }
    }
    return offer;
}

std::string Base64(std::string_view bytes) {
    constexpr std::size_t Group = 57; // what one call of the line encoder takes
    std::string text, piece;
    text.reserve((bytes.size() + 2) / 3 * 4); // no reallocation leaves copies behind
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t i = 0; i < bytes.size(); i += Group) {
        EncodeBase64LineInto(piece, data + i, std::min(Group, bytes.size() - i));
        text += piece;
    }
    WipeSecret(piece);
    return text;
}

std::string AuthPlainResponse(std::string_view user, std::string_view password) {
    std::string message;
    message.reserve(user.size() + password.size() + 2);
    message += '\0';
    message += user;
    message += '\0';
    message += password;
    std::string response = Base64(message);
    WipeSecret(message);
    return response;
}

void WipeSecret(std::string& secret) {
    // Through a volatile pointer so that the stores are kept although the string is cleared after.
    volatile char* bytes = secret.data();
    for (std::size_t i = 0; i < secret.size(); ++i)
        bytes[i] = 0;
    secret.clear();
}

} // namespace tarvel
