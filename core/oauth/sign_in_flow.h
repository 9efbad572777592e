// SignIn: the steps that give a send its access token: the one kept in memory while it has a minute
// left, else a renewal with the stored refresh token, else a sign-in in the system browser (PKCE,
// RFC 7636, through a loopback redirect, RFC 8252). Runs on a worker: every call may block for minutes.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "core/oauth/oauth_settings.h"
#include "core/oauth/provider.h"
#include "core/oauth/sign_in.h"
#include "core/oauth/token_exchange.h"

namespace tarvel::oauth {

// The status texts of a sign-in.
namespace sign_in_text {
inline constexpr std::string_view Waiting = "Waiting for sign-in in your browser...";
inline constexpr std::string_view Renewing = "Renewing sign-in...";
inline constexpr std::string_view SignedInPage = "Tarvel Pro is signed in; you may close this tab";
inline constexpr std::string_view TimedOut =
    "The sign-in was not completed in the browser within the time allowed";
inline constexpr std::string_view Cancelled = "The sign-in was cancelled";
inline constexpr std::string_view WrongState =
    "The browser's answer did not belong to this sign-in (wrong state); nothing was stored";
inline constexpr std::string_view NoProvider =
    "OAuth 2.0 needs a client ID, and for provider Other the authorization URL, token URL and scope";
} // namespace sign_in_text

enum class TokenEnd {
    Ready,     // `accessToken` may be used
    Cancelled, // the user cancelled
    Failed,    // `error` says why, in words for the user
};

struct TokenOutcome {
    TokenEnd end = TokenEnd::Failed;
    std::string accessToken;
    std::string error;
};

// One call at a time: the window starts no sign-in from the settings while a send signs in, and the
// reverse. The token in memory may be read and forgotten from any thread.
class SignIn {
public:
    // `system` outlives it.
    explicit SignIn(SignInSystem& system) : system_(system) {}

    // What the caller sees of a sign-in and how it stops one. The functions are called on the worker.
    struct Observer {
        // "Waiting for sign-in in your browser...", "Renewing sign-in...".
        std::function<void(std::string_view status)> status;
        // The browser wait begins (true) and ends (false): a send stops counting its time-out meanwhile.
        std::function<void(bool waiting)> browserWait;
        // Set from any thread: a browser wait under way ends at once, and no step after it is taken.
        const std::atomic<bool>* cancel = nullptr;
    };

    // The send's steps: the access token kept in memory while it has RenewBefore left; else a renewal
    // with the stored refresh token (a new refresh token from the server is stored before the new
    // access token is used); else, or when the server answers invalid_grant (the stored token is
    // deleted then), a sign-in in the browser, once.
    TokenOutcome AccessToken(const OAuth2Settings& settings, const std::string& user,
                             const Observer& observer);
    // The "Sign in..." button: always the browser, then the refresh token stored.
    TokenOutcome SignInWithBrowser(const OAuth2Settings& settings, const std::string& user,
                                   const Observer& observer);
    // The server refused the access token (invalid or expired): the next AccessToken renews it.
    void ForgetAccessToken();
    // Whether a refresh token is stored for this user: "Signed in as <user>" or "Not signed in".
    bool IsSignedIn(const OAuth2Settings& settings, const std::string& user);

    void SetRedirectWaitLimit(std::chrono::milliseconds limit) { waitLimit_ = limit; }

    // An access token with less than this left is renewed before it is used.
    static constexpr std::chrono::seconds RenewBefore{60};

private:
    TokenOutcome Browser(const Endpoints& endpoints, const OAuth2Settings& settings, const std::string& user,
                         const Observer& observer);
    TokenOutcome Renew(const Endpoints& endpoints, const OAuth2Settings& settings, const std::string& user,
                       const std::string& refreshToken, const Observer& observer, bool& invalidGrant);
    // Stores a new refresh token, then keeps the access token; a failure to store is reported.
    TokenOutcome Accept(const std::string& target, const TokenResponse& response);
    bool Cancelled(const Observer& observer) const {
        return observer.cancel != nullptr && observer.cancel->load();
    }

    SignInSystem& system_;
    std::chrono::milliseconds waitLimit_ = RedirectWaitLimit;
    std::mutex mutex_; // guards what follows
    std::string accessToken_;
    std::string accessTarget_; // the credential target the access token belongs to
    std::chrono::steady_clock::time_point expires_{};
};

} // namespace tarvel::oauth
