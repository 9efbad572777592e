// A registry of the test's own: while a RegistrySandbox lives, HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE of
// this process lead to two fresh keys, so tests running side by side never read what another one wrote and
// never touch the prefix's (or the user's) real keys.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

namespace tarvel::test {

// Removes a key with everything below it; quiet when it is not there.
inline void DeleteRegistryTree(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    std::vector<std::string> children;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(name, size);
    }
    RegCloseKey(key);
    for (const std::string& child : children)
        DeleteRegistryTree(root, path + "\\" + child);
    RegDeleteKeyA(root, path.c_str());
}

class RegistrySandbox {
public:
    RegistrySandbox() {
        static std::atomic<int> serial{0};
        path_ = "Software\\TarvelTests\\Sandbox-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++serial);
        currentUser_ = Create(path_ + "\\HKCU");
        localMachine_ = Create(path_ + "\\HKLM");
        if (currentUser_ && localMachine_) {
            RegOverridePredefKey(HKEY_CURRENT_USER, currentUser_);
            RegOverridePredefKey(HKEY_LOCAL_MACHINE, localMachine_);
        }
    }
    // Runs when the test fails too (a failed check does not unwind past the fixture).
    ~RegistrySandbox() {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        if (currentUser_) RegCloseKey(currentUser_);
        if (localMachine_) RegCloseKey(localMachine_);
        DeleteRegistryTree(HKEY_CURRENT_USER, path_);
    }
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    // False when the keys could not be made; the test must not run against the real registry then.
    bool Ready() const { return currentUser_ && localMachine_; }
    // Where the sandbox lives under the real HKEY_CURRENT_USER.
    const std::string& Path() const { return path_; }

private:
    static HKEY Create(const std::string& path) {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != ERROR_SUCCESS)
            return nullptr;
        return key;
    }

    std::string path_;
    HKEY currentUser_ = nullptr;
    HKEY localMachine_ = nullptr;
};

} // namespace tarvel::test
