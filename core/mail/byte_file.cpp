// Opening and sizing the body file and the attachments, the same way on Windows and POSIX systems.
#include "core/mail/byte_file.h"

#include "core/mail/message.h"

#include <sys/stat.h>
#include <system_error>

namespace tarvel {

std::int64_t SizeOfOpenFile(std::FILE* file) {
#ifdef _WIN32
    // The plain _fstat keeps the size in 32 bits and fails for files over 2 GiB.
    struct _stati64 info;
    if (_fstati64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return -1;
#else
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
#endif
    return static_cast<std::int64_t>(info.st_size);
}

std::string ErrnoText(int error) {
    return std::generic_category().message(error);
}

std::int64_t FileSizeOf(const std::string& path) {
    const ByteFile file = OpenBytes(path);
    if (!file) return 0;
    const std::int64_t size = SizeOfOpenFile(file.get());
    return size < 0 ? 0 : size;
}

} // namespace tarvel
