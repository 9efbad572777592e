// The sign-in's loopback listener (RFC 8252, 7.3): a port on 127.0.0.1 that the system picks, where the
// browser brings the authorization server's answer back to the program, once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/oauth/sign_in.h"

namespace tarvel {

// The page for the redirect's request line ("GET /?code=... HTTP/1.1"); the listener puts its text into
// a small HTML page (escaped) and closes the connection after it.
using LoopbackPage = std::function<oauth::BrowserPage(std::string_view requestLine)>;

class LoopbackListener {
public:
    // The longest request line taken; a browser never sends a redirect that long.
    static constexpr std::size_t MaxRequestLine = oauth::MaxRedirectRequestBytes;

    LoopbackListener();
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    // Binds 127.0.0.1 on a port the system picks and listens. Empty on success, else why not.
    std::string Open();
    std::uint16_t Port() const;

    // Serves the one redirect: requests for any path other than "/" get a 404 and the wait goes on
    // (browsers ask for /favicon.ico; connections opened early and left idle are normal too). Ends at
    // the redirect, at `limit`, within 100 ms of `cancel`, or at a request line over MaxRequestLine
    // (answered with 414, and Failed).
    oauth::WaitResult Wait(std::chrono::milliseconds limit, const std::atomic<bool>& cancel,
                           const LoopbackPage& page);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The whole HTTP answer the listener sends for a page; one place, for the tests.
std::string LoopbackResponse(const oauth::BrowserPage& page);

} // namespace tarvel
