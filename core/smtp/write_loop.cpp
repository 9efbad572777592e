// The write loop: the only place where a send is continued, waited for, cancelled or timed out.
#include "core/smtp/write_loop.h"

#include <algorithm>

namespace tarvel {

WriteResult WriteAll(RawChannel& channel, std::string_view bytes, const WriteLimits& limits) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastProgress = Clock::now();
    while (!bytes.empty()) {
        if (limits.cancel != nullptr && limits.cancel->load()) return {WriteEnd::Cancelled, 0};
        const SendResult result = channel.RawSend(bytes.data(), bytes.size());
        if (result.written > 0) {
            bytes.remove_prefix(std::min(static_cast<std::size_t>(result.written), bytes.size()));
            lastProgress = Clock::now();
            if (limits.idleTicks != nullptr) limits.idleTicks->store(0);
            continue;
        }
        if (result.error != WouldBlockError && result.error != 0) return {WriteEnd::Failed, result.error};
        if (Clock::now() - lastProgress >= limits.idleLimit) return {WriteEnd::TimedOut, TimedOutError};
        // The socket's send buffer is full: wait for room instead of spinning.
        channel.WaitWritable(WriteWaitSliceMs);
    }
    return {};
}

} // namespace tarvel
