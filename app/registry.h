// The registry ties the program into the desktop: its location, the "mailto:" command line, and the
// sender address and server of other mail programs, imported on a first run.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "app/settings.h"

namespace tarvel {

inline constexpr const char* MailtoRegistrationFailedText = "Unable to set Tarvel to default program.";

// An open registry key, closed when it goes. Paths may begin with "\", which means "from the root".
class RegKey {
public:
    RegKey() = default;
    ~RegKey();
    RegKey(RegKey&& other) noexcept;
    RegKey& operator=(RegKey&& other) noexcept;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // Full access, as the other programs' keys are opened too; an empty key when it does not open.
    static RegKey Open(HKEY root, std::string_view path);
    static RegKey OpenOrCreate(HKEY root, std::string_view path);

    explicit operator bool() const { return key_ != nullptr; }
    HKEY get() const { return key_; }

    // A text value (REG_SZ or REG_EXPAND_SZ, not expanded); empty when absent or of another type.
    std::string ReadText(const char* name) const;
    // Writes a REG_SZ value; a null or empty name is the key's default value.
    bool WriteText(const char* name, std::string_view value) const;

private:
    explicit RegKey(HKEY key) : key_(key) {}
    HKEY key_ = nullptr;
};

// The full path of the running program's file, as the system reports it.
std::string ProgramFilePath();

// Writes the program's path to HKCU "Software\Tarvel 32" "Command Line" each time; silent on failure.
bool RecordProgramLocation(const std::string& exePath);

// Makes the shell start `exePath /u %1 %2` for "mailto:" links. The key must already exist: false (and
// nothing created) when it does not open or cannot be written; the caller then shows
// MailtoRegistrationFailedText.
bool RegisterMailtoHandler(const std::string& exePath);

// Clears server, address and dial-up settings, then fills address and server from Internet Mail and
// News, and what is still empty from Netscape Navigator. The port is not touched.
void ImportMailerDefaults(Settings& settings);

} // namespace tarvel
