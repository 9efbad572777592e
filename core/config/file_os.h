// What saving a file in one step asks of the operating system: data on the disk before the file is
// published, and the finished copy put in place of the old file at once.
#pragma once

#include <cstdio>
#include <string>

namespace tarvel {

// Flushes the stream and makes its data durable; false on failure (errno tells why).
bool FlushToDisk(std::FILE* f);
// Replaces `path` by `tmp` in a single step; empty on success, otherwise the system's reason.
std::string PutFileInPlace(const std::string& tmp, const std::string& path);

} // namespace tarvel
