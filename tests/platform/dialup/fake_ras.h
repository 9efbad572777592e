// Test side of the scripted RASAPI32.DLL: loads the copy beside the test program, resets and exposes its
// script, and records what the manager asks of the platform (question box, pause).
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/dialup.h"
#include "platform/dialup/fake_rasapi32/fake_ras_script.h"

namespace dialup_test {

struct LibraryRelease {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using LibraryHandle = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryRelease>;

// The manager insists on the remote-access key on the NT family; Wine's prefix has it, make sure anyway.
inline bool EnsureRasKey() {
    return static_cast<bool>(tarvel::RegKey::OpenOrCreate(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\RAS"));
}

class FakeRas {
public:
    FakeRas() : module_(LoadLibraryA("rasapi32.dll")) {
        if (!module_) return;
        auto scriptFn = reinterpret_cast<FakeRasScriptFn>(
            reinterpret_cast<void*>(GetProcAddress(module_.get(), "FakeRas_Script")));
        auto resetFn = reinterpret_cast<FakeRasResetFn>(
            reinterpret_cast<void*>(GetProcAddress(module_.get(), "FakeRas_Reset")));
        if (!scriptFn || !resetFn) return;
        resetFn();
        script_ = scriptFn();
    }

    // False when Wine's own library was loaded instead (WINEDLLOVERRIDES lacks rasapi32=n,b).
    bool Loaded() const { return script_ != nullptr; }
    HMODULE Module() const { return module_.get(); }
    fake_ras::Script& Script() { return *script_; }

    std::vector<std::string> Calls() const {
        return std::vector<std::string>(script_->calls, script_->calls + script_->callCount);
    }
    void ClearCalls() { script_->callCount = 0; }

    void SetEntries(std::initializer_list<std::string> names) {
        script_->entryCount = 0;
        for (const std::string& name : names)
            SetEntry(script_->entryCount++, name);
    }
    void SetEntry(int index, const std::string& name) {
        std::memset(script_->entries[index], 0, sizeof script_->entries[index]);
        name.copy(script_->entries[index], sizeof script_->entries[index] - 1);
    }
    void AddErrorText(DWORD code, const char* text) {
        fake_ras::ErrorText& entry = script_->errorTexts[script_->errorTextCount++];
        entry.code = code;
        std::strncpy(entry.text, text, sizeof entry.text - 1);
    }
    void SetStored(const char* phone, const char* user, const char* password, const char* domain = "",
                   const char* callback = "") {
        std::strncpy(script_->storedPhoneNumber, phone, sizeof script_->storedPhoneNumber - 1);
        std::strncpy(script_->storedUserName, user, sizeof script_->storedUserName - 1);
        std::strncpy(script_->storedPassword, password, sizeof script_->storedPassword - 1);
        std::strncpy(script_->storedDomain, domain, sizeof script_->storedDomain - 1);
        std::strncpy(script_->storedCallbackNumber, callback, sizeof script_->storedCallbackNumber - 1);
    }

private:
    LibraryHandle module_;
    fake_ras::Script* script_ = nullptr;
};

// What the manager asked of the platform besides the library.
struct PlatformLog {
    struct Box {
        std::string text, caption;
        UINT type;
    };
    std::vector<Box> boxes;
    int boxAnswer = IDYES;
    std::vector<DWORD> pauses;
    std::vector<int> hangUpsBeforePause; // RasHangUpW calls seen by the fake when each pause began
};

inline int CountCalls(const std::vector<std::string>& calls, const std::string& name) {
    int n = 0;
    for (const std::string& call : calls)
        n += call == name;
    return n;
}

inline tarvel::RasPlatform RecordingPlatform(PlatformLog& log, FakeRas* fake) {
    tarvel::RasPlatform platform = tarvel::RasPlatform::System();
    platform.messageBox = [&log](HWND, const std::string& text, const std::string& caption, UINT type) {
        log.boxes.push_back({text, caption, type});
        return log.boxAnswer;
    };
    platform.pause = [&log, fake](DWORD milliseconds) {
        log.pauses.push_back(milliseconds);
        log.hangUpsBeforePause.push_back(fake && fake->Loaded() ? CountCalls(fake->Calls(), "RasHangUpW")
                                                                : -1);
    };
    return platform;
}

// A fresh manager over the scripted library for each case, with the box and the pause recorded.
class FakeRasTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fake.Loaded()) << "the scripted rasapi32.dll beside the test was not loaded "
                                      "(WINEDLLOVERRIDES needs rasapi32=n,b)";
        ASSERT_TRUE(EnsureRasKey()) << "cannot open HKLM\\Software\\Microsoft\\RAS, error " << GetLastError();
        manager = std::make_unique<tarvel::RasManager>(RecordingPlatform(log, &fake));
    }

    // Loads the library into the manager and forgets the calls made so far.
    void Load() {
        manager->LoadRasLibrary();
        ASSERT_TRUE(manager->RasAvailable());
        fake.ClearCalls();
    }

    FakeRas fake;
    PlatformLog log;
    std::unique_ptr<tarvel::RasManager> manager;
};

using Calls = std::vector<std::string>;

} // namespace dialup_test
