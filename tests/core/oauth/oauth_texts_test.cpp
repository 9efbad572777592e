// The sign-in's pure parts against published vectors: SHA-256 and PKCE (RFC 7636 appendix B), the SASL
// responses (Google's XOAUTH2 page, RFC 7628 section 4.1), the redirect's request line, the token
// answer, and the credential blob split at the 2,560-byte limit.
#include <gtest/gtest.h>

#include <string>

#include "core/oauth/authorize.h"
#include "core/oauth/encoding.h"
#include "core/oauth/pkce.h"
#include "core/oauth/provider.h"
#include "core/oauth/sasl.h"
#include "core/oauth/sha256.h"
#include "core/oauth/token_exchange.h"
#include "core/oauth/token_store.h"

using namespace tarvel;
using namespace tarvel::oauth;

namespace {

std::string Hex(const std::array<std::uint8_t, 32>& digest) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string hex;
    for (const auto b : digest)
        hex += std::string{Digits[b >> 4], Digits[b & 15]};
    return hex;
}

} // namespace

TEST(Pkce, Sha256AndTheRfcExample) {
    const struct {
        std::string input, hex;
    } digests[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& d : digests)
        EXPECT_EQ(Hex(Sha256(d.input)), d.hex) << d.input.size() << " bytes";

    const unsigned char octets[] = {116, 24,  223, 180, 151, 153, 224, 37,  79,  250, 96,
                                    125, 216, 173, 187, 186, 22,  212, 37,  77,  105, 214,
                                    191, 240, 91,  88,  5,   88,  83,  132, 141, 121};
    const std::string verifier =
        CodeVerifier(std::string(reinterpret_cast<const char*>(octets), sizeof octets));
    EXPECT_EQ(verifier, "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk");
    EXPECT_EQ(CodeChallengeS256(verifier), "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
}

TEST(Sasl, PublishedInitialResponsesAndTheLineLimit) {
    EXPECT_EQ(BearerInitialResponse(BearerMechanism::XOAuth2, "someuser@example.com",
                                    "ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg", "", 0),
              "dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52YjNSbGNrQmhkSFJoZG"
              "1semRHR"
              "XVZMjl0Q2cBAQ==");
    EXPECT_EQ(
        BearerInitialResponse(BearerMechanism::OAuthBearer, "user@example.com",
                              "vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg==", "server.example.com", 143),
        "bixhPXVzZXJAZXhhbXBsZS5jb20sAWhvc3Q9c2VydmVyLmV4YW1wbGUuY29tAXBvcnQ9MTQzAWF1dGg9QmVhcmVyIHZGOWRmdDRx"
        "bVRjMk52YjNSbGNrQmhiSFJoZG1semRHRXVZMjl0Q2c9PQEB");
    // "," and "=" in the user name are escaped in the GS2 header (RFC 5801).
    EXPECT_EQ(Base64Decode(BearerInitialResponse(BearerMechanism::OAuthBearer, "a,b=c", "t", "", 0)),
              std::string("n,a=a=2Cb=3Dc,\x01"
                          "auth=Bearer t\x01\x01"));

    // "AUTH XOAUTH2 " is 13 octets and CR LF 2: a 497-character response just fits in 512.
    EXPECT_TRUE(FitsOnAuthLine(BearerMechanism::XOAuth2, 497));
    EXPECT_FALSE(FitsOnAuthLine(BearerMechanism::XOAuth2, 498));
    EXPECT_TRUE(FitsOnAuthLine(BearerMechanism::OAuthBearer, 493));
    EXPECT_FALSE(FitsOnAuthLine(BearerMechanism::OAuthBearer, 494));
}

TEST(Sasl, ErrorChallengesAndTheirAnswers) {
    EXPECT_EQ(ErrorChallengeAnswer(BearerMechanism::XOAuth2), "");
    EXPECT_EQ(ErrorChallengeAnswer(BearerMechanism::OAuthBearer), "AQ==");
    const struct {
        const char* challenge;
        bool readable, refused;
        const char* status;
    } cases[] = {
        // RFC 7628 section 4.3.
        {"eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIiwic2NvcGUiOiJleGFtcGxlX3Njb3BlIiwib3BlbmlkLWNvbmZpZ3VyYXRpb24iOiJ"
         "odHRwcz"
         "ovL2V4YW1wbGUuY29tLy53ZWxsLWtub3duL29wZW5pZC1jb25maWd1cmF0aW9uIn0=",
         true, true, "invalid_token"},
        // Google's page, with its trailing line break inside the JSON.
        {"eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIG1hYyIsInNjb3BlIjoiaHR0cHM6Ly9tYWlsLmdvb2dsZS5jb20vIn0"
         "K",
         true, true, "401"},
        {"eyJzdGF0dXMiOiJpbnN1ZmZpY2llbnRfc2NvcGUifQ==", true, false, "insufficient_scope"},
        {"", false, false, ""},
        {"bm90IGpzb24=", false, false, ""}, // "not json"
        {"not base64!", false, false, ""},
    };
    for (const auto& c : cases) {
        const BearerError error = ParseBearerError(c.challenge);
        EXPECT_EQ(error.readable, c.readable) << c.challenge;
        EXPECT_EQ(error.tokenRefused, c.refused) << c.challenge;
        EXPECT_EQ(error.status, c.status) << c.challenge;
    }
}

TEST(Authorize, UrlCarriesEveryParameterEncoded) {
    const Endpoints endpoints{"https://login.example/authorize?tenant=x", "https://login.example/token",
                              "https://outlook.office.com/SMTP.Send offline_access"};
    const std::string url =
        AuthorizationUrl(endpoints, {"client 1", RedirectUri(50123), "st/ate",
                                     "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM", "me+you@example.com"});
    EXPECT_EQ(url, "https://login.example/authorize?tenant=x&response_type=code&client_id=client%201"
                   "&redirect_uri=http%3A%2F%2F127.0.0.1%3A50123%2F"
                   "&scope=https%3A%2F%2Foutlook.office.com%2FSMTP.Send%20offline_access&state=st%2Fate"
                   "&code_challenge=E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM&code_challenge_method=S256"
                   "&login_hint=me%2Byou%40example.com");
}

TEST(Authorize, RedirectRequestLines) {
    const std::string wrong =
        "The browser's answer did not belong to this sign-in (wrong state); nothing was stored";
    const std::string percent =
        "The browser's answer to the sign-in was not readable (a \"%\" without two hexadecimal digits)";
    const std::string notUnderstood =
        "The browser's answer to the sign-in was no request this program understands";
    const struct {
        std::string query; // of "GET /?<query> HTTP/1.1" unless it begins with "!": the whole line
        RedirectEnd end;
        std::string codeOrMessage;
    } cases[] = {
        {"code=Splx%2FlOB+x&state=Xy_9", RedirectEnd::Code, "Splx/lOB x"},
        {"state=Xy_9&code=abc&session_state=1", RedirectEnd::Code, "abc"},
        {"code=abc&state=other", RedirectEnd::WrongState, wrong},
        {"code=abc", RedirectEnd::WrongState, wrong},
        {"error=access_denied&error_description=The+user+said+no&state=Xy_9", RedirectEnd::Refused,
         "The sign-in was refused: access_denied (The user said no)"},
        {"error=access_denied&state=Xy_9", RedirectEnd::Refused, "The sign-in was refused: access_denied"},
        {"state=Xy_9", RedirectEnd::Unreadable,
         "The browser's answer to the sign-in held no authorization code"},
        {"code=a%2&state=Xy_9", RedirectEnd::Unreadable, percent},
        {"code=a%zzb&state=Xy_9", RedirectEnd::Unreadable, percent},
        {"code=" + std::string(8200, 'c') + "&state=Xy_9", RedirectEnd::Unreadable,
         "The browser's answer to the sign-in was too long (over 8 KiB)"},
        {"!POST /?code=abc&state=Xy_9 HTTP/1.1", RedirectEnd::Unreadable, notUnderstood},
        {"!", RedirectEnd::Unreadable, notUnderstood},
    };
    for (const auto& c : cases) {
        const std::string line =
            c.query.starts_with("!") ? c.query.substr(1) : "GET /?" + c.query + " HTTP/1.1";
        const RedirectAnswer answer = ParseRedirect(line, "Xy_9");
        EXPECT_EQ(answer.end, c.end) << line.substr(0, 80);
        EXPECT_EQ(answer.end == RedirectEnd::Code ? answer.code : answer.message, c.codeOrMessage)
            << line.substr(0, 80);
    }
}

TEST(Provider, BuiltInValuesTenantAndOverrides) {
    const auto resolve = [](OAuthProvider provider, std::string tenant, std::string tokenUrl,
                            std::string scope) {
        OAuth2Settings s{provider, "id", "", std::move(tenant), "", std::move(tokenUrl), std::move(scope)};
        const auto e = ResolveEndpoints(s);
        return e ? e->authorizeUrl + " " + e->tokenUrl + " " + e->scope : std::string("none");
    };
    EXPECT_EQ(resolve(OAuthProvider::Microsoft, "", "", ""),
              "https://login.microsoftonline.com/common/oauth2/v2.0/authorize "
              "https://login.microsoftonline.com/common/oauth2/v2.0/token "
              "https://outlook.office.com/SMTP.Send offline_access");
    EXPECT_EQ(resolve(OAuthProvider::Microsoft, "contoso", "https://t/x", ""),
              "https://login.microsoftonline.com/contoso/oauth2/v2.0/authorize https://t/x "
              "https://outlook.office.com/SMTP.Send offline_access");
    EXPECT_EQ(resolve(OAuthProvider::Google, "", "", "s"),
              "https://accounts.google.com/o/oauth2/v2/auth https://oauth2.googleapis.com/token s");
    EXPECT_EQ(resolve(OAuthProvider::Other, "", "https://t/x", "s"), "none"); // no authorization URL
    EXPECT_EQ(ResolveEndpoints(OAuth2Settings{}), std::nullopt);              // no client ID
    EXPECT_EQ(ParseProvider(" google "), OAuthProvider::Google);
    EXPECT_EQ(ParseProvider("Yahoo"), std::nullopt);
}

TEST(TokenAnswer, ReadWithoutThrowing) {
    const struct {
        int status;
        const char* body;
        bool ok;
        const char* access;
        const char* refresh;
        long long expires;
        const char* error;
        const char* description;
    } cases[] = {
        {200, R"({"access_token":"at","token_type":"Bearer","expires_in":3599,"refresh_token":"rt"})", true,
         "at", "rt", 3599, "", ""},
        {200, R"({"access_token":"at","token_type":"bearer","expires_in":"30"})", true, "at", "", 30, "", ""},
        {400, R"({"error":"invalid_grant","error_description":"AADSTS70000: revoked.\r\nTrace ID: 1"})",
         false, "", "", 0, "invalid_grant",
         "The sign-in server refused: invalid_grant (AADSTS70000: revoked.)"},
        {500, "<html>down</html>", false, "", "", 0, "",
         "The sign-in server's answer (HTTP 500) was not readable"},
        {200, R"({"access_token":7})", false, "", "", 0, "",
         "The sign-in server's answer held no bearer access token"},
        {200, R"([1,2])", false, "", "", 0, "", "The sign-in server's answer (HTTP 200) was not readable"},
    };
    for (const auto& c : cases) {
        const TokenResponse r = ParseTokenResponse(c.status, c.body);
        EXPECT_EQ(r.ok, c.ok) << c.body;
        EXPECT_EQ(r.accessToken, c.access) << c.body;
        EXPECT_EQ(r.refreshToken, c.refresh) << c.body;
        EXPECT_EQ(r.expiresIn.count(), c.expires) << c.body;
        EXPECT_EQ(r.error, c.error) << c.body;
        EXPECT_EQ(r.description, c.description) << c.body;
    }
}

TEST(TokenStore, TargetNamesAndTheSplitAtTheBlobLimit) {
    EXPECT_EQ(
        CredentialTarget("me@example.com", "https://Login.MicrosoftOnline.com/common/oauth2/v2.0/token"),
        "Tarvel Pro/oauth2/me@example.com@login.microsoftonline.com");
    EXPECT_EQ(CredentialTarget("u", "https://localhost:8443/token"), "Tarvel Pro/oauth2/u@localhost");
    EXPECT_EQ(CredentialPartTarget("T", 0), "T");
    EXPECT_EQ(CredentialPartTarget("T", 1), "T#2");

    const struct {
        std::size_t size;
        std::vector<std::size_t> parts;
    } cases[] = {{0, {0}}, {2560, {2560}}, {2561, {2560, 1}}, {5121, {2560, 2560, 1}}};
    for (const auto& c : cases) {
        std::string blob;
        for (std::size_t i = 0; i < c.size; ++i)
            blob += static_cast<char>('a' + i % 26);
        const auto parts = SplitCredentialBlob(blob);
        std::vector<std::size_t> sizes;
        for (const auto& p : parts)
            sizes.push_back(p.size());
        EXPECT_EQ(sizes, c.parts) << c.size;
        EXPECT_EQ(JoinCredentialBlob(parts), blob) << c.size;
    }
}
