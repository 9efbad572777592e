// The registry ties the program into the desktop: its location, the "mailto:" command line, and the
// sender address and server of other mail programs, imported on a first run.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "core/config/settings.h"

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

// The roots that the "mailto:" registration writes under. Tests give keys of their own; a null root
// stands for one that cannot be written (HKLM for a standard user).
struct RegistryRoots {
    HKEY user = HKEY_CURRENT_USER;
    HKEY machine = HKEY_LOCAL_MACHINE;
};

// The command the shell runs for a link: the program's path and the link each in quotes, so that
// blanks in either cannot split them.
std::string MailtoCommandLine(const std::string& exePath);

// Makes the program the handler of "mailto:" links for the current user (Software\Classes\mailto),
// registers it where Default apps lists mail programs (Software\Clients\Mail, RegisteredApplications),
// and, when it can, sets the machine-wide command key too (only an existing one is taken over). False
// only when neither the user's nor the machine's keys could be written; the caller then shows
// MailtoRegistrationFailedText.
bool RegisterMailtoHandler(const std::string& exePath, const RegistryRoots& roots = {});

// Windows 10 and later no longer let a program make itself the default: their Default apps page lets
// the user confirm. False, with nothing shown, where the system has no such page (older Windows, Wine).
bool OpenDefaultAppsPage();

// Clears server, address and dial-up settings, then fills address and server from Internet Mail and
// News, and what is still empty from Netscape Navigator. The port is not touched.
void ImportMailerDefaults(Settings& settings);

} // namespace tarvel
