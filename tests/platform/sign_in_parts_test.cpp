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

constexpr const char* SignedIn = "Tarvel Pro is signed in; you may close this tab";

std::string Get(const std::string& target) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/html\r\n\r\n";
}

// Each client connects in turn, sends its request (empty: opens and stays idle) and keeps what it got.
struct Client {
    std::string request;
    std::string answer;
};

struct ListenerCase {
    const char* name;
    std::vector<std::string> requests;
    WaitEnd outcome;
    std::string target;               // of the request line served
    std::vector<std::string> answers; // the status line each client got; "" for none
};

} // namespace

TEST(LoopbackListenerTest, ServesTheOneRedirectAndRefusesTheRest) {
    const std::string longest = "/?code=" + std::string(LoopbackListener::MaxRequestLine - 20, 'c');
    const ListenerCase cases[] = {
        {"redirect", {Get("/?code=abc&state=xyz")}, WaitEnd::Request, "/?code=abc&state=xyz", {"200 OK"}},
        {"other paths first",
         {Get("/favicon.ico"), "POST /?code=a HTTP/1.1\r\n\r\n", Get("/")},
         WaitEnd::Request,
         "/",
         {"404 Not Found", "404 Not Found", "200 OK"}},
        {"idle connection beside",
         {"", Get("/?error=access_denied")},
         WaitEnd::Request,
         "/?error=access_denied",
         {"", "200 OK"}},
        // "GET " + target + " HTTP/1.1" is exactly the limit long; one byte more is refused.
        {"8 KiB line", {Get(longest)}, WaitEnd::Request, longest, {"200 OK"}},
        {"line over 8 KiB", {Get(longest + "c")}, WaitEnd::Failed, "", {"414 URI Too Long"}},
        {"no end of line",
         {"GET /?code=" + std::string(9000, 'c')},
         WaitEnd::Failed,
         "",
         {"414 URI Too Long"}},
    };
    test::WinSockSession winsock;
    for (const ListenerCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackListener listener;
        ASSERT_EQ(listener.Open(), "");
        ASSERT_NE(listener.Port(), 0);
        std::vector<Client> clients;
        for (const std::string& request : c.requests)
            clients.push_back({request, {}});
        std::thread browser([&] {
            std::vector<test::Socket> idle;
            for (Client& client : clients) {
                test::Socket s(socket(AF_INET, SOCK_STREAM, 0));
                const sockaddr_in address = test::LoopbackAddress(listener.Port());
                connect(s.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
                if (client.request.empty()) {
                    idle.push_back(std::move(s)); // stays open, unused, to the end
                    continue;
                }
                s.Send(client.request);
                client.answer = s.Receive(1 << 16);
            }
        });
        std::string pageFor;
        const std::atomic<bool> cancel{false};
        const oauth::WaitResult result = listener.Wait(30s, cancel, [&](std::string_view line) {
            pageFor = line;
            return oauth::BrowserPage{200, SignedIn};
        });
        browser.join();
        const std::string line = c.target.empty() ? "" : "GET " + c.target + " HTTP/1.1";
        EXPECT_EQ(result.end, c.outcome);
        EXPECT_EQ(result.requestLine, line);
        EXPECT_EQ(pageFor, line);
        for (std::size_t i = 0; i < clients.size(); ++i) {
            const std::string& answer = clients[i].answer;
            if (c.answers[i] == "200 OK")
                EXPECT_EQ(answer, LoopbackResponse({200, SignedIn}));
            else if (c.answers[i].empty())
                EXPECT_EQ(answer, "") << i;
            else
                EXPECT_EQ(answer.substr(0, answer.find("\r\n")), "HTTP/1.1 " + c.answers[i]) << i;
        }
    }
}

TEST(LoopbackListenerTest, TheAnswerIsOneSmallEscapedPage) {
    const std::string response = LoopbackResponse({400, "Refused: <denied> & \"gone\""});
    const std::size_t headEnd = response.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos);
    const std::string body = response.substr(headEnd + 4);
    EXPECT_NE(response.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
    EXPECT_EQ(response.substr(0, response.find("\r\n")), "HTTP/1.1 400 Bad Request");
    EXPECT_NE(response.find("Connection: close\r\n"), std::string::npos);
    EXPECT_NE(body.find("<p>Refused: &lt;denied&gt; &amp; &quot;gone&quot;</p>"), std::string::npos) << body;
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
    auto exists = [&](const std::string& name) {
        PCREDENTIALA raw = nullptr;
        if (!CredReadA(name.c_str(), CRED_TYPE_GENERIC, 0, &raw)) return false;
        CredFree(raw);
        return true;
    };
    const struct {
        std::size_t size;
        std::vector<std::string> entries; // beside the target itself
        std::vector<std::string> gone;
    } cases[] = {
        {7500, {"#2", "#3"}, {"#4"}},
        {2560, {}, {"#2", "#3"}}, // a shorter token leaves none of the longer one's parts
        {2561, {"#2"}, {"#3"}},
        {1, {}, {"#2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        std::string token(c.size, 't');
        for (std::size_t i = 0; i < token.size(); ++i)
            token[i] = static_cast<char>('a' + i % 26);
        ASSERT_EQ(StoreToken(target, token), "");
        EXPECT_TRUE(exists(target));
        for (const std::string& part : c.entries)
            EXPECT_TRUE(exists(target + part)) << part;
        for (const std::string& part : c.gone)
            EXPECT_FALSE(exists(target + part)) << part;
        const oauth::TokenRead read = LoadToken(target);
        EXPECT_TRUE(read.found);
        EXPECT_EQ(read.token, token);
    }
    ASSERT_EQ(StoreToken(target, std::string(2561, 'x')), "");
    EXPECT_EQ(DeleteToken(target), "");
    EXPECT_FALSE(exists(target));
    EXPECT_FALSE(exists(target + "#2"));
    const oauth::TokenRead none = LoadToken(target);
    EXPECT_FALSE(none.found);
    EXPECT_EQ(none.error, "");          // not found is no error
    EXPECT_EQ(DeleteToken(target), ""); // nor is nothing to delete
}
