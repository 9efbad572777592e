// Registry keys of the program and of the mail programs whose settings it imports.
#include "platform/registry.h"

#include <shellapi.h>

#include <utility>
#include <vector>

#include "core/text/wide.h"

namespace tarvel {
namespace {

constexpr const char* LocationKey = "\\Software\\Tarvel 32";
constexpr const char* LocationValue = "Command Line";
constexpr const char* MailtoCommandKey = "\\SOFTWARE\\Classes\\MailTo\\Shell\\Open\\command";
constexpr const char* MailtoArguments = " /u \"%1\"";

// Per-user registration: the protocol handler, and the entries through which Windows 10 and later list
// the program under Default apps (a ProgID of its own, named by the program's URL associations).
constexpr const char* UserMailtoKey = "Software\\Classes\\mailto";
constexpr const char* ProgId = "TarvelPro.mailto";
constexpr const char* ProgIdKey = "Software\\Classes\\TarvelPro.mailto";
constexpr const char* ClientKey = "Software\\Clients\\Mail\\Tarvel Pro";
constexpr const char* CapabilitiesKey = "Software\\Clients\\Mail\\Tarvel Pro\\Capabilities";
constexpr const char* RegisteredApplicationsKey = "Software\\RegisteredApplications";
constexpr const char* ApplicationName = "Tarvel Pro";

constexpr const char* ImnMailKey = "\\Software\\Microsoft\\Internet Mail and News\\Mail";
constexpr const char* NetscapeKey = "\\Software\\Netscape\\Netscape Navigator";
constexpr const char* NetscapeUserKey = "\\Software\\Netscape\\Netscape Navigator\\User";
constexpr const char* NetscapeServicesKey = "\\Software\\Netscape\\Netscape Navigator\\Services";

// A leading "\" in these paths means "from the root", which the registry calls want written without it.
std::wstring FromRoot(std::string_view path) {
    if (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    return Widen(path);
}

// A value name in UTF-16; null stays null (the key's default value).
struct ValueName {
    explicit ValueName(const char* name) : text(name ? Widen(name) : std::wstring()), isDefault(!name) {}
    const wchar_t* Get() const { return isDefault ? nullptr : text.c_str(); }
    std::wstring text;
    bool isDefault;
};

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
    if (RegOpenKeyExW(root, FromRoot(path).c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return RegKey();
    return RegKey(key);
}

RegKey RegKey::OpenOrCreate(HKEY root, std::string_view path) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, FromRoot(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return RegKey();
    return RegKey(key);
}

std::string RegKey::ReadText(const char* name) const {
    if (!key_) return {};
    DWORD type = 0;
    DWORD size = 0;
    const ValueName value(name);
    LONG result = RegQueryValueExW(key_, value.Get(), nullptr, &type, nullptr, &size);
    std::vector<wchar_t> data;
    // The value may grow between the two calls; ask again with the new size.
    while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
        if (type != REG_SZ && type != REG_EXPAND_SZ) return {};
        // Sizes are in bytes; an odd one (a value written carelessly) still gets room for its last byte.
        data.assign(size / sizeof(wchar_t) + 2, L'\0');
        DWORD got = size;
        result =
            RegQueryValueExW(key_, value.Get(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
        if (result == ERROR_SUCCESS) {
            if (type != REG_SZ && type != REG_EXPAND_SZ) return {};
            data.resize(got / sizeof(wchar_t));
            break;
        }
        size = got;
    }
    if (result != ERROR_SUCCESS) return {};
    // Text values end in a NUL, which is no part of the text; some writers leave it out.
    std::wstring text(data.begin(), data.end());
    if (const std::size_t nul = text.find(L'\0'); nul != std::wstring::npos) text.resize(nul);
    return Narrow(text);
}

bool RegKey::WriteText(const char* name, std::string_view value) const {
    if (!key_) return false;
    const std::wstring text = Widen(value);
    return RegSetValueExW(key_, ValueName(name).Get(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::string ProgramFilePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return Narrow(std::wstring_view(buffer.data(), n));
        buffer.resize(buffer.size() * 2);
    }
}

bool RecordProgramLocation(const std::string& exePath) {
    const RegKey key = RegKey::OpenOrCreate(HKEY_CURRENT_USER, LocationKey);
    return key.WriteText(LocationValue, exePath);
}

std::string MailtoCommandLine(const std::string& exePath) {
    return "\"" + exePath + "\"" + MailtoArguments;
}

namespace {

struct Value {
    const char* key;
    const char* name; // null: the key's default value
    std::string text;
};

bool WriteValues(HKEY root, const std::vector<Value>& values) {
    if (!root) return false;
    bool all = true;
    for (const Value& value : values) {
        const RegKey key = RegKey::OpenOrCreate(root, value.key);
        all = key.WriteText(value.name, value.text) && all;
    }
    return all;
}

bool RegisterForUser(HKEY root, const std::string& exePath) {
    const std::string command = MailtoCommandLine(exePath);
    const std::string icon = "\"" + exePath + "\",0";
    const std::string userCommandKey = std::string(UserMailtoKey) + "\\shell\\open\\command";
    const std::string progIdCommandKey = std::string(ProgIdKey) + "\\shell\\open\\command";
    const std::string clientCommandKey = std::string(ClientKey) + "\\shell\\open\\command";
    const std::string associationsKey = std::string(CapabilitiesKey) + "\\URLAssociations";
    const std::string userIconKey = std::string(UserMailtoKey) + "\\DefaultIcon";
    const std::string progIdIconKey = std::string(ProgIdKey) + "\\DefaultIcon";
    return WriteValues(root, {
                                 {UserMailtoKey, nullptr, "URL:MailTo Protocol"},
                                 {UserMailtoKey, "URL Protocol", ""},
                                 {userIconKey.c_str(), nullptr, icon},
                                 {userCommandKey.c_str(), nullptr, command},
                                 {ProgIdKey, nullptr, "Tarvel Pro mailto link"},
                                 {ProgIdKey, "URL Protocol", ""},
                                 {progIdIconKey.c_str(), nullptr, icon},
                                 {progIdCommandKey.c_str(), nullptr, command},
                                 {ClientKey, nullptr, ApplicationName},
                                 {clientCommandKey.c_str(), nullptr, "\"" + exePath + "\""},
                                 {CapabilitiesKey, "ApplicationName", ApplicationName},
                                 {CapabilitiesKey, "ApplicationDescription",
                                  "Sends e-mail from the notification area and from mailto: links."},
                                 {associationsKey.c_str(), "mailto", ProgId},
                                 {RegisteredApplicationsKey, ApplicationName, CapabilitiesKey},
                             });
}

} // namespace

bool RegisterMailtoHandler(const std::string& exePath, const RegistryRoots& roots) {
    const bool user = RegisterForUser(roots.user, exePath);
    // Machine-wide only an existing handler key is taken over; creating it would need more than this
    // program knows. A standard user cannot write there, which the per-user keys make up for.
    bool machine = false;
    if (roots.machine) {
        const RegKey key = RegKey::Open(roots.machine, MailtoCommandKey);
        machine = key.WriteText(nullptr, MailtoCommandLine(exePath));
    }
    return user || machine;
}

namespace {

// GetVersionExA reports what the manifest claims; ntdll tells the truth.
DWORD SystemMajorVersion() {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto get = ntdll ? reinterpret_cast<RtlGetVersionFn>(
                                 reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                           : nullptr;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    return get && get(&info) == 0 ? info.dwMajorVersion : 0;
}

} // namespace

bool OpenDefaultAppsPage() {
    if (SystemMajorVersion() < 10) return false;
    // Where the system knows the ms-settings: scheme, it has the page; Wine does not.
    HKEY scheme = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"ms-settings", 0, KEY_READ, &scheme) != ERROR_SUCCESS) return false;
    RegCloseKey(scheme);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = L"ms-settings:defaultapps";
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info) != FALSE;
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
