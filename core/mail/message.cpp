// The message record's helpers: splitting the address and attachment fields, the size estimate and
// the attachment name that the part headers carry.
#include "core/mail/message.h"

#include "core/mail/byte_file.h"
#include "core/mail/text_part.h"
#include "core/text/utf8.h"

namespace tarvel {

namespace {
// The fields are split the way the original string routines cut them: each remainder and the last
// piece hold at most this many characters.
constexpr std::size_t MaxSplitText = 100000;
constexpr std::size_t MaxAttachmentName = 255;
} // namespace

void SplitToList(std::vector<std::string>& list, std::string_view text, char separator) {
    list.clear();
    std::string_view rest = text;
    for (;;) {
        const std::size_t at = rest.find(separator);
        const bool last = at == std::string_view::npos;
        const std::string_view piece = last ? rest.substr(0, MaxSplitText) : rest.substr(0, at);
        if (!piece.empty()) list.emplace_back(piece);
        if (last) return;
        rest = rest.substr(at + 1, MaxSplitText);
    }
}

std::int64_t EstimateMessageSize(const MailMessage& message) {
    std::int64_t total = PlanTextPart(message).bodySize;
    // Base64 makes four characters of three bytes; line ends are left out, as are the headers.
    for (const std::string& path : message.Attachments)
        total += FileSizeOf(path) * 4 / 3;
    return total;
}

std::string AttachmentFileName(std::string_view path) {
    // Windows paths: the name follows the last "\" or the drive's ":". "/" stays part of the name.
    const std::size_t cut = path.find_last_of("\\:");
    const std::string_view name = cut == std::string_view::npos ? path : path.substr(cut + 1);
    return std::string(FirstCharacters(name, MaxAttachmentName));
}

} // namespace tarvel
