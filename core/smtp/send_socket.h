// What the send flow needs of the connection besides what the SMTP session uses: the socket component
// implements it, tests script it.
#pragma once

namespace tarvel {

class SendSocket {
public:
    virtual ~SendSocket() = default;

    // The open socket, -1 when none.
    virtual int SocketHandle() const = 0;
    // Receives at most `length` bytes from the open socket: 0 when the peer has closed, negative on failure.
    virtual int Receive(char* buffer, int length) = 0;
    // Closes the socket at once; raises no closed event.
    virtual void Disconnect() = 0;
};

} // namespace tarvel
