// Label conversion where there is no Windows: the portable encoder.
#include "core/mail/address.h"

namespace tarvel {

DomainConversion LabelToAscii(const std::u32string& label) {
    return PortableLabelToAscii(label);
}

} // namespace tarvel
