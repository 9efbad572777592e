// Whole-file replacement through a temporary copy in the same folder, and whole-file reads, with
// error texts that name the file and the system's cause.
#include "core/config/atomic_file.h"

#include <cerrno>
#include <cstdio>

#include "core/config/config.h"
#include "core/config/file_os.h"
#include "core/mail/byte_file.h"

namespace tarvel {
namespace {

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

// Puts the finished temporary file in place of the old one in a single step; the old file is whole
// until then.
void PutInPlace(const std::string& tmp, const std::string& path) {
    const std::string failure = PutFileInPlace(tmp, path);
    if (!failure.empty())
        throw ConfigError("Cannot save the configuration file " + Quoted(path) + ": it cannot be replaced (" +
                          failure + ").");
}

} // namespace

void ReplaceFileAtomically(const std::string& path, std::string_view text) {
    // A fixed name in the same folder: the rename below must not cross file systems, and a file left
    // by an interrupted save is simply reused.
    const std::string tmp = path + ".tmp";
    ByteFile f = CreateBytes(tmp);
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
        RemoveFile(tmp);
        throw ConfigError("Cannot save the configuration file " + Quoted(path) + ": its temporary copy " +
                          Quoted(tmp) + " cannot be written (" + ErrnoText(error) + ").");
    }
    try {
        PutInPlace(tmp, path);
    } catch (const ConfigError&) {
        RemoveFile(tmp);
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
