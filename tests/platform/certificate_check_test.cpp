// The certificate check against one table of server certificates that certificate_fixtures.py makes at
// each run (through run_with_certificates.py): an engine whose only root is the test CA, the moment the
// certificates were made for, and revocation lists in the server's store or behind a 127.0.0.1 URL.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/certificate_check.h"

namespace tarvel {
namespace {

// CERT_CHAIN_ENGINE_CONFIG as Windows 7 declares it; the XP headers this build uses stop before
// hExclusiveRoot. Wine 8 refuses Windows 8's longer form (dwExclusiveFlags) with E_INVALIDARG.
struct ExclusiveEngineConfig {
    CERT_CHAIN_ENGINE_CONFIG base;
    HCERTSTORE hExclusiveRoot;
    HCERTSTORE hExclusiveTrustedPeople;
};

constexpr DWORD UrlTimeoutMs = 2000;

struct StoreClose {
    void operator()(HCERTSTORE store) const noexcept { CertCloseStore(store, 0); }
};
using Store = std::unique_ptr<void, StoreClose>;
struct EngineFree {
    void operator()(HCERTCHAINENGINE engine) const noexcept { CertFreeCertificateChainEngine(engine); }
};
using Engine = std::unique_ptr<void, EngineFree>;
struct CertificateFree {
    void operator()(PCCERT_CONTEXT certificate) const noexcept { CertFreeCertificateContext(certificate); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

std::string Fixture(const std::string& file) {
    const char* folder = std::getenv("TARVEL_CERT_FOLDER");
    std::ifstream in(std::string(folder ? folder : ".") + "\\" + file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Store MemoryStore() {
    return Store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
}

// Adds a certificate (NAME.der) or a revocation list (NAME.crl) from the fixtures to `store`.
PCCERT_CONTEXT Add(HCERTSTORE store, const std::string& file) {
    const std::string der = Fixture(file);
    const auto* bytes = reinterpret_cast<const BYTE*>(der.data());
    const auto size = static_cast<DWORD>(der.size());
    if (file.ends_with(".crl")) {
        EXPECT_TRUE(
            CertAddEncodedCRLToStore(store, X509_ASN_ENCODING, bytes, size, CERT_STORE_ADD_NEW, nullptr))
            << file;
        return nullptr;
    }
    PCCERT_CONTEXT added = nullptr;
    EXPECT_TRUE(
        CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, bytes, size, CERT_STORE_ADD_NEW, &added))
        << file;
    return added;
}

FILETIME FixtureTime(double daysLater) {
    const long long seconds = std::atoll(Fixture("time.txt").c_str());
    const auto ticks = static_cast<unsigned long long>(
        (seconds + 11644473600LL) * 10000000LL + static_cast<long long>(daysLater * 86400) * 10000000LL);
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

struct Case {
    const char* leaf; // NAME.der among the fixtures
    const char* serverName;
    std::vector<std::string> sent; // what else the server's store holds: certificates, revocation lists
    bool trusted;
    const char* problem; // as the user reads it
    double daysLater = 0;
    bool systemRoots = false; // the default engine instead of the test CA's
};

constexpr const char* Untrusted = "The certificate is not issued by an authority this computer trusts.";
constexpr const char* OutOfTime = "The certificate has expired or is not yet valid.";
constexpr const char* NoIssuer =
    "The certificate's issuer is unknown: no chain to a trusted authority could be built.";
constexpr const char* Revoked = "The certificate has been revoked.";

const Case Cases[] = {
    {"good", "localhost", {}, true, ""},
    {"good", "LOCALHOST", {}, true, ""},
    // The test CA is in no system store: the default engine cannot even find it.
    {"good", "localhost", {}, false, NoIssuer, 0, true},
    {"expired", "localhost", {}, false, OutOfTime},
    // The moment is the caller's: checked while it was valid, it passes.
    {"expired", "localhost", {}, true, "", -7},
    {"future", "localhost", {}, false, OutOfTime},
    {"good", "localhost", {}, false, OutOfTime, 3},
    {"wildcard", "mail.example.test", {}, true, ""},
    {"wildcard",
     "a.mail.example.test",
     {},
     false,
     "The certificate does not belong to the server name a.mail.example.test."},
    {"wildcard",
     "example.test",
     {},
     false,
     "The certificate does not belong to the server name example.test."},
    // Wine 8 matches DNS names only: an IP address entry never matches (Windows accepts this one).
    {"address", "127.0.0.1", {}, false, "The certificate does not belong to the server name 127.0.0.1."},
    {"client-only", "localhost", {}, false, "The certificate is not meant for servers."},
    {"intermediate", "localhost", {"inter.der"}, true, ""},
    {"intermediate",
     "localhost",
     {},
     false,
     "The certificate's issuer is unknown: no chain to a trusted authority could be built."},
    {"wrong-name", "localhost", {}, false, "The certificate does not belong to the server name localhost."},
    {"self-signed", "localhost", {}, false, Untrusted},
    {"revoked", "localhost", {"revoked.crl"}, false, Revoked},
    // Best effort: no list to be had is no finding.
    {"revoked", "localhost", {}, true, ""},
    {"revoked-url", "localhost", {}, false, Revoked},
    {"offline-url", "localhost", {}, true, ""},
    // A server that never answers costs the time-out, and then the certificate passes (Wine 8 itself
    // would wait for an OCSP responder without end).
    {"silent-url", "localhost", {}, true, ""},
    {"silent-ocsp", "localhost", {}, true, ""},
};

TEST(CertificateCheck, EachFixtureGetsItsVerdictAndItsWords) {
    const Store roots = MemoryStore();
    Certificate(Add(roots.get(), "ca.der"));
    ExclusiveEngineConfig config{};
    config.base.cbSize = sizeof config;
    config.hExclusiveRoot = roots.get();
    HCERTCHAINENGINE raw = nullptr;
    ASSERT_TRUE(CertCreateCertificateChainEngine(&config.base, &raw)) << GetLastError();
    const Engine engine(raw);

    for (const Case& c : Cases) {
        SCOPED_TRACE(std::string(c.leaf) + " as " + c.serverName + ", " + std::to_string(c.daysLater) +
                     " days on");
        const Store sent = MemoryStore();
        const Certificate leaf(Add(sent.get(), std::string(c.leaf) + ".der"));
        for (const std::string& file : c.sent)
            Certificate(Add(sent.get(), file));
        const ChainSettings settings{c.systemRoots ? nullptr : engine.get(), FixtureTime(c.daysLater),
                                     UrlTimeoutMs};
        const CertificateReport report = CheckServerCertificate(leaf.get(), c.serverName, settings);
        EXPECT_EQ(report.trusted, c.trusted);
        EXPECT_EQ(report.problem, c.problem);
        EXPECT_EQ(report.sha256.size(), 64u);
    }
}

} // namespace
} // namespace tarvel
