// The command line of mail-to mode: "/u" and a "mailto:" link (RFC 6068), turned into the recipient,
// subject and body texts of the main window.
#pragma once

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
    std::string subject; // one line, at most MaxMailToSubject characters (not bytes)
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

// Arguments after the program path: mail-to mode only when the first is exactly "/u".
bool IsMailToMode(const std::vector<std::string>& args);

// Arguments after the program path ("/u", then the link, which the shell may have split at blanks).
// The fields are UTF-8: percent-encoded octets are UTF-8 (RFC 6068 section 5), and a run of them that is
// not is read in the code page, as links written for older programs are; so is unencoded text that is
// not UTF-8.
MailToFields ParseMailToArguments(const std::vector<std::string>& args);

// One link; text without "mailto:" is taken whole as the address.
MailToFields ParseMailToLink(std::string_view link);

} // namespace tarvel
