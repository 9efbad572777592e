// What a sign-in in the system browser asks of the operating system: the browser, a one-request
// listener on the loopback address, an HTTPS form POST, the refresh-token store and random bytes.
// The portable steps (core/oauth/sign_in_flow.h) drive it; the platform layer implements it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel::oauth {

// The longest a sign-in waits for the browser to come back (RFC 8252 gives no figure; five minutes is
// long enough to type a password and approve, short enough that a forgotten tab does not hold a send).
inline constexpr std::chrono::milliseconds RedirectWaitLimit = std::chrono::minutes(5);
// The longest request line the loopback listener reads; a longer one is answered with an error.
inline constexpr std::size_t MaxRedirectRequestBytes = 8 * 1024;

struct ListenResult {
    int port = 0;      // on 127.0.0.1, picked by the system; 0 when listening failed
    std::string error; // why it failed, in words for the user
};

enum class WaitEnd {
    Request,   // one request came; `requestLine` holds its first line
    TimedOut,  // no request within the limit
    Cancelled, // the cancel flag was set
    Failed,    // the listener broke; `error` says how
};

struct WaitResult {
    WaitEnd end = WaitEnd::Failed;
    std::string requestLine; // "GET /?code=...&state=... HTTP/1.1" without its line break
    std::string error;
};

// The page the listener answers the browser with, once it has read the request line.
struct BrowserPage {
    int status = 200; // 200 for a sign-in, 400 for an error
    std::string text; // plain text, UTF-8: "Tarvel Pro is signed in; you may close this tab" or the error
};

struct HttpResult {
    int status = 0;    // the HTTP status; 0 when no answer came (then `error` says why)
    std::string body;  // the response body as received
    std::string error; // a transport failure: no connection, the certificate refused, ...
};

struct TokenRead {
    bool found = false;
    std::string token; // the refresh token, UTF-8, the numbered parts joined again
    std::string error; // reading failed (not found is no error)
};

class SignInSystem {
public:
    virtual ~SignInSystem() = default;

    // Opens the user's browser at `url` (ShellExecuteW). Empty on success, else why not.
    virtual std::string OpenBrowser(const std::string& url) = 0;

    // Starts listening on 127.0.0.1 on a port the system picks, before the browser is opened, so that
    // the redirect cannot come before the listener is there.
    virtual ListenResult Listen() = 0;
    // Waits for one connection to the listener that Listen started, at most `limit`, and reads its
    // request line (at most MaxRedirectRequestBytes). It then answers with `answer(requestLine)`, which
    // may take seconds (it exchanges the code for tokens, so that the page tells how the sign-in
    // ended), and closes both the connection and the listener. Returns as soon as `cancel` is set (checked at
    // least every 100 ms). After a time-out, a cancel or a failure the listener is closed too.
    virtual WaitResult
    WaitForRedirect(std::chrono::milliseconds limit, const std::atomic<bool>& cancel,
                    const std::function<BrowserPage(std::string_view requestLine)>& answer) = 0;

    // POSTs `form` (application/x-www-form-urlencoded) to the https `url` with the system's proxy, the
    // server's certificate checked by the system and never ignored. Accept: application/json.
    virtual HttpResult PostForm(const std::string& url, const std::string& form) = 0;

    // The refresh token under a generic credential `target` (CredentialTarget in core/oauth/token_store.h),
    // split over numbered entries by SplitCredentialBlob when it is longer than one entry holds.
    virtual TokenRead LoadToken(const std::string& target) = 0;
    // Empty on success, else why not. Leaves no part of an earlier, longer token behind.
    virtual std::string SaveToken(const std::string& target, const std::string& token) = 0;
    // Empty on success or when there was nothing to delete, else why not.
    virtual std::string DeleteToken(const std::string& target) = 0;

    // `count` bytes from the system's cryptographic generator; nullopt when it failed.
    virtual std::optional<std::string> RandomBytes(std::size_t count) = 0;

    // The clock token lifetimes are measured on; tests move it.
    virtual std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }
};

} // namespace tarvel::oauth
