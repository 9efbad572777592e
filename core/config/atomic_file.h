// Whole-file saves that either replace a settings file completely or leave the old one untouched,
// shared by zembrix.cfg and zembrix.ini.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// Writes the text to a temporary file in the same folder, makes it durable and then puts it in place
// of `path` in one step. Throws ConfigError naming the file and the cause; the old file stays whole
// and no temporary file is left behind.
void ReplaceFileAtomically(const std::string& path, std::string_view text);

// The whole content of a file; nullopt when it does not exist. Throws ConfigError when it exists but
// cannot be opened or read.
std::optional<std::string> ReadFileIfPresent(const std::string& path);

} // namespace tarvel
