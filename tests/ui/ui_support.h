// What the window tests share besides the pump and the temporary folder (tests/support): SMTP peers
// started from the test.
#pragma once

#include <windows.h>
#include <winsock.h>

#include <string>

#include "platform/loopback.h"
#include "support/pump.h"
#include "support/temp_folder.h"

namespace tarvel::test {

inline bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A port on 127.0.0.1 that nothing listens on right now.
inline int FreePort() {
    const WinSockSession winsock;
    return std::stoi(RefusingPort());
}

// One SMTP peer (tests/support/smtp_peer.py) in its own folder; stopped when this object goes.
class SmtpPeer {
public:
    SmtpPeer(const std::string& mode) : port_(FreePort()) {
        std::string command = "/usr/bin/python3 " + std::string(TARVEL_SUPPORT_DIR) + "/smtp_peer.py " +
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
        TempFolder::PutFile(folder_.File("stop"), "");
        WaitFor("gone", 10000);
    }
    SmtpPeer(const SmtpPeer&) = delete;
    SmtpPeer& operator=(const SmtpPeer&) = delete;

    bool Ready() const { return started_; }
    int Port() const { return port_; }
    // The n-th message the peer accepted (from 1), as JSON text; empty while there is none.
    std::string Message(int n) const {
        std::string path = folder_.File("message-" + std::to_string(n) + ".json");
        return Exists(path) ? TempFolder::ReadFile(path) : std::string();
    }

private:
    bool WaitFor(const char* name, DWORD limitMs) const {
        std::string path = folder_.File(name);
        DWORD start = GetTickCount();
        while (!Exists(path)) {
            if (GetTickCount() - start >= limitMs) return false;
            Sleep(20);
        }
        return true;
    }

    TempFolder folder_{TempFolder::Place::Linux};
    int port_;
    bool started_ = false;
};

} // namespace tarvel::test
