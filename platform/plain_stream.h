// The plain byte stream over the socket component: the component connects and raises the events, this
// writes through the one write loop and reads what has arrived. The TLS stream writes its records
// through it too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/smtp/send_socket.h"
#include "core/smtp/smtp_connection.h"
#include "platform/client_socket.h"

namespace tarvel {

class PlainStream final : public SmtpConnection, public SendSocket {
public:
    explicit PlainStream(ClientSocket& socket) : socket_(socket) {}

    void SetAddress(const std::string& address) override { socket_.SetAddress(address); }
    void SetPort(const std::string& port) override { socket_.SetPort(port); }
    void Connect() override { socket_.Connect(); }
    void SendCommand(std::string_view text) override;
    void Disconnect() override { socket_.Disconnect(); }
    std::string GetLocalHostName() override { return socket_.GetLocalHostName(); }
    SendResult RawSend(const char* data, std::size_t length) override;
    bool WaitWritable(int timeoutMs) override;

    int SocketHandle() const override { return socket_.SocketHandle(); }
    int Receive(char* buffer, int length) override;
    // Bytes that have arrived and wait to be read; 0 when none or no socket.
    std::size_t Unread() const;

    ClientSocket& Socket() { return socket_; }
    // A failure of ours, told as the component tells its own: through its error event.
    void Report(int error);
    void Report(const WriteResult& result);

private:
    ClientSocket& socket_;
};

} // namespace tarvel
