// Cancellable blocking socket calls: short select() waits with the blocking hook run between them.
#include "platform/blocking_call.h"

#include <windows.h>
#include <winsock.h>

namespace tarvel {

namespace {

// Short enough that a cancel or a timer message is acted on at once, long enough to cost nothing.
constexpr long SliceMicroseconds = 20000;

enum class Readiness { Read, Write };

// Holds the socket non-blocking for one call; the call's error survives the switch back.
class NonBlockingScope {
public:
    explicit NonBlockingScope(SOCKET socket) : socket_(socket) {
        u_long on = 1;
        ioctlsocket(socket_, FIONBIO, &on);
    }
    ~NonBlockingScope() {
        const int error = WSAGetLastError();
        u_long off = 0;
        ioctlsocket(socket_, FIONBIO, &off);
        WSASetLastError(error);
    }
    NonBlockingScope(const NonBlockingScope&) = delete;
    NonBlockingScope& operator=(const NonBlockingScope&) = delete;

private:
    SOCKET socket_;
};

// True once the socket is ready (or has failed: the next call then names the error); false when the
// hook cancelled the wait or select itself failed, with the error set.
bool WaitReady(SOCKET socket, Readiness readiness, const BlockingHook& hook) {
    for (;;) {
        if (hook()) {
            WSASetLastError(WSAEINTR);
            return false;
        }
        fd_set ready;
        fd_set failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(socket, &ready);
        FD_SET(socket, &failed);
        timeval slice{0, SliceMicroseconds};
        const int count = select(0, readiness == Readiness::Read ? &ready : nullptr,
                                 readiness == Readiness::Write ? &ready : nullptr, &failed, &slice);
        if (count > 0) return true;
        if (count < 0) return false;
    }
}

bool WouldBlock() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

} // namespace

int BlockingConnect(std::uintptr_t handle, const void* address, int length, const BlockingHook& hook) {
    const SOCKET socket = static_cast<SOCKET>(handle);
    NonBlockingScope scope(socket);
    if (connect(socket, static_cast<const sockaddr*>(address), length) == 0) return 0;
    if (!WouldBlock() || !WaitReady(socket, Readiness::Write, hook)) return SOCKET_ERROR;
    // A refused or unreachable peer shows in the error set; the outcome is the socket's pending error.
    int error = 0;
    int size = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
        return SOCKET_ERROR;
    if (error == 0) return 0;
    WSASetLastError(error);
    return SOCKET_ERROR;
}

int BlockingSend(std::uintptr_t handle, const char* data, int length, const BlockingHook& hook) {
    const SOCKET socket = static_cast<SOCKET>(handle);
    NonBlockingScope scope(socket);
    int sent = 0;
    for (;;) {
        const int result = send(socket, data + sent, length - sent, 0);
        if (result >= 0) {
            sent += result;
            if (sent >= length) return sent;
        } else if (!WouldBlock() || !WaitReady(socket, Readiness::Write, hook)) {
            return SOCKET_ERROR;
        }
    }
}

int BlockingRecv(std::uintptr_t handle, char* buffer, int length, const BlockingHook& hook) {
    const SOCKET socket = static_cast<SOCKET>(handle);
    NonBlockingScope scope(socket);
    for (;;) {
        const int result = recv(socket, buffer, length, 0);
        if (result >= 0) return result;
        if (!WouldBlock() || !WaitReady(socket, Readiness::Read, hook)) return SOCKET_ERROR;
    }
}

void DispatchQueuedMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // The thread's own message loop must still see it once the call is over.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

} // namespace tarvel
