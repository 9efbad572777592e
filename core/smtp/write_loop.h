// The one loop that puts bytes on a connection, for commands, message text and TLS records alike:
// partial sends continued, a full socket waited for in short slices, stopped by the send's cancel and
// bounded by its time-out.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string_view>

namespace tarvel {

// One attempt to send.
struct SendResult {
    long written; // > 0: bytes accepted
    int error;    // when written <= 0: the WinSock error number (10035 = would block)
};

// Where the loop writes: a socket, or a test's script of one.
class RawChannel {
public:
    virtual ~RawChannel() = default;
    // One non-blocking send of at most `length` bytes.
    virtual SendResult RawSend(const char* data, std::size_t length) = 0;
    // Waits until the socket can take more bytes, at most timeoutMs; false on time-out or error.
    virtual bool WaitWritable(int timeoutMs) = 0;
};

struct WriteLimits {
    // The send's SendAborted: checked before every attempt, so a write after a cancel sends nothing.
    const std::atomic<bool>* cancel = nullptr;
    // No byte taken for this long: the write has timed out (the window's time-out, 30 idle ticks).
    std::chrono::milliseconds idleLimit{30000};
    // Zeroed whenever bytes go out: the idle count of the send's time-out.
    std::atomic<int>* idleTicks = nullptr;
};

enum class WriteEnd { Written, Cancelled, TimedOut, Failed };
struct WriteResult {
    WriteEnd end = WriteEnd::Written;
    int error = 0; // for Failed: the WinSock error number
    bool Ok() const { return end == WriteEnd::Written; }
};

inline constexpr int WouldBlockError = 10035; // WSAEWOULDBLOCK
inline constexpr int TimedOutError = 10060;   // WSAETIMEDOUT
// One wait for a writable socket, so that a cancel is seen soon enough.
inline constexpr int WriteWaitSliceMs = 100;

WriteResult WriteAll(RawChannel& channel, std::string_view bytes, const WriteLimits& limits);

} // namespace tarvel
