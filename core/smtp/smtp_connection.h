// What the SMTP session needs of a connection: the socket component implements it, tests script it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvel {

class SmtpConnection {
public:
    virtual ~SmtpConnection() = default;

    virtual void SetAddress(const std::string& address) = 0;
    virtual void SetPort(const std::string& port) = 0;
    // Starts a connect and returns at once; the greeting later arrives as received text. Throws
    // ConvertError (core/errors/convert_error.h) for a port that is neither a service name nor a number.
    virtual void Connect() = 0;
    // One send of a command. A failure is reported through the component's error event, which
    // calls the session's Abort on this same thread before SendCommand returns.
    virtual void SendCommand(const std::string& text) = 0;
    virtual void Disconnect() = 0;
    virtual std::string GetLocalHostName() = 0;

    // Raw writes of message text on the open socket, for the session's writers.
    struct SendResult {
        long written; // > 0: bytes accepted
        int error;    // when written <= 0: the WinSock error number (10035 = would block)
    };
    virtual SendResult RawSend(const char* data, std::size_t length) = 0;
    // Waits until the socket can take more bytes, at most timeoutMs; false on time-out or error.
    virtual bool WaitWritable(int timeoutMs) = 0;

    // Turns the open connection into a TLS one: the handshake, then the server's certificate checked
    // for `serverName`. Everything sent and received afterwards goes through TLS.
    struct TlsRequest {
        std::string serverName;
        // Received text handed to the session since the connect: text that was received in the clear
        // beyond this may have been injected before the handshake and must be refused.
        std::uint64_t plaintextConsumed = 0;
        const std::atomic<bool>* cancel = nullptr; // ends the handshake when set
    };
    // Empty when the connection is now encrypted, else the text that says why it is not; the
    // connection is then unusable and the session closes it.
    virtual std::string StartTls(const TlsRequest& request) {
        (void)request;
        return "This connection cannot be encrypted";
    }
};

} // namespace tarvel
