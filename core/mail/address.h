// Addresses beyond ASCII: the domain as its A-label (IDNA, RFC 5891 and RFC 3492), and the mailbox that
// only a server offering SMTPUTF8 (RFC 6531) can take.
#pragma once

#include <string>
#include <string_view>

namespace tarvel {

struct MailMessage;

struct DomainConversion {
    std::string ascii; // the domain as it goes on the wire
    std::string error; // why it cannot; empty when it can
    bool ok() const { return error.empty(); }
};

// The part after the last "@" (empty when there is none) and the part before it (all of it then).
std::string_view AddressDomain(std::string_view address);
std::string_view AddressLocalPart(std::string_view address);
// The mailbox is beyond ASCII: no A-label stands in for it.
bool NeedsSmtpUtf8(std::string_view address);

// A domain beyond ASCII as A-labels, lower-cased; an ASCII domain exactly as it stands (the server judges
// it, as always). Labels are split at "." and the ideographic full stops.
DomainConversion DomainToAscii(std::string_view domain);
// The address with its domain as A-labels; unchanged when the domain cannot be converted.
std::string AddressToAscii(std::string_view address);
// Every "local@domain" in a header's address text (separated by blanks, ";", ",", "<" or ">") with its
// domain as A-labels.
std::string AddressListToAscii(std::string_view text);

// The first address of the record (the sender, then each recipient) whose mailbox is beyond ASCII;
// empty when there is none and the message needs nothing of the server.
std::string SmtpUtf8Address(const MailMessage& message);
// Why an address of the record cannot go out: its domain is beyond ASCII and no valid name. Empty: all can.
std::string InvalidDomainText(const MailMessage& message);
// The outcome when the server does not offer what the address needs.
std::string NoSmtpUtf8Text(std::string_view address);

// One label beyond ASCII, as code points, to its A-label ("xn--..."), by the system's rules where it has
// them (address_win32.cpp: IdnToAscii), else by PortableLabelToAscii.
DomainConversion LabelToAscii(const std::u32string& label);
// Lower-casing of the common alphabets, a refusal of controls, blanks, symbols and private or unassigned
// ranges, then RFC 3492 Punycode.
DomainConversion PortableLabelToAscii(const std::u32string& label);

} // namespace tarvel
