// Choosing between the code page and UTF-8 for the configuration files.
#include "core/config/file_text.h"

#include "core/config/config.h"
#include "core/text/utf8.h"

namespace tarvel {

std::string TextOfFile(std::string_view bytes, const std::string& path) {
    if (!bytes.starts_with(Utf8ByteOrderMark)) return CodePageToUtf8(bytes);
    bytes.remove_prefix(Utf8ByteOrderMark.size());
    if (!IsValidUtf8(bytes))
        throw ConfigError("The configuration file \"" + path +
                          "\" begins with the UTF-8 byte-order mark but is not UTF-8 text; it was not read.");
    return std::string(bytes);
}

std::string FileOfText(std::string_view text) {
    if (std::optional<std::string> inCodePage = Utf8ToCodePage(text)) return std::move(*inCodePage);
    return std::string(Utf8ByteOrderMark) + std::string(text);
}

} // namespace tarvel
