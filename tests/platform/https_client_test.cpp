// The sign-in's HTTPS POST through WinHTTP against Python servers on https://localhost: the form arrives
// as sent, an error answer comes back whole, and a certificate Windows does not trust is refused.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "platform/https_client.h"
#include "trusted_test_ca.h"

using namespace tarvel;

namespace {

std::string Folder() {
    const char* folder = std::getenv("TARVEL_HTTPS_FOLDER");
    return folder ? folder : "";
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::map<std::string, std::string> Ports() {
    std::map<std::string, std::string> ports;
    std::ifstream in(Folder() + "\\servers.txt");
    for (std::string line; std::getline(in, line);)
        if (const auto equals = line.find('='); equals != std::string::npos)
            ports[line.substr(0, equals)] = line.substr(equals + 1);
    return ports;
}

} // namespace

TEST(HttpsClientTest, PostsTheFormAndRefusesWhatWindowsDoesNotTrust) {
    ASSERT_FALSE(Folder().empty()) << "run through run_with_https_servers.py";
    const test::TrustedTestCa ca(ReadWhole(Folder() + "\\ca.der"));
    ASSERT_TRUE(ca.Added());
    std::map<std::string, std::string> port = Ports();
    const std::string form = "grant_type=authorization_code&code=a%2Fb&code_verifier=v~1";
    const std::string sent =
        "POST /token?tenant=x HTTP/1.1\napplication/x-www-form-urlencoded\napplication/json\n";
    const struct {
        const char* name;
        std::string url;
        int status;
        std::string body;  // the whole answer
        std::string error; // a part of the refusal's text
        bool reached;      // whether the request reached the server
    } cases[] = {
        {"trusted", "https://localhost:" + port["trusted"] + "/token?tenant=x", 200, sent + form, "", true},
        {"error answer", "https://localhost:" + port["trusted"] + "/refuse", 400,
         R"({"error":"invalid_grant"})", "", true},
        {"untrusted CA", "https://localhost:" + port["untrusted"] + "/token", 0, "",
         "The sign-in could not reach localhost: the secure connection failed", false},
        {"name not in the certificate", "https://127.0.0.1:" + port["trusted"] + "/token", 0, "",
         "The sign-in could not reach 127.0.0.1: the secure connection failed", false},
        {"plain http", "http://localhost:" + port["trusted"] + "/token", 0, "", "must start with https://",
         false},
        {"no URL", "token", 0, "", "is not a valid URL", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before =
            ReadWhole(Folder() + "\\trusted.log") + ReadWhole(Folder() + "\\untrusted.log");
        const HttpsReply reply = PostForm(c.url, form);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.body, c.body);
        if (c.error.empty())
            EXPECT_EQ(reply.error, "");
        else
            EXPECT_NE(reply.error.find(c.error), std::string::npos) << reply.error;
        // Refused means the form never left: no server saw a request.
        const std::string after =
            ReadWhole(Folder() + "\\trusted.log") + ReadWhole(Folder() + "\\untrusted.log");
        EXPECT_EQ(after.size() > before.size(), c.reached);
    }
}
