// Registry keys of the program and of the mail programs whose settings it imports.
#include "app/registry.h"

#include <utility>
#include <vector>

namespace tarvel {
namespace {

constexpr const char* LocationKey = "\\Software\\Tarvel 32";
constexpr const char* LocationValue = "Command Line";
constexpr const char* MailtoCommandKey = "\\SOFTWARE\\Classes\\MailTo\\Shell\\Open\\command";
constexpr const char* MailtoArguments = " /u %1 %2";

constexpr const char* ImnMailKey = "\\Software\\Microsoft\\Internet Mail and News\\Mail";
constexpr const char* NetscapeKey = "\\Software\\Netscape\\Netscape Navigator";
constexpr const char* NetscapeUserKey = "\\Software\\Netscape\\Netscape Navigator\\User";
constexpr const char* NetscapeServicesKey = "\\Software\\Netscape\\Netscape Navigator\\Services";

// A leading "\" in these paths means "from the root", which the registry calls want written without it.
std::string FromRoot(std::string_view path) {
    if (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    return std::string(path);
}

} // namespace

RegKey::~RegKey() {
    if (key_) RegCloseKey(key_);
}

RegKey::RegKey(RegKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
    if (this != &other) {
        if (key_) RegCloseKey(key_);
        key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
}

RegKey RegKey::Open(HKEY root, std::string_view path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, FromRoot(path).c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return RegKey();
    return RegKey(key);
}

RegKey RegKey::OpenOrCreate(HKEY root, std::string_view path) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, FromRoot(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return RegKey();
    return RegKey(key);
}

std::string RegKey::ReadText(const char* name) const {
    if (!key_) return {};
    DWORD type = 0;
    DWORD size = 0;
    LONG result = RegQueryValueExA(key_, name, nullptr, &type, nullptr, &size);
    std::vector<char> data;
    // The value may grow between the two calls; ask again with the new size.
    while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
        if (type != REG_SZ && type != REG_EXPAND_SZ) return {};
        data.assign(size + 1, '\0');
        DWORD got = size;
        result = RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
        if (result == ERROR_SUCCESS) {
            if (type != REG_SZ && type != REG_EXPAND_SZ) return {};
            data.resize(got);
            break;
        }
        size = got;
    }
    if (result != ERROR_SUCCESS) return {};
    // Text values end in a NUL, which is no part of the text; some writers leave it out.
    std::string text(data.begin(), data.end());
    if (const std::size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    return text;
}

bool RegKey::WriteText(const char* name, std::string_view value) const {
    if (!key_) return false;
    const std::string text(value);
    return RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

std::string ProgramFilePath() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return std::string(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

bool RecordProgramLocation(const std::string& exePath) {
    const RegKey key = RegKey::OpenOrCreate(HKEY_CURRENT_USER, LocationKey);
    return key.WriteText(LocationValue, exePath);
}

bool RegisterMailtoHandler(const std::string& exePath) {
    // Only an existing handler key is taken over; creating it would need more than this program knows.
    const RegKey key = RegKey::Open(HKEY_LOCAL_MACHINE, MailtoCommandKey);
    // The path goes in as the system reports it, without quotes, so the shell hands "/u" and the link on.
    return key.WriteText(nullptr, exePath + MailtoArguments);
}

void ImportMailerDefaults(Settings& settings) {
    settings.SMTPServer.clear();
    settings.EmailAddress.clear();
    settings.DialEntry.clear();
    settings.DialPassword.clear();
    settings.UseDialup = false;

    if (const RegKey imn = RegKey::Open(HKEY_CURRENT_USER, ImnMailKey)) {
        // Without a sender name the account was never set up; its other values are not trusted.
        if (!imn.ReadText("Sender Name").empty()) {
            if (settings.EmailAddress.empty()) settings.EmailAddress = imn.ReadText("Sender Email");
            if (settings.SMTPServer.empty()) settings.SMTPServer = imn.ReadText("Default SMTP Server");
        }
    }

    if (const RegKey netscape = RegKey::Open(HKEY_CURRENT_USER, NetscapeKey)) {
        if (const RegKey user = RegKey::Open(HKEY_CURRENT_USER, NetscapeUserKey)) {
            if (settings.EmailAddress.empty()) settings.EmailAddress = user.ReadText("User_Addr");
        }
        if (const RegKey services = RegKey::Open(HKEY_CURRENT_USER, NetscapeServicesKey)) {
            if (settings.SMTPServer.empty()) settings.SMTPServer = services.ReadText("SMTP_Server");
        }
    }
}

} // namespace tarvel
