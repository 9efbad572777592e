// The dial-up manager: binds RASAPI32.DLL at run time, lists phone-book entries, dials before a send and
// hangs up afterwards, but only a line it brought up itself.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/ras_api.h"
#include "win/message_box.h"

namespace tarvel {

// The item list of a drop-down list together with its selected index (-1: nothing selected). The settings
// dialog mirrors it into its combo box.
struct RasEntryList {
    std::vector<std::string> items;
    int selected = -1;
};

// The platform services the manager uses besides the library itself, replaceable so that tests can answer
// the question box, skip the pause and point the NT check at a key of their own.
struct RasPlatform {
    ui::MessageBoxCall messageBox; // returns IDYES, IDNO...; the program's one message-box call
    std::function<void(DWORD milliseconds)> pause;
    std::function<bool()> isWindowsNT;
    std::string rasKey = "Software\\Microsoft\\RAS"; // under HKEY_LOCAL_MACHINE
    static RasPlatform System();
};

class RasManager {
public:
    RasManager();
    explicit RasManager(RasPlatform platform);
    RasManager(const RasManager&) = delete;
    RasManager& operator=(const RasManager&) = delete;

    void LoadRasLibrary();
    void FillRasEntries(RasEntryList& list, std::optional<std::string_view> wantedName);
    // Empty when the send may go on (connected, already online, connections not enumerable, or dial-up
    // unavailable); otherwise the error to show. Blocks until the line is up or the dial has failed.
    std::string DialRasEntry(std::string_view entryName, std::string_view phoneNumberText,
                             std::string_view passwordOverride);
    // " " or "RasHangUp failed.".
    std::string HangUpRas(bool askFirst);

    HMODULE RasLibrary() const { return library_.get(); }
    bool RasAvailable() const { return available_.load(); }
    bool RasDialled() const { return dialled_.load(); }
    RasConnHandle RasConnection() const { return connection_; }
    const RasDialParamsW& RasDialParams() const { return dialParams_; }

private:
    struct LibraryRelease {
        void operator()(HMODULE module) const { FreeLibrary(module); }
    };
    using LibraryHandle = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryRelease>;

    std::optional<std::string> ErrorText(DWORD code) const;

    RasPlatform platform_;
    std::mutex loadLock_;   // the settings dialog and a send worker may load at the same time
    LibraryHandle library_; // kept until the manager goes, i.e. for the whole run
    std::atomic<bool> available_{false};
    RasDialWFn rasDial_ = nullptr;
    RasEnumConnectionsWFn rasEnumConnections_ = nullptr;
    RasEnumEntriesWFn rasEnumEntries_ = nullptr;
    RasGetConnectStatusWFn rasGetConnectStatus_ = nullptr;
    RasGetErrorStringWFn rasGetErrorString_ = nullptr;
    RasHangUpWFn rasHangUp_ = nullptr;
    RasGetEntryDialParamsWFn rasGetEntryDialParams_ = nullptr;
    // Written by the dial on the send worker, read by the hang-up on the user-interface thread; the
    // release/acquire on dialled_ orders the connection handle with it.
    RasConnHandle connection_ = nullptr;
    std::atomic<bool> dialled_{false};
    RasDialParamsW dialParams_{};
};

bool IsWindowsNT();

// The process-wide manager behind the free functions that the windows call.
RasManager& TheRasManager();
void LoadRasLibrary();
void FillRasEntries(RasEntryList& list, std::optional<std::string_view> wantedName);
std::string DialRasEntry(std::string_view entryName, std::string_view phoneNumberText,
                         std::string_view passwordOverride);
std::string HangUpRas(bool askFirst);

} // namespace tarvel
