// Files that the message writer reads as raw bytes: an owning handle, 64-bit sizes, errno texts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace tarvel {

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using ByteFile = std::unique_ptr<std::FILE, FileCloser>;

// Paths are UTF-8 (Windows opens them through the W functions, so any name opens). Binary mode:
// Windows' text mode would turn CR LF into LF and end the file at a Ctrl-Z.
// Opens for reading; null when it cannot be opened, errno then says why.
ByteFile OpenBytes(const std::string& path);
// Creates or empties the file for writing; null when it cannot, errno then says why.
ByteFile CreateBytes(const std::string& path);
// Deletes the file; false when it cannot.
bool RemoveFile(const std::string& path);

// The size of an open regular file in bytes, 64-bit in the 32-bit build too; -1 when the file is
// not a regular file (a directory opens on POSIX systems) or cannot be sized.
std::int64_t SizeOfOpenFile(std::FILE* file);

// The C library's text for an errno value, safe to call from worker threads.
std::string ErrnoText(int error);

} // namespace tarvel
