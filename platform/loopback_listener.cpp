// The loopback listener over WinSock 2: one event for the listening socket and every connection it
// accepted, waited on in slices short enough to notice a cancel.
#include <winsock2.h>

#include <windows.h>

#include "platform/loopback_listener.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace tarvel {
namespace {

using oauth::BrowserPage;
using oauth::WaitEnd;
using oauth::WaitResult;

// More connections than a browser opens to one origin at once; beyond them new ones are closed.
constexpr std::size_t MaxConnections = 16;
// How soon a wait notices its cancel flag.
constexpr long long CancelSliceMs = 100;

constexpr std::string_view TooLongText =
    "The browser's answer to the sign-in was longer than 8 KiB; nothing was stored.";

struct Connection {
    SOCKET socket = INVALID_SOCKET;
    std::string received;
};

void CloseSocket(SOCKET& socket) {
    if (socket != INVALID_SOCKET) closesocket(std::exchange(socket, INVALID_SOCKET));
}

std::string HtmlEscaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Sends the answer and closes so that the browser sees all of it: a close with the rest of the request
// still unread would reset the connection, and the browser could show an error instead of the page.
void Answer(SOCKET& socket, const BrowserPage& page) {
    WSAEventSelect(socket, nullptr, 0);
    u_long blocking = 0;
    ioctlsocket(socket, FIONBIO, &blocking);
    const std::string response = LoopbackResponse(page);
    const DWORD limit = 2000;
    setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    for (std::size_t sent = 0; sent < response.size();) {
        const int n = send(socket, response.data() + sent, static_cast<int>(response.size() - sent), 0);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    shutdown(socket, SD_SEND);
    char drain[512];
    while (recv(socket, drain, sizeof drain, 0) > 0) {
    }
    CloseSocket(socket);
}

// The redirect URI is "http://127.0.0.1:<port>/": its path only, with or without a query.
bool IsRedirectTarget(std::string_view target) {
    return target == "/" || target.starts_with("/?");
}

} // namespace

std::string LoopbackResponse(const BrowserPage& page) {
    const std::string body =
        "<!DOCTYPE html>\r\n<html><head><meta charset=\"utf-8\"><title>Tarvel Pro</title>"
        "</head><body><p>" +
        HtmlEscaped(page.text) + "</p></body></html>\r\n";
    const char* reason = page.status == 200   ? "OK"
                         : page.status == 404 ? "Not Found"
                         : page.status == 414 ? "URI Too Long"
                                              : "Bad Request";
    return "HTTP/1.1 " + std::to_string(page.status) + " " + reason +
           "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nConnection: close\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

struct LoopbackListener::State {
    bool started = false; // WSAStartup succeeded
    SOCKET listening = INVALID_SOCKET;
    HANDLE network = WSA_INVALID_EVENT;
    std::uint16_t port = 0;
    std::vector<Connection> connections;

    ~State() {
        for (Connection& c : connections)
            CloseSocket(c.socket);
        CloseSocket(listening);
        if (network != WSA_INVALID_EVENT) WSACloseEvent(network);
        if (started) WSACleanup();
    }

    void AcceptWaiting() {
        for (;;) {
            SOCKET accepted = accept(listening, nullptr, nullptr);
            if (accepted == INVALID_SOCKET) return; // WSAEWOULDBLOCK: FD_ACCEPT is armed again
            if (connections.size() >= MaxConnections ||
                WSAEventSelect(accepted, network, FD_READ | FD_CLOSE) != 0) {
                CloseSocket(accepted);
                continue;
            }
            connections.push_back({accepted, {}});
        }
    }

    // Reads what each connection has; the first complete request line of the redirect ends the wait.
    std::optional<WaitResult> ReadWaiting(const LoopbackPage& page) {
        for (Connection& c : connections) {
            char buffer[2048];
            int n = 0;
            while (c.socket != INVALID_SOCKET && (n = recv(c.socket, buffer, sizeof buffer, 0)) > 0) {
                c.received.append(buffer, static_cast<std::size_t>(n));
                if (auto result = Served(c, page)) return result;
            }
            if (n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK)) CloseSocket(c.socket);
        }
        std::erase_if(connections, [](const Connection& c) { return c.socket == INVALID_SOCKET; });
        return std::nullopt;
    }

    std::optional<WaitResult> Served(Connection& c, const LoopbackPage& page) {
        const std::size_t end = c.received.find('\n');
        // The line's length without its CR LF; a CR that came alone may still be followed by its LF.
        std::size_t length = end == std::string::npos ? c.received.size() : end;
        if (length > 0 && c.received[length - 1] == '\r') --length;
        if (length > MaxRequestLine) {
            Answer(c.socket, {414, std::string(TooLongText)});
            return WaitResult{WaitEnd::Failed, {}, std::string(TooLongText)};
        }
        if (end == std::string::npos) return std::nullopt;
        const std::string requestLine = c.received.substr(0, length);
        const std::string_view line(requestLine);
        const std::size_t space = line.find(' ');
        const std::string_view method = line.substr(0, space);
        std::string_view target =
            space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        target = target.substr(0, target.find(' '));
        if (method != "GET" || !IsRedirectTarget(target)) {
            Answer(c.socket, {404, "Not found."});
            return std::nullopt;
        }
        Answer(c.socket, page(requestLine));
        return WaitResult{WaitEnd::Request, requestLine, {}};
    }
};

LoopbackListener::LoopbackListener() : state_(std::make_unique<State>()) {}

LoopbackListener::~LoopbackListener() = default;

std::string LoopbackListener::Open() {
    State& s = *state_;
    auto failed = [](const char* call) {
        return std::string("The sign-in could not listen for the browser (") + call + ", error " +
               std::to_string(WSAGetLastError()) + ").";
    };
    if (s.listening != INVALID_SOCKET) return {};
    WSADATA data;
    if (!s.started) {
        if (const int error = WSAStartup(MAKEWORD(2, 2), &data); error != 0)
            return "The sign-in could not start WinSock (error " + std::to_string(error) + ").";
        s.started = true;
    }
    s.listening = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s.listening == INVALID_SOCKET) return failed("socket");
    // Nobody else may take the port over while the browser is on its way to it.
    BOOL exclusive = TRUE;
    setsockopt(s.listening, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(s.listening, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return failed("bind");
    if (listen(s.listening, SOMAXCONN) != 0) return failed("listen");
    int size = sizeof address;
    if (getsockname(s.listening, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return failed("getsockname");
    s.port = ntohs(address.sin_port);
    s.network = WSACreateEvent();
    if (s.network == WSA_INVALID_EVENT) return failed("WSACreateEvent");
    if (WSAEventSelect(s.listening, s.network, FD_ACCEPT) != 0) return failed("WSAEventSelect");
    return {};
}

std::uint16_t LoopbackListener::Port() const {
    return state_->port;
}

WaitResult LoopbackListener::Wait(std::chrono::milliseconds limit, const std::atomic<bool>& cancel,
                                  const LoopbackPage& page) {
    State& s = *state_;
    if (s.listening == INVALID_SOCKET) return {WaitEnd::Failed, {}, "The sign-in's listener is not open."};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (cancel) return {WaitEnd::Cancelled, {}, {}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return {WaitEnd::TimedOut, {}, {}};
        const DWORD woke = WaitForSingleObject(
            s.network, static_cast<DWORD>(std::min<long long>(left.count(), CancelSliceMs)));
        if (woke == WAIT_TIMEOUT) continue;
        if (woke != WAIT_OBJECT_0)
            return {WaitEnd::Failed,
                    {},
                    "The sign-in's wait failed (error " + std::to_string(GetLastError()) + ")."};
        // Reset before the sockets are read: what arrives while they are read signals again.
        WSAResetEvent(s.network);
        s.AcceptWaiting();
        if (auto result = s.ReadWaiting(page)) return *std::move(result);
    }
}

} // namespace tarvel
