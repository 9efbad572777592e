// The leading-dot rule, shared by the message writers and the tests' memory outputs.
#include "core/mail/dot_stuffing.h"

namespace tarvel {

void AppendDotStuffed(std::string& out, std::string_view lines) {
    out.reserve(out.size() + lines.size() + 1);
    std::size_t lineStart = 0;
    while (lineStart < lines.size()) {
        if (lines[lineStart] == '.') out += '.';
        const std::size_t lineEnd = lines.find("\r\n", lineStart);
        if (lineEnd == std::string_view::npos) {
            out.append(lines.substr(lineStart));
            return;
        }
        out.append(lines.substr(lineStart, lineEnd + 2 - lineStart));
        lineStart = lineEnd + 2;
    }
}

} // namespace tarvel
