// Whole-file replacement through a temporary copy in the same folder, and whole-file reads, with
// error texts that name the file and the system's cause.
#include "app/atomic_file.h"

#include <cerrno>
#include <cstdio>

#include "app/config.h"
#include "mail/byte_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tarvel {
namespace {

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

// Makes the file's data durable before the rename publishes it.
bool FlushToDisk(std::FILE* f) {
    if (std::fflush(f) != 0) return false;
#ifdef _WIN32
    return true; // MOVEFILE_WRITE_THROUGH below waits for the data
#else
    return ::fsync(::fileno(f)) == 0;
#endif
}

#ifdef _WIN32
std::string SystemErrorText(DWORD error) {
    char buffer[512] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                   0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, n);
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text.empty() ? "error " + std::to_string(error) : text;
}
#endif

// Puts the finished temporary file in place of the old one in a single step; the old file is whole
// until then.
void PutInPlace(const std::string& tmp, const std::string& path) {
#ifdef _WIN32
    if (!MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        throw ConfigError("Cannot save the configuration file " + Quoted(path) + ": it cannot be replaced (" +
                          SystemErrorText(error) + ").");
    }
#else
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        throw ConfigError("Cannot save the configuration file " + Quoted(path) + ": it cannot be replaced (" +
                          ErrnoText(error) + ").");
    }
#endif
}

} // namespace

void ReplaceFileAtomically(const std::string& path, std::string_view text) {
    // A fixed name in the same folder: the rename below must not cross file systems, and a file left
    // by an interrupted save is simply reused.
    const std::string tmp = path + ".tmp";
    ByteFile f(std::fopen(tmp.c_str(), "wb"));
    if (!f) {
        const int error = errno;
        throw ConfigError("Cannot save the configuration file " + Quoted(path) + ": its temporary copy " +
                          Quoted(tmp) + " cannot be created (" + ErrnoText(error) + ").");
    }
    bool written = std::fwrite(text.data(), 1, text.size(), f.get()) == text.size() && FlushToDisk(f.get());
    int error = written ? 0 : errno;
    if (std::fclose(f.release()) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        std::remove(tmp.c_str());
        throw ConfigError("Cannot save the configuration file " + Quoted(path) + ": its temporary copy " +
                          Quoted(tmp) + " cannot be written (" + ErrnoText(error) + ").");
    }
    try {
        PutInPlace(tmp, path);
    } catch (const ConfigError&) {
        std::remove(tmp.c_str());
        throw;
    }
}

std::optional<std::string> ReadFileIfPresent(const std::string& path) {
    errno = 0;
    ByteFile f = OpenBytes(path);
    if (!f) {
        const int error = errno;
        if (error == ENOENT) return std::nullopt;
        throw ConfigError("Cannot open the configuration file " + Quoted(path) + " (" + ErrnoText(error) +
                          ").");
    }
    std::string content;
    char buffer[4096];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, f.get());
        content.append(buffer, got);
        if (got < sizeof buffer) break;
    }
    if (std::ferror(f.get())) {
        const int error = errno;
        throw ConfigError("Cannot read the configuration file " + Quoted(path) + " (" + ErrnoText(error) +
                          ").");
    }
    return content;
}

} // namespace tarvel
