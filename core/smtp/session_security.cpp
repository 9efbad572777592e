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

void AppendBase64(Secret& to, std::string_view bytes) {
    static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        const unsigned group =
            (data[i] << 16) | (left > 1 ? data[i + 1] << 8 : 0) | (left > 2 ? data[i + 2] : 0);
        char quad[4] = {Alphabet[(group >> 18) & 63], Alphabet[(group >> 12) & 63],
                        left > 1 ? Alphabet[(group >> 6) & 63] : '=', left > 2 ? Alphabet[group & 63] : '='};
        to.Append(std::string_view(quad, 4));
        WipeBytes(quad, sizeof quad);
    }
}

AuthMechanism ChooseAuthMechanism(const EhloOffer& offer) {
    if (offer.authPlain) return AuthMechanism::Plain;
    if (offer.authLogin) return AuthMechanism::Login;
    return AuthMechanism::None;
}

Secret AuthCommand(AuthMechanism mechanism, std::string_view user, const Secret& password) {
    constexpr std::string_view PlainVerb = "AUTH PLAIN ";
    Secret line;
    switch (mechanism) {
    case AuthMechanism::Plain: {
        const std::size_t message = user.size() + password.Size() + 2;
        line.Reserve(PlainVerb.size() + (message + 2) / 3 * 4 + 2);
        line.Append(PlainVerb);
        // NUL user NUL password, encoded a piece at a time: no plain copy of it is ever made whole.
        Secret pieces;
        pieces.Reserve(message);
        pieces.Append('\0');
        pieces.Append(user);
        pieces.Append('\0');
        pieces.Append(password.View());
        AppendBase64(line, pieces.View());
        break;
    }
    case AuthMechanism::Login:
        line.Append("AUTH LOGIN");
        break;
    case AuthMechanism::None:
        return line;
    }
    line.Append("\r\n");
    return line;
}

Secret Base64Line(std::string_view bytes) {
    Secret line;
    line.Reserve((bytes.size() + 2) / 3 * 4 + 2);
    AppendBase64(line, bytes);
    line.Append("\r\n");
    return line;
}

std::string_view CredentialProblem(std::string_view user, const Secret& password) {
    if (user.find('\0') != std::string_view::npos || password.View().find('\0') != std::string_view::npos)
        return NulInCredentialsText;
    return {};
}

void WipeSecret(std::string& secret) {
    WipeBytes(secret.data(), secret.size());
    secret.clear();
}

} // namespace tarvel
