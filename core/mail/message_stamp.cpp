// Formats the Date and Message-ID header values from the inputs the system gave.
#include "core/mail/message_stamp.h"

#include <cstdio>

#include "core/mail/address.h"
#include "core/mail/message.h"

namespace tarvel {

namespace {

constexpr const char* Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// RFC 5322 dot-atom-text: what an id's right side may hold without quoting.
bool DotAtom(std::string_view text) {
    if (text.empty() || text.front() == '.' || text.back() == '.' ||
        text.find("..") != std::string_view::npos)
        return false;
    for (char c : text) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && std::string_view("!#$%&'*+-/=?^_`{|}~.").find(c) == std::string_view::npos)
            return false;
    }
    return true;
}

} // namespace

std::string DateValue(const StampInputs& in) {
    const int offset = in.utcOffsetMinutes < 0 ? -in.utcOffsetMinutes : in.utcOffsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d",
                  Days[(in.weekday % 7 + 7) % 7], in.day, Months[((in.month - 1) % 12 + 12) % 12], in.year,
                  in.hour, in.minute, in.second, in.utcOffsetMinutes < 0 ? '-' : '+', offset / 60 % 100,
                  offset % 60);
    return text;
}

std::string MessageIdValue(const StampInputs& in, std::string_view senderAddress) {
    const DomainConversion domain = DomainToAscii(AddressDomain(senderAddress));
    const std::string right = domain.ok() && DotAtom(domain.ascii) ? domain.ascii : "localhost";
    char left[96];
    std::snprintf(left, sizeof left, "%04d%02d%02d%02d%02d%02d.%X.%016llX", in.year, in.month, in.day,
                  in.hour, in.minute, in.second, static_cast<unsigned>(in.sequence),
                  static_cast<unsigned long long>(in.random));
    std::string id = "<";
    id.append(left).append("@").append(right).append(">");
    return id;
}

void StampMessage(MailMessage& message, const StampInputs& inputs) {
    message.Date = DateValue(inputs);
    message.MessageId = MessageIdValue(inputs, message.Sender);
}

} // namespace tarvel
