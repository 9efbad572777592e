#include "core/mail/send_outcome.h"

#include <ostream>

namespace tarvel {

namespace {
bool Control(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}
} // namespace

std::string StatusLineText(std::string_view text) {
    std::string line;
    for (const char c : text) {
        if (!Control(static_cast<unsigned char>(c))) {
            line += c;
        } else if ((c == '\n' || c == '\r') && !line.empty() && line.back() != ' ') {
            line += ' ';
        }
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    if (line.size() <= StatusLineLimit) return line;
    std::size_t cut = StatusLineLimit - 3;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
        --cut;
    line.resize(cut);
    return line + "...";
}

std::string HintText(std::string_view text) {
    std::string hint;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n') {
            hint += "\r\n";
        } else if (!Control(static_cast<unsigned char>(c))) {
            hint += c;
        }
    }
    while (hint.ends_with("\r\n"))
        hint.resize(hint.size() - 2);
    return hint;
}

const char* SendOutcomeKindName(SendOutcome::Kind kind) {
    switch (kind) {
    case SendOutcome::Kind::None:
        return "None";
    case SendOutcome::Kind::Accepted:
        return "Accepted";
    case SendOutcome::Kind::Refused:
        return "Refused";
    case SendOutcome::Kind::Failed:
        return "Failed";
    }
    return "?";
}

std::ostream& operator<<(std::ostream& out, const SendOutcome& outcome) {
    return out << SendOutcomeKindName(outcome.kind) << " \"" << outcome.text << "\"";
}

} // namespace tarvel
