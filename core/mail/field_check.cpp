// The field rules as one table: each single-line field, what the user calls it, and the header
// line around it.
#include "core/mail/field_check.h"

#include <algorithm>
#include <string_view>

#include "core/mail/text_part.h"

namespace tarvel {

namespace {

struct LineField {
    std::string_view label; // how the status names the field
    std::string MailMessage::*member;
    std::size_t framing; // the header line's other octets: its name and anything after the value
};

// Sender stands in "Reply-To: " and "From: " (the longer one counts) and in MAIL FROM.
constexpr LineField LineFields[] = {
    {"The sender address", &MailMessage::Sender, std::string_view("Reply-To: ").size()},
    {"The To line", &MailMessage::ToHeader, std::string_view("To: ").size()},
    {"The subject", &MailMessage::Subject, std::string_view("Subject: ").size()},
    {"The X-Attachments text", &MailMessage::XAttachments, std::string_view("X-Attachments: ;").size()},
};

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

std::string HoldsLineBreak(std::string_view label) {
    return std::string(label) + " holds a line break";
}

} // namespace

std::string UnsendableFieldText(const MailMessage& message) {
    for (const LineField& field : LineFields) {
        const std::string& value = message.*field.member;
        if (HasLineBreak(value)) return HoldsLineBreak(field.label);
        if (value.size() + field.framing > MaxHeaderLine)
            return std::string(field.label) + " is longer than one header line can hold (" +
                   std::to_string(MaxHeaderLine - field.framing) + " characters at most)";
    }
    // Domains in the To line go out as A-labels, which can be longer than what was typed: the line is
    // measured again as it will be written.
    const std::string toLines = ToHeaderLines(message);
    for (std::size_t start = 0, end; start < toLines.size(); start = end + 2) {
        end = std::min(toLines.find("\r\n", start), toLines.size());
        if (end - start > MaxHeaderLine)
            return "The To line is longer than one header line can hold (" +
                   std::to_string(MaxHeaderLine - std::string_view("To: ").size()) + " characters at most)";
    }
    for (const std::string& recipient : message.Recipients)
        if (HasLineBreak(recipient)) return HoldsLineBreak("A recipient address");
    for (const std::string& path : message.Attachments)
        if (HasLineBreak(path)) return HoldsLineBreak("An attachment path");
    return {};
}

} // namespace tarvel
