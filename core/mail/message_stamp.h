// The Date and Message-ID every message carries (RFC 5322 section 3.6.1 and 3.6.4), made from the local
// time, its zone and a unique token that the system supplies, so that tests can fix all three.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvel {

struct MailMessage;

// What the system tells at the moment a send starts.
struct StampInputs {
    int year = 1970;
    int month = 1;   // 1..12
    int day = 1;     // 1..31
    int weekday = 4; // 0 = Sunday
    int hour = 0;
    int minute = 0;
    int second = 0;
    int utcOffsetMinutes = 0;   // local time less UTC: +60 for "+0100"
    std::uint32_t sequence = 0; // counts the stamps this process has made
    std::uint64_t random = 0;   // from the system's random source
};

// Now, from the system clock, zone and random source (message_stamp_win32.cpp / _posix.cpp).
StampInputs SystemStampInputs();

// "Tue, 08 Dec 2026 10:15:00 +0100": English names whatever the user's language.
std::string DateValue(const StampInputs& inputs);
// "<20261208101500.1.5f3a...@domain>" with the domain of the sender's address (its A-label when it is
// beyond ASCII), or "localhost" when the address has no domain that can stand in an id.
std::string MessageIdValue(const StampInputs& inputs, std::string_view senderAddress);
// Sets the record's Date and MessageId for a new send.
void StampMessage(MailMessage& message, const StampInputs& inputs);

} // namespace tarvel
