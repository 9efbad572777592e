// The dial-up manager over RASAPI32.DLL, bound at run time so that the program also runs where dial-up
// networking is not installed (there every operation quietly does nothing).
#include "platform/dialup.h"

#include "core/send/dialler.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <utility>

#include "core/text/wide.h"

namespace tarvel {

namespace {

// The library enumerates into a caller's buffer; a phone book with more entries than this fails to list.
constexpr DWORD MaxRecords = 100;
constexpr DWORD ErrorTextChars = 100;
constexpr DWORD HangUpPause = 1000;

constexpr const char* GetEntryDialParamsFailed = "RasGetEntryDialParams failed: ";
constexpr const char* DialFailed = "RasDial failed: ";
constexpr const char* DialFailedNoText = "RasDial failed: Modem error?";
constexpr const char* HangUpFailed = "RasHangUp failed.";
constexpr const char* HangUpDone = " ";
constexpr const char* StillOnlineText = "You are still online! Would you like to disconnect?";
constexpr const char* StillOnlineCaption = "Modem online";
constexpr const char* EntryNameTooLong = "Dial-up entry name is longer than 256 characters.";
constexpr const char* PasswordTooLong = "Dial-up password is longer than 256 characters.";
constexpr const char* PhoneNumberTooLong = "Dial-up phone number is longer than 128 characters.";

struct KeyClose {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using KeyHandle = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyClose>;

template <typename Fn> void Bind(HMODULE module, const char* name, Fn& slot, bool& complete) {
    if (!slot) slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!slot) complete = false;
}

// Copies a text into a zero-filled record field; the caller has checked that it fits.
template <std::size_t N> void CopyInto(WCHAR (&field)[N], std::wstring_view text) {
    std::wmemset(field, 0, N);
    if (!text.empty()) std::wmemcpy(field, text.data(), text.size());
}

template <std::size_t N> std::string FieldText(const WCHAR (&field)[N]) {
    return Narrow(std::wstring_view(field, wcsnlen(field, N)));
}

} // namespace

RasPlatform RasPlatform::System() {
    RasPlatform platform;
    platform.messageBox = &ui::SystemMessageBox;
    platform.pause = [](DWORD milliseconds) { Sleep(milliseconds); };
    platform.isWindowsNT = [] { return IsWindowsNT(); };
    return platform;
}

RasManager::RasManager() : RasManager(RasPlatform::System()) {}

RasManager::RasManager(RasPlatform platform) : platform_(std::move(platform)) {
    RasPlatform system = RasPlatform::System();
    if (!platform_.messageBox) platform_.messageBox = system.messageBox;
    if (!platform_.pause) platform_.pause = system.pause;
    if (!platform_.isWindowsNT) platform_.isWindowsNT = system.isWindowsNT;
}

void RasManager::LoadRasLibrary() {
    std::lock_guard<std::mutex> guard(loadLock_);
    // Loaded once per run, complete or not: a library that lacks an entry point will not grow one.
    if (library_) return;

    // On the NT family the remote-access service is installed only where its key exists; a user without
    // full access to it cannot dial either. Not found now means try again at the next call.
    if (platform_.isWindowsNT()) {
        HKEY raw = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Widen(platform_.rasKey).c_str(), 0, KEY_ALL_ACCESS, &raw) !=
            ERROR_SUCCESS)
            return;
        KeyHandle key(raw);
    }

    LibraryHandle loaded(LoadLibraryW(L"RASAPI32.DLL"));
    // Old loaders reported failures as small or negative numbers; a handle that reads as a negative
    // 32-bit number is still taken as one.
    if (!loaded || static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(loaded.get())) < 0) return;
    library_ = std::move(loaded);

    bool complete = true;
    HMODULE module = library_.get();
    Bind(module, "RasDialW", rasDial_, complete);
    Bind(module, "RasEnumConnectionsW", rasEnumConnections_, complete);
    Bind(module, "RasEnumEntriesW", rasEnumEntries_, complete);
    Bind(module, "RasGetConnectStatusW", rasGetConnectStatus_, complete);
    Bind(module, "RasGetErrorStringW", rasGetErrorString_, complete);
    Bind(module, "RasHangUpW", rasHangUp_, complete);
    Bind(module, "RasGetEntryDialParamsW", rasGetEntryDialParams_, complete);
    available_.store(complete);
}

void RasManager::FillRasEntries(RasEntryList& list, std::optional<std::string_view> wantedName) {
    LoadRasLibrary();
    if (!available_.load()) return;

    list.items.clear();
    list.selected = -1;

    // Only the first record's size is set: it tells the library which layout the whole buffer has.
    std::vector<RasEntryNameW> entries(MaxRecords);
    entries[0].dwSize = RasEntryNameSize;
    DWORD bytes = MaxRecords * RasEntryNameSize;
    DWORD count = 0;
    if (rasEnumEntries_(nullptr, nullptr, entries.data(), &bytes, &count) != 0 || count == 0) return;
    if (count > MaxRecords) count = MaxRecords;

    int wanted = 0;
    for (DWORD i = 0; i < count; ++i) {
        list.items.push_back(FieldText(entries[i].szEntryName));
        // The phone book tells entries apart by their exact characters, so letter case counts here as well.
        if (wantedName && list.items.back() == *wantedName) wanted = static_cast<int>(i) + 1;
    }
    list.selected = wanted - 1;
}

std::string RasManager::DialRasEntry(std::string_view entryName, std::string_view phoneNumberText,
                                     std::string_view passwordOverride) {
    std::string result;
    if (!available_.load()) return result;

    // Any line already up, ours or not, carries the mail: never dial a second one, and leave RasDialled
    // as it is so that a connection this program did not make is never hung up by it.
    std::vector<RasConnW> connections(MaxRecords);
    connections[0].dwSize = RasConnSize;
    DWORD bytes = MaxRecords * RasConnSize;
    DWORD count = 0;
    if (rasEnumConnections_(connections.data(), &bytes, &count) != 0 || count > 0) return result;

    // A text cut to fit would dial another entry, or with another password, than the user chose.
    // The limits count UTF-16 units, as the records hold them.
    const std::wstring entry = Widen(entryName);
    const std::wstring password = Widen(passwordOverride);
    const std::wstring phoneNumber = Widen(phoneNumberText);
    if (entry.size() > RasMaxEntryName) return EntryNameTooLong;
    if (password.size() > RasMaxPassword) return PasswordTooLong;

    dialParams_ = RasDialParamsW{};
    dialParams_.dwSize = RasDialParamsSize;
    CopyInto(dialParams_.szEntryName, entry);

    BOOL passwordReturned = FALSE;
    if (DWORD error = rasGetEntryDialParams_(nullptr, &dialParams_, &passwordReturned)) {
        // Dialling now would bring up a line that the caller, seeing a failure, never hangs up.
        return GetEntryDialParamsFailed + ErrorText(error).value_or(std::to_string(error));
    }

    std::size_t storedPhone = wcsnlen(dialParams_.szPhoneNumber, std::size(dialParams_.szPhoneNumber));
    if (storedPhone + phoneNumber.size() > RasMaxPhoneNumber) return PhoneNumberTooLong;

    connection_ = nullptr;
    if (!phoneNumber.empty()) {
        std::wmemcpy(dialParams_.szPhoneNumber + storedPhone, phoneNumber.data(), phoneNumber.size());
        dialParams_.szPhoneNumber[storedPhone + phoneNumber.size()] = L'\0';
    }
    if (!password.empty()) CopyInto(dialParams_.szPassword, password);

    // Synchronous: no notifier, so the call returns only once the line is up or the dial has failed.
    if (DWORD error = rasDial_(nullptr, nullptr, &dialParams_, 0, nullptr, &connection_)) {
        std::optional<std::string> text = ErrorText(error);
        result = text ? DialFailed + *text : DialFailedNoText;
        // The library may hand back a handle even for a failed dial; that half-open line is ours to close.
        dialled_.store(false);
        if (connection_) rasHangUp_(connection_);
        return result;
    }
    dialled_.store(true);
    return result;
}

std::string RasManager::HangUpRas(bool askFirst) {
    if (!available_.load() || !dialled_.load()) return HangUpDone;
    if (askFirst && platform_.messageBox(nullptr, StillOnlineText, StillOnlineCaption, MB_YESNO) != IDYES)
        return HangUpDone;
    // Offline from here on whatever the library answers: a failed hang-up is not retried.
    if (!dialled_.exchange(false)) return HangUpDone;
    if (rasHangUp_(connection_) != 0) return HangUpFailed;
    // RasHangUp returns before the line has wound down; the port needs a moment before it is free again.
    platform_.pause(HangUpPause);
    return HangUpDone;
}

std::optional<std::string> RasManager::ErrorText(DWORD code) const {
    WCHAR buffer[ErrorTextChars] = {};
    if (rasGetErrorString_(static_cast<UINT>(code), buffer, ErrorTextChars) != 0) return std::nullopt;
    return FieldText(buffer);
}

bool IsWindowsNT() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    static_assert(sizeof(OSVERSIONINFOW) == 276);
    // Unknown platforms (and a failed call) count as not NT: they get no registry check.
    return GetVersionExW(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

RasManager& TheRasManager() {
    static RasManager manager;
    return manager;
}

void LoadRasLibrary() {
    TheRasManager().LoadRasLibrary();
}

void FillRasEntries(RasEntryList& list, std::optional<std::string_view> wantedName) {
    TheRasManager().FillRasEntries(list, wantedName);
}

std::string DialRasEntry(std::string_view entryName, std::string_view phoneNumberText,
                         std::string_view passwordOverride) {
    return TheRasManager().DialRasEntry(entryName, phoneNumberText, passwordOverride);
}

std::string HangUpRas(bool askFirst) {
    return TheRasManager().HangUpRas(askFirst);
}

Dialler Dialler::System() {
    return Dialler{[] { LoadRasLibrary(); },
                   [](std::string_view entry, std::string_view phone, std::string_view password) {
                       return DialRasEntry(entry, phone, password);
                   },
                   [](bool askFirst) { return HangUpRas(askFirst); }};
}

} // namespace tarvel
