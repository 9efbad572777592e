// Link text to the "ANSI code page" where there is none: Latin-1, as the portable tests expect.
#include "core/link/mailto.h"

namespace tarvel {

std::optional<std::string> Utf8ToAnsi(std::string_view utf8) {
    return Utf8ToLatin1(utf8);
}

} // namespace tarvel
