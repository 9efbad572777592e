// What the window tests share: a bounded message pump, temporary folders on the Unix side (so that the
// Python peers see them too), and SMTP peers started from the test.
#pragma once

#include <windows.h>
#include <winsock.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <system_error>

#include "net/loopback.h"
#include "ui/application.h"

namespace ui_test {

// A WM_QUIT seen by the pump: the main window asked the program to end.
inline std::atomic<int> quitsSeen{0};

// Handles what is queued now.
inline void Drain() {
    MSG msg;
    for (int i = 0; i < 10000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (msg.message == WM_QUIT) {
            ++quitsSeen;
            continue;
        }
        tarvel::ui::Application::Dispatch(msg);
    }
}

// Pumps messages until `done` holds or `limitMs` has passed; returns `done()`.
inline bool PumpUntil(const std::function<bool()>& done, DWORD limitMs) {
    DWORD start = GetTickCount();
    for (;;) {
        Drain();
        if (done()) return true;
        if (GetTickCount() - start >= limitMs) return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// Pumps for a while regardless (lets timers tick when a test expects nothing to change).
inline void PumpFor(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

// The Windows name of a Unix path (Wine's Z: drive).
inline std::string WinPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

inline bool Exists(const std::string& winPath) {
    return GetFileAttributesA(winPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string ReadFile(const std::string& winPath) {
    std::ifstream in(winPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& winPath, const std::string& bytes) {
    std::ofstream out(winPath, std::ios::binary);
    out << bytes;
}

// A fresh folder under /tmp, removed with what it holds.
class TempFolder {
public:
    TempFolder() {
        static int counter = 0;
        unix_ = "/tmp/tarvel-ui-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(GetTickCount()) + "-" + std::to_string(++counter);
        CreateDirectoryA(WinPath(unix_).c_str(), nullptr);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(Win(), ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Unix() const { return unix_; }
    std::string Win() const { return WinPath(unix_); }
    std::string WinFile(const std::string& name) const { return Win() + "\\" + name; }

private:
    std::string unix_;
};

// A port on 127.0.0.1 that nothing listens on right now.
inline int FreePort() {
    const tarvel::test::WinSockSession winsock;
    return std::stoi(tarvel::test::RefusingPort());
}

// One SMTP peer (tests/ui/smtp_peer.py) in its own folder; stopped when this object goes.
class SmtpPeer {
public:
    SmtpPeer(const std::string& mode) : port_(FreePort()) {
        std::string command = "/usr/bin/python3 " + std::string(TARVEL_UI_TEST_DIR) + "/smtp_peer.py " +
                              mode + " " + std::to_string(port_) + " " + folder_.Unix();
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        // Wine runs a Unix program directly, but gives no handle to it: the ready and gone files tell.
        started_ =
            CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
        if (pi.hProcess) CloseHandle(pi.hProcess);
        if (pi.hThread) CloseHandle(pi.hThread);
        if (started_) started_ = WaitFor("ready", 20000);
    }
    ~SmtpPeer() {
        if (!started_) return;
        WriteFile(folder_.WinFile("stop"), "");
        WaitFor("gone", 10000);
    }
    SmtpPeer(const SmtpPeer&) = delete;
    SmtpPeer& operator=(const SmtpPeer&) = delete;

    bool Ready() const { return started_; }
    int Port() const { return port_; }
    // The n-th message the peer accepted (from 1), as JSON text; empty while there is none.
    std::string Message(int n) const {
        std::string path = folder_.WinFile("message-" + std::to_string(n) + ".json");
        return Exists(path) ? ReadFile(path) : std::string();
    }

private:
    bool WaitFor(const char* name, DWORD limitMs) const {
        std::string path = folder_.WinFile(name);
        DWORD start = GetTickCount();
        while (!Exists(path)) {
            if (GetTickCount() - start >= limitMs) return false;
            Sleep(20);
        }
        return true;
    }

    TempFolder folder_;
    int port_;
    bool started_ = false;
};

} // namespace ui_test
