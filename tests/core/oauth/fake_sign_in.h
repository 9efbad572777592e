// A stand-in for what a sign-in asks of the system: a browser that comes back with a scripted query
// once let go, a token server that answers from a queue, a map for Credential Manager, and a log.
#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/oauth/oauth_settings.h"
#include "core/oauth/sign_in.h"

namespace tarvel::test {

struct FakeSignInSystem : oauth::SignInSystem {
    std::string answer = "code=c1"; // the redirect's query before "&state="; empty: no answer in time
    bool wrongState = false;
    std::atomic<bool> waiting{false}, release{true};
    std::atomic<bool>* cancelWhileWaiting = nullptr; // the user presses Cancel during the wait
    std::deque<oauth::HttpResult> tokenServer;
    std::map<std::string, std::string> store;
    std::vector<std::string> events; // "browser", "post <grant_type>", "save <token>", "delete"
    std::string url, form;
    oauth::BrowserPage page;
    std::chrono::steady_clock::time_point now{};

    std::string OpenBrowser(const std::string& u) override {
        url = u;
        events.push_back("browser");
        return {};
    }
    oauth::ListenResult Listen() override { return {50123, {}}; }
    oauth::WaitResult
    WaitForRedirect(std::chrono::milliseconds, const std::atomic<bool>& cancel,
                    const std::function<oauth::BrowserPage(std::string_view)>& respond) override {
        if (cancelWhileWaiting) cancelWhileWaiting->store(true);
        waiting = true;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!release.load() && !cancel.load() && std::chrono::steady_clock::now() < limit)
            std::this_thread::yield();
        waiting = false;
        if (cancel.load()) return {oauth::WaitEnd::Cancelled, {}, {}};
        if (answer.empty()) return {oauth::WaitEnd::TimedOut, {}, {}};
        const std::size_t at = url.find("state=") + 6;
        const std::string state = (wrongState ? "x" : "") + url.substr(at, url.find('&', at) - at);
        page = respond("GET /?" + answer + "&state=" + state + " HTTP/1.1");
        return {oauth::WaitEnd::Request, {}, {}};
    }
    oauth::HttpResult PostForm(const std::string&, const std::string& f) override {
        form = f;
        events.push_back("post " + f.substr(11, f.find('&') - 11)); // after "grant_type="
        oauth::HttpResult reply = tokenServer.front();
        tokenServer.pop_front();
        return reply;
    }
    oauth::TokenRead LoadToken(const std::string& target) override {
        const auto found = store.find(target);
        return found == store.end() ? oauth::TokenRead{} : oauth::TokenRead{true, found->second, {}};
    }
    std::string SaveToken(const std::string& target, const std::string& token) override {
        events.push_back("save " + token);
        store[target] = token;
        return {};
    }
    std::string DeleteToken(const std::string& target) override {
        events.push_back("delete");
        store.erase(target);
        return {};
    }
    std::optional<std::string> RandomBytes(std::size_t count) override { return std::string(count, 'r'); }
    std::chrono::steady_clock::time_point Now() override { return now; }
};

// A token endpoint's answer.
inline oauth::HttpResult Tokens(const std::string& access, const std::string& refresh, int expires = 3600) {
    return {200,
            R"({"token_type":"Bearer","access_token":")" + access + R"(","expires_in":)" +
                std::to_string(expires) + (refresh.empty() ? "" : R"(,"refresh_token":")" + refresh + "\"") +
                "}",
            {}};
}

// Provider Other on https://localhost: a user's credential target ends in "@localhost".
inline OAuth2Settings LocalOAuth() {
    OAuth2Settings s;
    s.Provider = OAuthProvider::Other;
    s.ClientId = "tarvel";
    s.AuthorizeUrl = "https://localhost/authorize";
    s.TokenUrl = "https://localhost/token";
    s.Scope = "smtp";
    return s;
}

} // namespace tarvel::test
