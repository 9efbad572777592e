// Test peers on 127.0.0.1 for the socket component: a listener on a port the system picks, the
// accepted connection, and a port that nothing listens on.
#pragma once

#include <windows.h>
#include <winsock.h>

#include <algorithm>
#include <string>
#include <utility>

namespace tarvel::test {

// WinSock for the test's own sockets, independent of the component's start-up and clean-up.
class WinSockSession {
public:
    WinSockSession() {
        WSADATA data;
        WSAStartup(257, &data);
    }
    ~WinSockSession() { WSACleanup(); }
    WinSockSession(const WinSockSession&) = delete;
    WinSockSession& operator=(const WinSockSession&) = delete;
};

inline sockaddr_in LoopbackAddress(u_short port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    return address;
}

class Socket {
public:
    Socket() = default;
    explicit Socket(SOCKET socket) : socket_(socket) {}
    Socket(Socket&& other) noexcept : socket_(std::exchange(other.socket_, INVALID_SOCKET)) {}
    Socket& operator=(Socket&& other) noexcept {
        std::swap(socket_, other.socket_);
        return *this;
    }
    ~Socket() { Close(); }

    SOCKET Get() const { return socket_; }
    bool Valid() const { return socket_ != INVALID_SOCKET; }
    void Close() {
        if (Valid()) closesocket(std::exchange(socket_, INVALID_SOCKET));
    }
    bool Send(const std::string& text) const {
        return send(socket_, text.data(), static_cast<int>(text.size()), 0) == static_cast<int>(text.size());
    }
    // Reads until `count` bytes have come, the peer has gone, or 5 s have passed without a byte.
    std::string Receive(std::size_t count) const {
        SetReceiveLimit(5000);
        std::string text;
        char buffer[4096];
        while (text.size() < count) {
            const int n =
                recv(socket_, buffer, static_cast<int>(std::min(sizeof buffer, count - text.size())), 0);
            if (n <= 0) break;
            text.append(buffer, n);
        }
        return text;
    }
    // What one more read gives within 2 s: >0 bytes, 0 closed, <0 reset or nothing came.
    int ReceiveOnce() const {
        SetReceiveLimit(2000);
        char buffer[64];
        return recv(socket_, buffer, sizeof buffer, 0);
    }

private:
    void SetReceiveLimit(int ms) const {
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
    }
    SOCKET socket_ = INVALID_SOCKET;
};

class Listener {
public:
    Listener() : socket_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address = LoopbackAddress(0);
        bind(socket_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
        listen(socket_.Get(), 5);
        int size = sizeof address;
        getsockname(socket_.Get(), reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }

    std::string Port() const { return std::to_string(port_); }
    // The next connection, or an invalid socket when none comes within 5 s.
    Socket Accept() const {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(socket_.Get(), &ready);
        timeval limit{5, 0};
        if (select(0, &ready, nullptr, nullptr, &limit) != 1) return Socket();
        return Socket(accept(socket_.Get(), nullptr, nullptr));
    }

private:
    Socket socket_;
    u_short port_ = 0;
};

// A port on 127.0.0.1 that was free a moment ago and has no listener: connects to it are refused.
inline std::string RefusingPort() {
    Socket probe(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = LoopbackAddress(0);
    bind(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    int size = sizeof address;
    getsockname(probe.Get(), reinterpret_cast<sockaddr*>(&address), &size);
    return std::to_string(ntohs(address.sin_port));
}

} // namespace tarvel::test
