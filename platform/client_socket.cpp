// The socket component: Connect's resolution steps, the notification window, the blocking-call time
// limit and the three forms of report.
#include "platform/client_socket.h"

#include <windows.h>
#include <winsock.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/errors/convert_error.h"
#include "core/errors/winsock_errors.h"
#include "win/message_box.h"
#include "win/messages.h"

namespace tarvel {

static_assert(sizeof(ClientSocket::AddressRecord) == sizeof(sockaddr_in), "connect takes a 16-byte record");

namespace {

constexpr WORD WinSock11 = 257;
constexpr int NoSocket = -1;

SOCKET ToSocket(int handle) {
    return static_cast<SOCKET>(handle);
}

// Copies a setting into the fixed NUL-terminated buffer that the lookups take; longer texts are cut.
template <std::size_t N> void CopyToBuffer(const std::string& text, char (&buffer)[N]) {
    const std::size_t length = std::min(text.size(), N - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

// A port number as the user wrote it: an optional sign and decimal digits, within 32 bits.
int ToPortNumber(const std::string& text) {
    std::size_t i = (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (i == text.size()) throw ConvertError(text);
    const bool negative = text[0] == '-';
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') throw ConvertError(text);
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) throw ConvertError(text);
    }
    if (negative) value = -value;
    if (value > INT_MAX) throw ConvertError(text);
    return static_cast<int>(value);
}

const char* EventName(int code) {
    switch (code) {
    case FD_READ:
        return "FD_READ";
    case FD_WRITE:
        return "FD_WRITE";
    case FD_ACCEPT:
        return "FD_ACCEPT";
    case FD_CONNECT:
        return "FD_CONNECT";
    case FD_CLOSE:
        return "FD_CLOSE";
    default:
        return "";
    }
}

} // namespace

ClientSocket::ClientSocket(const Services& services)
    : messageBox_(services.messageBox), beforeAddressLookup_(services.beforeAddressLookup) {
    CreateMessageOnly("TarvelSockets");
    WSADATA data;
    // A failed start-up gives its error as the result: WSAGetLastError needs WinSock running.
    if (const int result = WSAStartup(WinSock11, &data); result != 0)
        Report("Constructor (WSAStartup)", 0, result);
}

ClientSocket::~ClientSocket() {
    if (WSACleanup() < 0) Report("Destructor (WSACleanup)", NoSocket, WSAGetLastError());
    Destroy();
}

void ClientSocket::Connect() {
    if (port_.empty()) {
        ReportInvalid("No Port Specified");
        return;
    }
    if (ipAddr_.empty()) {
        ReportInvalid("No IP Address Specified");
        return;
    }
    remote_.family = AF_INET;

    char portText[32];
    CopyToBuffer(port_, portText);
    if (const servent* service = getservbyname(portText, "tcp"))
        remote_.port = service->s_port; // already in network byte order
    else
        remote_.port = htons(static_cast<u_short>(ToPortNumber(port_)));

    if (beforeAddressLookup_) beforeAddressLookup_();
    char hostText[257];
    CopyToBuffer(ipAddr_, hostText);
    remote_.address = inet_addr(hostText);
    // "255.255.255.255" parses to the same no-address value, so it is looked up as a name too.
    if (remote_.address == INADDR_NONE) {
        const hostent* host = gethostbyname(hostText);
        if (!host || !host->h_addr_list[0]) {
            ReportInvalid("Cannot convert host address");
            return;
        }
        std::memcpy(&remote_.address, host->h_addr_list[0], sizeof remote_.address);
    }

    const protoent* protocol = getprotobyname("tcp");
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, protocol ? protocol->p_proto : IPPROTO_TCP);
    socketHandle_ = static_cast<int>(socket);
    // A failed step is reported and the steps after it still run (and, with a handler, report too).
    if (socketHandle_ < 0) Report("Connect (socket)", NoSocket, WSAGetLastError());

    if (!Blocking()) {
        if (WSAAsyncSelect(socket, Handle(), ui::WM_SOCKET_NOTIFY, NotifyMask) != 0)
            Report("WSAAsyncSelect", socketHandle_, WSAGetLastError());
    } else {
        u_long mode = static_cast<u_long>(nonBlocking_);
        ioctlsocket(socket, FIONBIO, &mode);
    }

    sockaddr_in address;
    std::memcpy(&address, &remote_, sizeof address);
    int result;
    if (Blocking())
        result = RunBlocking([&](const BlockingHook& hook) {
            return BlockingConnect(socket, &address, sizeof address, hook);
        });
    else
        result = connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    // Would-block is the normal answer of a non-blocking connect: the outcome arrives as FD_CONNECT.
    if (const int error = WSAGetLastError(); result != 0 && error != WSAEWOULDBLOCK)
        Report("Connect", socketHandle_, error);
}

void ClientSocket::SendCommand(const std::string& text) {
    const SOCKET socket = ToSocket(socketHandle_);
    const int length = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
    int result;
    if (Blocking())
        result = RunBlocking(
            [&](const BlockingHook& hook) { return BlockingSend(socket, text.data(), length, hook); });
    else
        result = send(socket, text.data(), length, 0);
    if (result < 0) Report("SetText (Send)", socketHandle_, WSAGetLastError());
}

int ClientSocket::ReceiveOn(int socket, void* buffer, int length) {
    if (socket == NoSocket) return -1;
    char* bytes = static_cast<char*>(buffer);
    int result;
    if (Blocking())
        result = RunBlocking(
            [&](const BlockingHook& hook) { return BlockingRecv(ToSocket(socket), bytes, length, hook); });
    else
        result = recv(ToSocket(socket), bytes, length, 0);
    if (result < 0) Report("SReceive", socketHandle_, WSAGetLastError());
    return result;
}

void ClientSocket::Disconnect() {
    const SOCKET socket = ToSocket(socketHandle_);
    if (!Blocking()) WSAAsyncSelect(socket, Handle(), ui::WM_SOCKET_NOTIFY, 0);
    if (inBlockingCall_) cancelRequested_ = true;
    shutdown(socket, 2);
    // Linger on with a time of 0: the close resets the connection instead of closing it gracefully.
    const linger abortive{1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof abortive);
    if (closesocket(socket) != 0) Report("Disconnect (closesocket)", socketHandle_, WSAGetLastError());
    socketHandle_ = NoSocket;
}

std::string ClientSocket::GetLocalHostName() {
    char name[128] = {};
    if (gethostname(name, sizeof name) != 0) return {};
    name[sizeof name - 1] = '\0';
    return name;
}

SendResult ClientSocket::RawSend(const char* data, std::size_t length) {
    const int count = static_cast<int>(std::min<std::size_t>(length, INT_MAX));
    const int written = send(ToSocket(socketHandle_), data, count, 0);
    if (written > 0) return {written, 0};
    return {written, WSAGetLastError()};
}

bool ClientSocket::WaitWritable(int timeoutMs) {
    const int handle = socketHandle_;
    if (handle == NoSocket) return false;
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(ToSocket(handle), &writable);
    const int ms = std::max(timeoutMs, 0);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    return select(0, nullptr, &writable, nullptr, &limit) > 0;
}

LRESULT ClientSocket::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == ui::WM_SOCKET_NOTIFY) {
        Notify(static_cast<int>(wParam), WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
        return 0;
    }
    if (message == WM_TIMER) {
        KillTimer(Handle(), TimerId);
        BlockingCallTimedOut();
        return 0;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

void ClientSocket::Notify(int socket, int code, int error) {
    if (error > 10000) {
        Report(EventName(code), socket, error);
        return;
    }
    const SocketEvent* event = nullptr;
    switch (code) {
    case FD_READ:
        event = &OnDataAvailable;
        break;
    case FD_WRITE:
        event = &OnDataNeeded;
        break;
    case FD_ACCEPT:
        event = &OnSessionAvailable;
        break;
    case FD_CONNECT:
        event = &OnSessionConnected;
        break;
    case FD_CLOSE:
        event = &OnSessionClosed;
        break;
    default:
        return;
    }
    if (*event) (*event)(*this, socket);
}

int ClientSocket::RunBlocking(const std::function<int(const BlockingHook& hook)>& call) {
    const bool limited = timeout_ > 0;
    const auto limitMs = static_cast<UINT>(std::min<long long>(timeout_ * 1000LL, USER_TIMER_MAXIMUM));
    // A timer can only be set on a window of the calling thread; on any other thread the wait keeps
    // the same limit itself.
    const bool ownThread = Handle() && GetWindowThreadProcessId(Handle(), nullptr) == GetCurrentThreadId();
    const DWORD start = GetTickCount();
    cancelRequested_ = false;
    inBlockingCall_ = true;
    if (limited && ownThread) SetTimer(Handle(), TimerId, limitMs, nullptr);
    const int result = call([&] {
        // What WinSock 1.1's default blocking hook does: the timer message arrives through this.
        DispatchQueuedMessages();
        if (limited && !ownThread && GetTickCount() - start >= limitMs) BlockingCallTimedOut();
        return cancelRequested_.load();
    });
    const int error = WSAGetLastError();
    inBlockingCall_ = false;
    if (limited && ownThread) KillTimer(Handle(), TimerId);
    WSASetLastError(error);
    return result;
}

void ClientSocket::BlockingCallTimedOut() {
    if (!inBlockingCall_ || cancelRequested_.exchange(true)) return;
    // The cancelled call then fails with 10004 and makes its own report.
    ReportTimeout();
}

void ClientSocket::Report(const char* function, int socket, int error) {
    const std::string text = WinSockErrorText(error);
    if (OnErrorOccurred) {
        OnErrorOccurred(*this, socket, error, text);
        return;
    }
    const std::string box = "Error " + std::to_string(error) + " in function " + function + "\r\n" + text;
    messageBox_(nullptr, box, "WINSOCK ERROR", MB_OKCANCEL);
    std::exit(0);
}

void ClientSocket::ReportInvalid(const char* text) {
    if (OnErrorOccurred)
        OnErrorOccurred(*this, socketHandle_, WSAEADDRNOTAVAIL, text);
    else
        messageBox_(nullptr, text, "WINSOCK ERROR", MB_OKCANCEL);
}

void ClientSocket::ReportTimeout() {
    if (OnErrorOccurred)
        OnErrorOccurred(*this, socketHandle_, WSAETIMEDOUT, "Blocking call timed out");
    else
        messageBox_(nullptr, "Error 10060\r\nBlocking call timed out", "WINSOCK CALL CANCELED", MB_OKCANCEL);
}

} // namespace tarvel
