// What the SMTP session and the main window share about the send under way, read without locks.
#pragma once

#include <atomic>
#include <cstdint>

namespace tarvel {

struct SendSignals {
    std::atomic<bool> SendAborted{false};    // set by Cancel and by a local failure; cleared by FinishSend
    std::atomic<int> IdleTicks{0};           // idle ticks since message text was last written
    std::atomic<std::int64_t> BytesTotal{0}; // size estimate of the message being transferred
    std::atomic<std::int64_t> BytesSent{0};  // message text written since the server accepted DATA
    // Set while message text is written, cleared before the end-of-data line goes out: a reply read
    // while it is set came before the server had the whole message.
    std::atomic<bool> Transferring{false};
};

} // namespace tarvel
