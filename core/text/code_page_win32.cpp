// The ANSI code page through the system's own tables.
#include "core/text/utf8.h"

#include <windows.h>

#include "core/text/wide.h"

namespace tarvel {

std::string CodePageToUtf8(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int size = static_cast<int>(bytes.size());
    const int wide = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    if (wide <= 0) return {};
    std::wstring text(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, text.data(), wide);
    return Narrow(text);
}

std::optional<std::string> Utf8ToCodePage(std::string_view text) {
    if (!IsValidUtf8(text)) return std::nullopt;
    // The UTF-8 code page (a Windows option since 1903) holds every character, and takes no flags.
    if (text.empty() || GetACP() == CP_UTF8) return std::string(text);
    const std::wstring wide = Widen(text);
    const int size = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    const int ansi = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0, nullptr,
                                         &usedDefault);
    if (ansi <= 0 || usedDefault) return std::nullopt;
    std::string out(static_cast<std::size_t>(ansi), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, out.data(), ansi, nullptr, nullptr);
    // Some code pages map a character to bytes that read back as another: only a round trip proves it fits.
    if (CodePageToUtf8(out) != text) return std::nullopt;
    return out;
}

} // namespace tarvel
