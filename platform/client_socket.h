// ClientSocket: the program's own TCP client component over WinSock 1.1. It resolves, connects, sends and
// receives, and passes what the platform reports on as events; every failure goes through OnErrorOccurred.
// A send reads and writes through a stream over it (platform/plain_stream.h, platform/tls_connection.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include <winsock.h>

#include "core/smtp/write_loop.h"
#include "platform/blocking_call.h"
#include "platform/services.h"
#include "win/window.h"

namespace tarvel {

class ClientSocket;

// Bound handlers; each event is raised only when one is assigned.
using SocketEvent = std::function<void(ClientSocket& sender, int socket)>;
using SocketEvent = std::function<void(ClientSocket& sender, int socket)>;
using SocketEvent = std::function<void(ClientSocket& sender, int socket)>;
using SocketEvent = std::function<void(ClientSocket& sender, int socket)>;
using SocketEvent = std::function<void(ClientSocket& sender, int socket)>;
using SocketErrorEvent =
    std::function<void(ClientSocket& sender, int socket, int error, const std::string& msg)>;

class ClientSocket : public ui::Window {
public:
    // The IPv4 address record handed to connect, laid out as WinSock's 16-byte sockaddr_in; port and
    // address in network byte order.
    struct AddressRecord {
        std::uint16_t family;
        std::uint16_t port;
        std::uint32_t address;
        std::uint8_t zero[8];
    };

    static constexpr int TimerId = 10;
    static constexpr long NotifyMask = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;

    // Creates the component's hidden window on the calling thread, which then handles its notifications.
    // Its message boxes (when no error handler is bound) and the pause before an address lookup are the
    // services'.
    explicit ClientSocket(const Services& services);
    ~ClientSocket() override;

    int MaximumReceiveLength() const { return maximumReceiveLength_; }
    void SetMaximumReceiveLength(int length) { maximumReceiveLength_ = length; }
    const std::string& Address() const { return ipAddr_; }
    void SetAddress(const std::string& address) { ipAddr_ = address; }
    const std::string& Port() const { return port_; }
    void SetPort(const std::string& port) { port_ = port; }
    bool NonBlocking() const { return nonBlocking_ == 1; }
    void SetNonBlocking(bool nonBlocking) { nonBlocking_ = nonBlocking ? 1 : 0; }
    // Seconds allowed for one blocking call in blocking mode; 0 or less means no limit.
    int Timeout() const { return timeout_; }
    void SetTimeout(int seconds) { timeout_ = seconds; }
    // The open socket, -1 when none.
    int SocketHandle() const { return socketHandle_; }
    // The address of the last Connect, as far as it got.
    const AddressRecord& RemoteAddress() const { return remote_; }

    SocketEvent OnDataAvailable;
    SocketEvent OnDataNeeded;
    SocketEvent OnSessionClosed;
    SocketEvent OnSessionAvailable;
    SocketEvent OnSessionConnected;
    SocketErrorEvent OnErrorOccurred;

    // Connects to Address and Port; in non-blocking mode the outcome arrives later as an event. Throws
    // ConvertError for a port that is neither a service name nor a number, before any socket exists.
    void Connect();
    // One send of the text as it stands: line ends are the caller's, a partial send is not continued.
    void SendCommand(const std::string& text);
    // Receives at most `length` bytes into the caller's buffer: 0 when the peer has closed, -1 for
    // socket -1 (with no report), negative on failure.
    int ReceiveOn(int socket, void* buffer, int length);
    // ReceiveOn on the open socket.
    int Receive(char* buffer, int length) { return ReceiveOn(SocketHandle(), buffer, length); }
    // Closes the socket at once with a reset, and leaves SocketHandle -1 whatever the close says.
    void Disconnect();
    std::string GetLocalHostName();

    SendResult RawSend(const char* data, std::size_t length);
    bool WaitWritable(int timeoutMs);

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    bool Blocking() const { return nonBlocking_ != 1; }
    void Notify(int socket, int code, int error);
    // Runs one blocking-mode call under the time limit; the call's error stays in WSAGetLastError.
    int RunBlocking(const std::function<int(const BlockingHook& hook)>& call);
    void BlockingCallTimedOut();

    // The three forms of report: a failed platform call or notification, a rejected Connect
    // setting, and the blocking-call time limit.
    void Report(const char* function, int socket, int error);
    void ReportInvalid(const char* text);
    void ReportTimeout();

    AddressRecord remote_{};
    std::string port_;
    std::string ipAddr_;
    // Read by the SMTP session's writer threads while the user-interface thread may close it.
    std::atomic<int> socketHandle_{-1};
    // Held as the integer handed to the platform's blocking switch: 1 non-blocking, 0 blocking.
    int nonBlocking_ = 1;
    int timeout_ = 30;
    int maximumReceiveLength_ = 8192;
    ui::MessageBoxCall messageBox_;
    std::function<void()> beforeAddressLookup_;
    std::atomic<bool> inBlockingCall_{false};
    std::atomic<bool> cancelRequested_{false};
};

} // namespace tarvel
