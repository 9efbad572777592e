// Saving a file in one step on POSIX systems: fsync, then rename over the old file.
#include "core/config/file_os.h"

#include <cerrno>

#include <unistd.h>

#include "core/mail/byte_file.h"

namespace tarvel {

bool FlushToDisk(std::FILE* f) {
    return std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0;
}

std::string PutFileInPlace(const std::string& tmp, const std::string& path) {
    if (std::rename(tmp.c_str(), path.c_str()) == 0) return {};
    return ErrnoText(errno);
}

} // namespace tarvel
