// The sign-in's Windows parts under Wine: the loopback listener against real browser-like clients, and the
// token store through the real Credential Manager at the size where a token starts to need two entries.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincred.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "platform/loopback_listener.h"
#include "platform/token_store.h"

using namespace tarvel;
using namespace std::chrono_literals;
using oauth::WaitEnd;

namespace {

std::string Get(const std::string& target) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/html\r\n\r\n";
}

// What one client got for its request ("": it connected and stayed idle), connecting in turn.
std::vector<std::string> Browse(std::uint16_t port, const std::vector<std::string>& requests) {
    std::vector<std::string> answers;
    std::vector<test::Socket> idle;
    for (const std::string& request : requests) {
        test::Socket s(socket(AF_INET, SOCK_STREAM, 0));
        const sockaddr_in address = test::LoopbackAddress(port);
        connect(s.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
        if (!request.empty()) s.Send(request);
        answers.push_back(request.empty() ? "" : s.Receive(1 << 16));
        if (request.empty()) idle.push_back(std::move(s)); // open, unused, to the end
    }
    return answers;
}

} // namespace

TEST(LoopbackListenerTest, ServesTheOneRedirectAndRefusesTheRest) {
    const std::string longest = "/?code=" + std::string(LoopbackListener::MaxRequestLine - 20, 'c');
    const oauth::BrowserPage signedIn{200, "Tarvel Pro is signed in; you may close this tab"};
    const oauth::BrowserPage refused{400, "Refused: <access_denied> & \"gone\""};
    const struct {
        const char* name;
        std::vector<std::string> requests;
        oauth::BrowserPage page;
        WaitEnd end;
        std::string target;               // of the request line served
        std::vector<std::string> answers; // the status line each client got; "" for none
    } cases[] = {
        {"redirect",
         {Get("/?code=abc&state=xyz")},
         signedIn,
         WaitEnd::Request,
         "/?code=abc&state=xyz",
         {"200 OK"}},
        {"error page",
         {Get("/?error=access_denied")},
         refused,
         WaitEnd::Request,
         "/?error=access_denied",
         {"400 Bad Request"}},
        {"other paths first",
         {Get("/favicon.ico"), "POST /?code=a HTTP/1.1\r\n\r\n", Get("/")},
         signedIn,
         WaitEnd::Request,
         "/",
         {"404 Not Found", "404 Not Found", "200 OK"}},
        {"idle connection beside",
         {"", Get("/?code=a")},
         signedIn,
         WaitEnd::Request,
         "/?code=a",
         {"", "200 OK"}},
        // "GET " + target + " HTTP/1.1" is exactly the limit long; one byte more is refused.
        {"8 KiB line", {Get(longest)}, signedIn, WaitEnd::Request, longest, {"200 OK"}},
        {"line over 8 KiB", {Get(longest + "c")}, signedIn, WaitEnd::Failed, "", {"414 URI Too Long"}},
        {"no end of line",
         {"GET /?code=" + std::string(9000, 'c')},
         signedIn,
         WaitEnd::Failed,
         "",
         {"414 URI Too Long"}},
    };
    test::WinSockSession winsock;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackListener listener;
        ASSERT_EQ(listener.Open(), "");
        std::vector<std::string> answers;
        std::thread browser([&] { answers = Browse(listener.Port(), c.requests); });
        std::string pageFor;
        const std::atomic<bool> cancel{false};
        const oauth::WaitResult result = listener.Wait(30s, cancel, [&](std::string_view line) {
            pageFor = line;
            return c.page;
        });
        browser.join();
        const std::string line = c.target.empty() ? "" : "GET " + c.target + " HTTP/1.1";
        EXPECT_EQ(result.end, c.end);
        EXPECT_EQ(result.requestLine, line);
        EXPECT_EQ(pageFor, line);
        for (std::size_t i = 0; i < answers.size(); ++i) {
            const std::string& answer = answers[i];
            EXPECT_EQ(answer.substr(0, answer.find("\r\n")),
                      c.answers[i].empty() ? "" : "HTTP/1.1 " + c.answers[i]);
            if (!c.answers[i].starts_with("200") && !c.answers[i].starts_with("400")) continue;
            // The page: its text escaped, the length right, and the connection closed after it.
            const std::string body = answer.substr(answer.find("\r\n\r\n") + 4);
            const std::string text =
                c.page.status == 200 ? c.page.text : "Refused: &lt;access_denied&gt; &amp; &quot;gone&quot;";
            EXPECT_NE(body.find("<p>" + text + "</p>"), std::string::npos) << body;
            EXPECT_NE(answer.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"),
                      std::string::npos);
            EXPECT_NE(answer.find("\r\nConnection: close\r\n"), std::string::npos);
        }
    }
}

TEST(LoopbackListenerTest, EndsAtItsLimitOrWhenCancelled) {
    const auto none = [](std::string_view) { return oauth::BrowserPage{}; };
    LoopbackListener idle;
    ASSERT_EQ(idle.Open(), "");
    std::atomic<bool> cancel{false};
    EXPECT_EQ(idle.Wait(50ms, cancel, none).end, WaitEnd::TimedOut);

    LoopbackListener cancelled;
    ASSERT_EQ(cancelled.Open(), "");
    std::thread canceller([&] { cancel = true; });
    // Far longer than any test may take: only the cancel can end it.
    EXPECT_EQ(cancelled.Wait(10min, cancel, none).end, WaitEnd::Cancelled);
    canceller.join();
}

TEST(TokenStoreTest, SplitsOverNumberedEntriesAtTheWindowsLimitAndDeletesEveryPart) {
    const std::string target =
        "Tarvel Pro/oauth2/test-" + std::to_string(GetCurrentProcessId()) + "@token.example";
    // The blob sizes of the target's entries, "<target>", "<target>#2"... up to the first missing one.
    auto stored = [&] {
        std::vector<DWORD> sizes;
        for (PCREDENTIALA raw = nullptr;; CredFree(raw)) {
            const std::string name = target + (sizes.empty() ? "" : "#" + std::to_string(sizes.size() + 1));
            if (!CredReadA(name.c_str(), CRED_TYPE_GENERIC, 0, &raw)) return sizes;
            sizes.push_back(raw->CredentialBlobSize);
        }
    };
    const struct {
        std::size_t size;
        std::vector<DWORD> parts;
    } cases[] = {
        {7500, {2560, 2560, 2380}},
        {2560, {2560}}, // a shorter token leaves none of the longer one's parts
        {2561, {2560, 1}},
        {1, {1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        std::string token(c.size, 't');
        for (std::size_t i = 0; i < token.size(); ++i)
            token[i] = static_cast<char>('a' + i % 26);
        ASSERT_EQ(StoreToken(target, token), "");
        EXPECT_EQ(stored(), c.parts);
        const oauth::TokenRead read = LoadToken(target);
        EXPECT_TRUE(read.found);
        EXPECT_EQ(read.token, token);
    }
    ASSERT_EQ(StoreToken(target, std::string(2561, 'x')), "");
    EXPECT_EQ(DeleteToken(target), "");
    EXPECT_EQ(stored(), std::vector<DWORD>{});
    const oauth::TokenRead none = LoadToken(target);
    EXPECT_FALSE(none.found);
    EXPECT_EQ(none.error, "");          // not found is no error
    EXPECT_EQ(DeleteToken(target), ""); // nor is nothing to delete
}
