// The sign-in's HTTPS POST through WinHTTP against Python servers on https://localhost: the form arrives
// as sent, an error answer comes back whole, and a certificate Windows does not trust is refused.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "platform/https_client.h"

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

// The test CA in the user's root store while the test runs, committed so that the chain engine sees it.
class TrustedTestCa {
public:
    TrustedTestCa() {
        const std::string der = ReadWhole(Folder() + "\\ca.der");
        store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
        if (store_ && !der.empty())
            CertAddEncodedCertificateToStore(
                store_, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, &ca_);
        if (store_) CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    }
    ~TrustedTestCa() {
        if (ca_) CertDeleteCertificateFromStore(ca_);
        if (store_) CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        if (store_) CertCloseStore(store_, 0);
    }
    bool Added() const { return ca_ != nullptr; }

private:
    HCERTSTORE store_ = nullptr;
    PCCERT_CONTEXT ca_ = nullptr;
};

} // namespace

TEST(HttpsClientTest, PostsTheFormAndRefusesWhatWindowsDoesNotTrust) {
    ASSERT_FALSE(Folder().empty()) << "run through run_with_https_servers.py";
    TrustedTestCa ca;
    ASSERT_TRUE(ca.Added());
    std::map<std::string, std::string> port = Ports();
    const std::string form = "grant_type=authorization_code&code=a%2Fb&code_verifier=v~1";
    const std::string sent =
        "POST /token?tenant=x HTTP/1.1\napplication/x-www-form-urlencoded\napplication/json\n";
    const struct {
        const char* name;
        std::string url;
        int status;
        std::string body;   // the whole answer
        std::string error;  // a part of the refusal's text
        const char* server; // the server the request must (not) have reached
        bool reached;
    } cases[] = {
        {"trusted", "https://localhost:" + port["trusted"] + "/token?tenant=x", 200, sent + form, "",
         "trusted", true},
        {"error answer", "https://localhost:" + port["trusted"] + "/refuse", 400,
         R"({"error":"invalid_grant"})", "", "trusted", true},
        {"untrusted CA", "https://localhost:" + port["untrusted"] + "/token", 0, "",
         "The sign-in could not reach localhost: the secure connection failed", "untrusted", false},
        {"name not in the certificate", "https://127.0.0.1:" + port["trusted"] + "/token", 0, "",
         "The sign-in could not reach 127.0.0.1: the secure connection failed", "trusted", true},
        {"plain http", "http://localhost:" + port["trusted"] + "/token", 0, "", "must start with https://",
         "trusted", true},
        {"no URL", "token", 0, "", "is not a valid URL", "trusted", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before = ReadWhole(Folder() + "\\" + c.server + ".count");
        const HttpsReply reply = PostForm(c.url, form);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.body, c.body);
        if (c.error.empty())
            EXPECT_EQ(reply.error, "");
        else
            EXPECT_NE(reply.error.find(c.error), std::string::npos) << reply.error;
        // A refused certificate means the form never left: the server counted no request.
        if (!c.reached) EXPECT_EQ(ReadWhole(Folder() + "\\" + c.server + ".count"), before);
    }
    EXPECT_EQ(ReadWhole(Folder() + "\\untrusted.count"), "");
}
