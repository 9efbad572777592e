// The sign-in's loopback listener (RFC 8252, 7.3): a port on 127.0.0.1 that the system picks, where the
// browser brings the authorization server's answer back to the program, once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tarvel {

enum class LoopbackOutcome {
    Answered,  // the redirect came: `target` holds its request target ("/?code=...&state=...")
    TimedOut,  // nothing came within the limit
    Cancelled, // Cancel() was called
    TooLong,   // a request line passed MaxRequestLine: refused with 414
    Failed,    // the system refused a socket call: `error` says which
};

struct LoopbackResult {
    LoopbackOutcome outcome = LoopbackOutcome::Failed;
    std::string target;
    std::string error;
};

// The text of the page the browser shows for the redirect's request target; the listener puts it into
// a small HTML page (escaped) and closes the connection after it.
using LoopbackPage = std::function<std::string(std::string_view target)>;

class LoopbackListener {
public:
    // The longest request line taken; a browser never sends a redirect that long.
    static constexpr std::size_t MaxRequestLine = 8 * 1024;

    LoopbackListener();
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    // Binds 127.0.0.1 on a port the system picks and listens. Empty on success, else why not.
    std::string Open();
    std::uint16_t Port() const;

    // Serves the one redirect: requests for any path other than "/" get a 404 and the wait goes on
    // (browsers ask for /favicon.ico; connections opened early and left idle are normal too). Ends at
    // the redirect, at `limit`, at Cancel(), or at a request line over MaxRequestLine.
    LoopbackResult Wait(std::chrono::milliseconds limit, const LoopbackPage& page);

    // From any thread: ends a Wait at once (or the next one, when none runs yet).
    void Cancel();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The whole HTTP answer the listener sends for `text` with `status` ("200 OK"); one place, for the tests.
std::string LoopbackResponse(std::string_view status, std::string_view text);

} // namespace tarvel
