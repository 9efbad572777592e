// Base64 lines for attachments, written into a buffer the caller reuses from block to block.
#pragma once

#include <cstddef>
#include <string>

namespace tarvel {

// Replaces `line` with the base64 text of at most 57 bytes (more are cut to 57), as EncodeBase64Line
// does, but without a new allocation for every block of a large attachment.
void EncodeBase64LineInto(std::string& line, const unsigned char* bytes, std::size_t count);

} // namespace tarvel
