// Link text to the system's ANSI code page, through the system's own conversion.
#include "core/link/mailto.h"

#include <windows.h>

namespace tarvel {

std::optional<std::string> Utf8ToAnsi(std::string_view utf8) {
    if (utf8.empty()) return std::string();
    const int size = static_cast<int>(utf8.size());
    const int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (wide <= 0) return std::nullopt;
    std::wstring text(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, text.data(), wide);
    const int ansi = WideCharToMultiByte(CP_ACP, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    if (ansi <= 0) return std::nullopt;
    std::string out(static_cast<std::size_t>(ansi), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), wide, out.data(), ansi, nullptr, nullptr);
    return out;
}

} // namespace tarvel
