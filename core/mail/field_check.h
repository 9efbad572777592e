// Which records the session may send at all: nothing that goes into an SMTP command or a header line
// may hold a line break, which would end that line early and start one of the sender's choosing,
// and no header line may pass the length that RFC 5322 allows.
#pragma once

#include <cstddef>
#include <string>

#include "core/mail/message.h"

namespace tarvel {

// The most octets a header line may hold before its CR LF (RFC 5322 section 2.1.1).
inline constexpr std::size_t MaxHeaderLine = 998;

// Why the record cannot be sent as it stands, as a status for the user; empty when it can.
std::string UnsendableFieldText(const MailMessage& message);

} // namespace tarvel
