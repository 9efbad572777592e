// The command line of mail-to mode: "/u" and a "mailto:" link (RFC 6068), turned into the recipient,
// subject and body texts of the main window.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

inline constexpr std::size_t MaxMailToSubject = 1000;
// Begins the notice that names addresses the program cannot send as one recipient each.
inline constexpr std::string_view LinkAddressLeftOutText =
    "Left out of the link (a \";\" in quotes would split it): ";

struct MailToFields {
    std::string email;   // addresses separated by ";"
    std::string subject; // one line, at most MaxMailToSubject characters
    std::string body;    // lines separated by CR LF
    // The link's "bcc" addresses (";"-separated): not sent to, since the program has no field that
    // keeps an address out of the headers.
    std::string leftOutBcc;
    std::string notice; // addresses of the link that cannot be sent as one recipient each; empty: none
};

// The status line shown when a link's "bcc" addresses were left out.
std::string LeftOutBccStatus(const MailToFields& fields);
// What the window's status line says of the link when it opens: everything that was left out of it.
std::string MailToStatus(const MailToFields& fields);

// Converts UTF-8 text to the system's ANSI code page; nullopt when the text is not valid UTF-8.
using AnsiConverter = std::function<std::optional<std::string>(std::string_view utf8)>;

// The platform's conversion: the ANSI code page on Windows, Latin-1 elsewhere.
std::optional<std::string> Utf8ToAnsi(std::string_view utf8);
// Latin-1 where a character has a byte there, "?" otherwise.
std::optional<std::string> Utf8ToLatin1(std::string_view utf8);

// Arguments after the program path: mail-to mode only when the first is exactly "/u".
bool IsMailToMode(const std::vector<std::string>& args);

// Arguments after the program path ("/u", then the link, which the shell may have split at blanks).
MailToFields ParseMailToArguments(const std::vector<std::string>& args,
                                  const AnsiConverter& toAnsi = Utf8ToAnsi);

// One link; text without "mailto:" is taken whole as the address.
MailToFields ParseMailToLink(std::string_view link, const AnsiConverter& toAnsi = Utf8ToAnsi);

} // namespace tarvel
