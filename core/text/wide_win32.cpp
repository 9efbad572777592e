// The W functions' UTF-16 is the portable conversion's, in wchar_t.
#include "core/text/wide.h"

#include "core/text/utf8.h"

namespace tarvel {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wchar_t is UTF-16");

std::wstring Widen(std::string_view utf8) {
    const std::u16string text = Utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::string Narrow(std::wstring_view wide) {
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

} // namespace tarvel
