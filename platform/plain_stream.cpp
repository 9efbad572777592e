// The plain stream's sends and reads on the socket component's open socket.
#include "platform/plain_stream.h"

#include <windows.h>
#include <winsock.h>

#include <algorithm>
#include <climits>

#include "core/errors/winsock_errors.h"

namespace tarvel {

void PlainStream::SendCommand(std::string_view text) {
    Report(Write(text, CommandLimits()));
}

SendResult PlainStream::RawSend(const char* data, std::size_t length) {
    const int handle = socket_.SocketHandle();
    if (handle == -1) return {-1, WSAENOTSOCK};
    const int count = static_cast<int>(std::min<std::size_t>(length, INT_MAX));
    const int written = send(static_cast<SOCKET>(handle), data, count, 0);
    if (written > 0) return {written, 0};
    return {written, WSAGetLastError()};
}

bool PlainStream::WaitWritable(int timeoutMs) {
    return socket_.WaitWritable(timeoutMs);
}

int PlainStream::Receive(char* buffer, int length) {
    return socket_.Receive(buffer, length);
}

std::size_t PlainStream::Unread() const {
    const int handle = socket_.SocketHandle();
    u_long count = 0;
    if (handle == -1 || ioctlsocket(static_cast<SOCKET>(handle), FIONREAD, &count) != 0) return 0;
    return count;
}

void PlainStream::Report(int error) {
    if (socket_.OnErrorOccurred)
        socket_.OnErrorOccurred(socket_, socket_.SocketHandle(), error, WinSockErrorText(error));
}

void PlainStream::Report(const WriteResult& result) {
    // A cancel has its own words: the abort that set it tells the outcome.
    if (result.end == WriteEnd::Failed || result.end == WriteEnd::TimedOut) Report(result.error);
}

} // namespace tarvel
