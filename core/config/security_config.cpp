// zembrix.ini: an INI file with CR LF lines. [Security] holds Mode, User and LogOn, [OAuth2] the
// sign-in's provider and client, [Trusted] one "<server>=<sha256 hex>" line per server; anything else
// in the file is carried through unchanged. The file is in the code page, or in UTF-8 behind the
// byte-order mark (core/config/file_text.h).
#include "core/config/security_config.h"

#include <algorithm>
#include <cctype>

#include "core/config/atomic_file.h"
#include "core/config/file_text.h"
#include "core/oauth/provider.h"
#include "core/text/ascii.h"
#include "core/text/utf8.h"

namespace tarvel {
namespace {

constexpr const char* SecuritySection = "security";
constexpr const char* TrustedSection = "trusted";
constexpr const char* OAuthSection = "oauth2";

// The [OAuth2] keys that hold text as it is, in the order a save writes them. Provider is apart: it
// is one of three words.
struct OAuthTextKey {
    const char* name;
    const char* field; // for messages
    std::string OAuth2Settings::*member;
    bool url;
};
constexpr OAuthTextKey OAuthTextKeys[] = {
    {"ClientId", FieldClientId, &OAuth2Settings::ClientId, false},
    {"ClientSecret", FieldClientSecret, &OAuth2Settings::ClientSecret, false},
    {"Tenant", FieldTenant, &OAuth2Settings::Tenant, false},
    {"AuthorizeUrl", FieldAuthorizeUrl, &OAuth2Settings::AuthorizeUrl, true},
    {"TokenUrl", FieldTokenUrl, &OAuth2Settings::TokenUrl, true},
    {"Scope", FieldScope, &OAuth2Settings::Scope, false},
};
constexpr std::size_t FingerprintDigits = 64;

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        pos = end + 1;
    }
    return lines;
}

bool IsComment(std::string_view line) {
    const std::string_view t = TrimBlanks(line);
    return t.empty() || t.front() == ';' || t.front() == '#';
}

std::optional<std::string> SectionName(std::string_view line) {
    const std::string_view t = TrimBlanks(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') return std::nullopt;
    return AsciiLower(TrimBlanks(t.substr(1, t.size() - 2)));
}

std::optional<StorageProblem> LineBreakProblem(std::string_view field, std::string_view value) {
    if (value.find_first_of("\r\n") != std::string_view::npos)
        return StorageProblem{std::string(field),
                              "The " + std::string(field) + " must not contain a line break."};
    if (value.find('\x1A') != std::string_view::npos || value.find('\0') != std::string_view::npos)
        return StorageProblem{std::string(field),
                              "The " + std::string(field) + " must not contain a control character."};
    if (!IsValidUtf8(value))
        return StorageProblem{std::string(field), "The " + std::string(field) +
                                                      " must not contain bytes that are not UTF-8 text."};
    return std::nullopt;
}

// A value given for a key of [OAuth2] that a sign-in could not use; nullopt when it is usable. An
// empty value always is: it means "the built-in one".
std::optional<std::string> OAuthValueProblem(const OAuthTextKey& key, std::string_view value) {
    if (value.empty()) return std::nullopt;
    if (key.url && AsciiLower(value.substr(0, 8)) != "https://")
        return std::string("must begin with https://: the sign-in sends secrets to it.");
    if (key.member == &OAuth2Settings::Tenant &&
        value.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-") !=
            std::string_view::npos)
        return std::string("may hold only letters, digits, \".\" and \"-\" (a tenant name or ID).");
    if (value.find_first_of(" \t") != std::string_view::npos && key.member != &OAuth2Settings::Scope)
        return std::string("must not contain a space.");
    return std::nullopt;
}

bool HasOAuthValues(const OAuth2Settings& o) {
    if (o.Provider != OAuth2Settings{}.Provider) return true;
    for (const OAuthTextKey& key : OAuthTextKeys)
        if (!(o.*key.member).empty()) return true;
    return false;
}

std::string FileText(const SecuritySettings& s) {
    std::string text;
    // Text that is not UTF-8 came from the code page, and goes back to it unchanged.
    auto line = [&text](std::string_view value) {
        text += Utf8OrCodePage(value);
        text += "\r\n";
    };
    auto others = [&](std::string_view section) {
        for (const auto& [where, content] : s.OtherLines)
            if (where == section) line(content);
    };
    others("");
    line("[Security]");
    line(std::string("Mode=") + SecurityModeText(s.Mode));
    line("User=" + s.User);
    // Written only when it is not the default, so a password user's file stays as earlier versions wrote it.
    if (s.LogOn == LogOnMethod::OAuth2) line("LogOn=OAuth2");
    others(SecuritySection);
    bool oauthOthers = false;
    for (const auto& entry : s.OtherLines)
        oauthOthers = oauthOthers || entry.first == OAuthSection;
    if (s.LogOn == LogOnMethod::OAuth2 || HasOAuthValues(s.OAuth2) || oauthOthers) {
        line("[OAuth2]");
        line(std::string("Provider=") + oauth::ProviderText(s.OAuth2.Provider));
        for (const OAuthTextKey& key : OAuthTextKeys)
            if (!(s.OAuth2.*key.member).empty() || key.member == &OAuth2Settings::ClientId)
                line(std::string(key.name) + "=" + s.OAuth2.*key.member);
        others(OAuthSection);
    }
    bool trustedOthers = false;
    for (const auto& entry : s.OtherLines)
        trustedOthers = trustedOthers || entry.first == TrustedSection;
    if (!s.Trusted.empty() || trustedOthers) {
        line("[Trusted]");
        for (const auto& [server, fingerprint] : s.Trusted)
            line(server + "=" + fingerprint);
        others(TrustedSection);
    }
    // Sections of other programs or later versions, in the order they were read.
    std::vector<std::string> written;
    for (const auto& [where, content] : s.OtherLines) {
        if (where.empty() || where == SecuritySection || where == TrustedSection || where == OAuthSection)
            continue;
        if (std::find(written.begin(), written.end(), where) != written.end()) continue;
        written.push_back(where);
        others(where);
    }
    return text;
}

} // namespace

const char* SecurityModeText(SecurityMode mode) {
    switch (mode) {
    case SecurityMode::None:
        return "None";
    case SecurityMode::StartTls:
        return "STARTTLS";
    case SecurityMode::Implicit:
        return "SSL/TLS";
    }
    return "None";
}

std::optional<SecurityMode> ParseSecurityMode(std::string_view text) {
    const std::string lower = AsciiLower(TrimBlanks(text));
    for (SecurityMode mode : {SecurityMode::None, SecurityMode::StartTls, SecurityMode::Implicit})
        if (lower == AsciiLower(SecurityModeText(mode))) return mode;
    return std::nullopt;
}

std::string SecurityConfigPath(std::string_view exeFolder) {
    return std::string(exeFolder) + SecurityFileName;
}

std::optional<std::string> NormalizeFingerprint(std::string_view text) {
    std::string hex;
    for (const char c : TrimBlanks(text)) {
        if (c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (hex.size() != FingerprintDigits) return std::nullopt;
    return hex;
}

void LoadSecuritySettings(SecuritySettings& settings, const std::string& path) {
    const std::optional<std::string> bytes = ReadFileIfPresent(path);
    if (!bytes) return;
    const std::string content = TextOfFile(*bytes, path);

    SecuritySettings loaded;
    std::string section;
    bool haveMode = false, haveUser = false, haveLogOn = false, haveProvider = false;
    std::vector<std::string> oauthKeysSeen;
    const std::vector<std::string> lines = SplitLines(content);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        auto fail = [&](const std::string& why) {
            throw ConfigError("The configuration file \"" + path + "\" cannot be used: line " +
                              std::to_string(i + 1) + " " + why + " Nothing was changed.");
        };
        if (auto name = SectionName(line)) {
            section = *name;
            // A section header of another program's part is kept with that part's lines.
            if (section != SecuritySection && section != TrustedSection && section != OAuthSection)
                loaded.OtherLines.emplace_back(section, line);
            continue;
        }
        const bool ours = section == SecuritySection || section == TrustedSection || section == OAuthSection;
        if (!ours || IsComment(line)) {
            loaded.OtherLines.emplace_back(section, line);
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) fail("(\"" + line + "\") is not of the form name=value.");
        const std::string key = AsciiLower(TrimBlanks(std::string_view(line).substr(0, equals)));
        const std::string_view value = std::string_view(line).substr(equals + 1);
        if (section == SecuritySection) {
            if (key == "mode") {
                if (haveMode) fail("gives the connection security a second time.");
                const auto mode = ParseSecurityMode(value);
                if (!mode)
                    fail("names the connection security \"" + std::string(value) +
                         "\"; it must be None, STARTTLS or SSL/TLS.");
                loaded.Mode = *mode;
                haveMode = true;
            } else if (key == "user") {
                if (haveUser) fail("gives the user name a second time.");
                loaded.User = value;
                haveUser = true;
            } else if (key == "logon") {
                if (haveLogOn) fail("gives the log-on a second time.");
                const std::string method = AsciiLower(TrimBlanks(value));
                if (method != "password" && method != "oauth2")
                    fail("names the log-on \"" + std::string(value) + "\"; it must be Password or OAuth2.");
                loaded.LogOn = method == "oauth2" ? LogOnMethod::OAuth2 : LogOnMethod::Password;
                haveLogOn = true;
            } else {
                loaded.OtherLines.emplace_back(section, line);
            }
        } else if (section == OAuthSection) {
            const auto textKey =
                std::find_if(std::begin(OAuthTextKeys), std::end(OAuthTextKeys),
                             [&](const OAuthTextKey& k) { return AsciiLower(k.name) == key; });
            if (key == "provider") {
                if (haveProvider) fail("gives the sign-in provider a second time.");
                const auto provider = oauth::ParseProvider(value);
                if (!provider)
                    fail("names the sign-in provider \"" + std::string(value) +
                         "\"; it must be Microsoft, Google or Other.");
                loaded.OAuth2.Provider = *provider;
                haveProvider = true;
            } else if (textKey != std::end(OAuthTextKeys)) {
                if (std::find(oauthKeysSeen.begin(), oauthKeysSeen.end(), key) != oauthKeysSeen.end())
                    fail("gives the " + std::string(textKey->field) + " a second time.");
                oauthKeysSeen.push_back(key);
                const std::string_view text = TrimBlanks(value);
                if (const auto problem = OAuthValueProblem(*textKey, text))
                    fail("holds \"" + std::string(text) + "\" for " + textKey->name + ", which " + *problem);
                loaded.OAuth2.*textKey->member = std::string(text);
            } else {
                loaded.OtherLines.emplace_back(section, line);
            }
        } else {
            if (key.empty()) fail("names no server before its \"=\".");
            const auto fingerprint = NormalizeFingerprint(value);
            if (!fingerprint)
                fail("holds \"" + std::string(value) + "\" for " + key +
                     ", which is no SHA-256 fingerprint (64 hexadecimal digits).");
            if (loaded.Trusted.count(key) != 0) fail("names the server " + key + " a second time.");
            loaded.Trusted[key] = *fingerprint;
        }
    }
    settings = std::move(loaded);
}

std::optional<StorageProblem> CheckStorable(const SecuritySettings& s) {
    if (auto problem = LineBreakProblem(FieldUserName, s.User)) return problem;
    for (const OAuthTextKey& key : OAuthTextKeys) {
        const std::string& value = s.OAuth2.*key.member;
        if (auto problem = LineBreakProblem(key.field, value)) return problem;
        if (TrimBlanks(value) != value)
            return StorageProblem{key.field,
                                  "The " + std::string(key.field) + " must not begin or end with a space."};
        if (const auto problem = OAuthValueProblem(key, value))
            return StorageProblem{key.field, "The " + std::string(key.field) + " " + *problem};
    }
    for (const auto& [server, fingerprint] : s.Trusted) {
        if (auto problem = LineBreakProblem(FieldTrustedServer, server)) return problem;
        if (TrimBlanks(server).empty() || server.find('=') != std::string::npos ||
            TrimBlanks(server) != server || server.front() == '[' || server.front() == ';' ||
            server.front() == '#')
            return StorageProblem{FieldTrustedServer,
                                  "The trusted server name \"" + server + "\" cannot be stored."};
        if (!NormalizeFingerprint(fingerprint))
            return StorageProblem{FieldFingerprint, "The certificate fingerprint for " + server +
                                                        " is not 64 hexadecimal digits."};
    }
    return std::nullopt;
}

void SaveSecuritySettings(const SecuritySettings& settings, const std::string& path) {
    if (const auto problem = CheckStorable(settings))
        throw ConfigError("The configuration file \"" + path + "\" was not saved: " + problem->message);
    ReplaceFileAtomically(path, FileOfText(FileText(settings)));
}

std::optional<std::string> TrustedFingerprint(const SecuritySettings& settings, std::string_view server) {
    const auto found = settings.Trusted.find(AsciiLower(TrimBlanks(server)));
    if (found == settings.Trusted.end()) return std::nullopt;
    return found->second;
}

void TrustFingerprint(SecuritySettings& settings, std::string_view server, std::string_view fingerprint) {
    settings.Trusted[AsciiLower(TrimBlanks(server))] =
        NormalizeFingerprint(fingerprint).value_or(std::string(fingerprint));
}

CertificateVerdict JudgeCertificate(bool chainTrusted, std::string_view sha256,
                                    const SecuritySettings& settings, std::string_view server) {
    if (chainTrusted) return CertificateVerdict::Accept;
    const std::optional<std::string> fingerprint = NormalizeFingerprint(sha256);
    if (!fingerprint) return CertificateVerdict::Refuse;
    return TrustedFingerprint(settings, server) == fingerprint ? CertificateVerdict::Accept
                                                               : CertificateVerdict::Ask;
}

} // namespace tarvel
