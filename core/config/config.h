// Reading and writing zembrix.cfg: the settings and the name list as CR LF lines beside the executable,
// and the check that refuses values the line format cannot carry.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/config/settings.h"

namespace tarvel {

inline constexpr const char* ConfigFileName = "zembrix.cfg";
// Larger files are refused on loading (1 MB = 2^20 bytes).
inline constexpr std::size_t MaxConfigFileBytes = 1024 * 1024;

// An input/output failure of the configuration file; the message names the file and the cause.
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The executable's path up to and including its last "\" or ":" (empty when it has neither).
std::string ExeFolderOf(std::string_view exePath);
std::string ConfigPath(std::string_view exeFolder);

// Fills the settings and both lists from the file. A missing file only sets FirstRun and leaves every
// value as it was; a file that exists but cannot be read, or is larger than MaxConfigFileBytes, throws
// ConfigError and changes nothing. CR LF, a lone CR and a lone LF each end a line.
void LoadConfiguration(Settings& settings, const std::string& path);

// Rewrites the whole file through a temporary file in the same folder that then replaces it, so a
// failure leaves the old file whole. Throws ConfigError on a value the format cannot carry (nothing is
// written then) and on any failure to create, write or replace the file.
void SaveConfiguration(const Settings& settings, const std::string& path);

// The names of the stored fields, as used in StorageProblem and its messages.
inline constexpr const char* FieldSMTPServer = "SMTP server";
inline constexpr const char* FieldSMTPPort = "SMTP port";
inline constexpr const char* FieldEmailAddress = "e-mail address";
inline constexpr const char* FieldDialEntry = "dial-up entry";
inline constexpr const char* FieldDialPassword = "dial-up password";
inline constexpr const char* FieldName = "name";
inline constexpr const char* FieldAddress = "address";

// Why a value cannot be stored: the field (one of the names above) and a sentence for a message box.
struct StorageProblem {
    std::string field;
    std::string message;
};

// One value: CR, LF and Ctrl-Z end a line of the file, and a colon splits lines 1 and 3.
std::optional<StorageProblem> CheckStorableText(std::string_view fieldName, std::string_view value,
                                                bool allowColon);

// Every setting and every name list entry, in file order; the first problem found.
std::optional<StorageProblem> CheckStorable(const Settings& settings);

} // namespace tarvel
