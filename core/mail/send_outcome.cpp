#include "core/mail/send_outcome.h"

#include <ostream>

namespace tarvel {

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
