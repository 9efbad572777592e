// CertGetCertificateChain + CertVerifyCertificateChainPolicy(SSL), the revocation check beside them, and the
// fields the user is shown when a certificate fails them.
// The XP headers stop CERT_CHAIN_PARA and CERT_REVOCATION_PARA before their download time-outs; every
// crypt32 that checks revocation knows the longer forms.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#define CERT_REVOCATION_PARA_HAS_EXTRA_FIELDS
#include "platform/certificate_check.h"

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "core/text/wide.h"

namespace tarvel {
namespace {

// The build targets Windows XP, whose headers hide SHA-256; XP SP3 and later providers have it.
#ifndef CALG_SHA_256
constexpr ALG_ID CALG_SHA_256 = 0x0000800c;
#endif

constexpr DWORD SystemUrlTimeoutMs = 5000;

struct ChainFree {
    void operator()(PCCERT_CHAIN_CONTEXT chain) const noexcept { CertFreeCertificateChain(chain); }
};
using ChainHandle = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

struct ProviderRelease {
    void operator()(HCRYPTPROV* provider) const noexcept {
        CryptReleaseContext(*provider, 0);
        delete provider;
    }
};
struct HashDestroy {
    void operator()(HCRYPTHASH* hash) const noexcept {
        CryptDestroyHash(*hash);
        delete hash;
    }
};

std::string Name(PCCERT_CONTEXT certificate, DWORD flags) {
    // Names in any script: the A call would turn what the code page lacks into "?".
    wchar_t buffer[512] = {};
    CertGetNameStringW(certificate, CERT_NAME_RDN_TYPE, flags, nullptr, buffer, 512);
    if (buffer[0] == L'\0')
        CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, buffer, 512);
    return Narrow(buffer);
}

std::string Time(const FILETIME& time) {
    SYSTEMTIME t{};
    if (!FileTimeToSystemTime(&time, &t)) return "?";
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u UTC", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute);
    return text;
}

std::string Sha256Hex(PCCERT_CONTEXT certificate) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return {};
    std::unique_ptr<HCRYPTPROV, ProviderRelease> providerOwner(new HCRYPTPROV(provider));
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) return {};
    std::unique_ptr<HCRYPTHASH, HashDestroy> hashOwner(new HCRYPTHASH(hash));
    if (!CryptHashData(hash, certificate->pbCertEncoded, certificate->cbCertEncoded, 0)) return {};
    BYTE digest[32];
    DWORD size = sizeof digest;
    if (!CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) || size != sizeof digest) return {};
    static const char Hex[] = "0123456789abcdef";
    std::string text;
    for (BYTE b : digest) {
        text += Hex[b >> 4];
        text += Hex[b & 15];
    }
    return text;
}

// The chain's own findings first: they say more than the policy's summary does.
std::string ChainProblem(DWORD status) {
    if (status & CERT_TRUST_IS_REVOKED) return "The certificate has been revoked.";
    if (status & CERT_TRUST_IS_NOT_TIME_VALID) return "The certificate has expired or is not yet valid.";
    if (status & CERT_TRUST_IS_UNTRUSTED_ROOT)
        return "The certificate is not issued by an authority this computer trusts.";
    if (status & CERT_TRUST_IS_PARTIAL_CHAIN)
        return "The certificate's issuer is unknown: no chain to a trusted authority could be built.";
    if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return "The certificate's signature is not valid.";
    if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return "The certificate is not meant for servers.";
    return "The certificate's chain of trust is not valid.";
}

std::string PolicyProblem(DWORD error, const std::string& serverName) {
    switch (error) {
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
        return "The certificate does not belong to the server name " + serverName + ".";
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT):
        return "The certificate is not issued by an authority this computer trusts.";
    case static_cast<DWORD>(CERT_E_EXPIRED):
        return "The certificate has expired or is not yet valid.";
    case static_cast<DWORD>(CERT_E_CHAINING):
        return "The certificate's issuer is unknown: no chain to a trusted authority could be built.";
    case static_cast<DWORD>(CRYPT_E_REVOKED):
        return "The certificate has been revoked.";
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
        return "The certificate is not meant for servers.";
    default: {
        char text[96];
        std::snprintf(text, sizeof text, "The certificate was not accepted (error 0x%08lX).",
                      static_cast<unsigned long>(error));
        return text;
    }
    }
}

struct CertificateFree {
    void operator()(PCCERT_CONTEXT certificate) const noexcept { CertFreeCertificateContext(certificate); }
};
using CertificateHandle = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;
struct StoreClose {
    void operator()(HCERTSTORE store) const noexcept { CertCloseStore(store, 0); }
};
using StoreHandle = std::unique_ptr<void, StoreClose>;

// What the revocation check reads, in copies of its own: it may outlive the check that started it.
struct RevocationJob {
    std::vector<CertificateHandle> subjects; // the chain without its root, leaf first
    std::vector<CertificateHandle> issuers;  // the issuer of each
    StoreHandle sent;                        // the server's certificates and lists
    FILETIME time{};
    DWORD timeoutMs = 0;
};

bool AnyRevoked(const RevocationJob& job) {
    for (std::size_t i = 0; i < job.subjects.size(); ++i) {
        CERT_REVOCATION_PARA para{};
        para.cbSize = sizeof para;
        para.pIssuerCert = job.issuers[i].get();
        HCERTSTORE sent = job.sent.get();
        para.cCertStore = sent ? 1 : 0;
        para.rgCertStore = sent ? &sent : nullptr;
        para.hCrlStore = sent;
        FILETIME time = job.time;
        para.pftTimeToUse = &time;
        para.dwUrlRetrievalTimeout = job.timeoutMs;
        CERT_REVOCATION_STATUS status{};
        status.cbSize = sizeof status;
        void* subject = const_cast<CERT_CONTEXT*>(job.subjects[i].get());
        if (!CertVerifyRevocation(X509_ASN_ENCODING, CERT_CONTEXT_REVOCATION_TYPE, 1, &subject,
                                  CERT_VERIFY_REV_CHAIN_FLAG, &para, &status) &&
            status.dwError == static_cast<DWORD>(CRYPT_E_REVOKED))
            return true;
    }
    return false;
}

// Best effort, as curl's: only a list or a responder that names the certificate revoked refuses it; no
// list, none reachable, or no answer in time is no finding. Wine 8 asks an OCSP responder without any
// time-out, so the check runs on a thread of its own and is given up when the time is over.
bool Revoked(PCCERT_CHAIN_CONTEXT chain, const ChainSettings& settings) {
    const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
    RevocationJob job;
    for (DWORD i = 0; i + 1 < simple.cElement; ++i) {
        job.subjects.emplace_back(CertDuplicateCertificateContext(simple.rgpElement[i]->pCertContext));
        job.issuers.emplace_back(CertDuplicateCertificateContext(simple.rgpElement[i + 1]->pCertContext));
    }
    if (job.subjects.empty()) return false;
    const HCERTSTORE sent = job.subjects.front()->hCertStore;
    job.sent.reset(sent ? CertDuplicateStore(sent) : nullptr);
    job.time = settings.time;
    job.timeoutMs = settings.urlTimeoutMs;
    auto answer = std::make_shared<std::promise<bool>>();
    std::future<bool> answered = answer->get_future();
    std::thread([job = std::move(job), answer] { answer->set_value(AnyRevoked(job)); }).detach();
    return answered.wait_for(std::chrono::milliseconds(settings.urlTimeoutMs)) == std::future_status::ready &&
           answered.get();
}

} // namespace

ChainSettings SystemChain() {
    ChainSettings settings;
    GetSystemTimeAsFileTime(&settings.time);
    settings.urlTimeoutMs = SystemUrlTimeoutMs;
    return settings;
}

CertificateReport CheckServerCertificate(PCCERT_CONTEXT certificate, const std::string& serverName,
                                         const ChainSettings& settings) {
    CertificateReport report;
    if (certificate == nullptr) {
        report.problem = "The server sent no certificate.";
        return report;
    }
    report.subject = Name(certificate, 0);
    report.issuer = Name(certificate, CERT_NAME_ISSUER_FLAG);
    report.validFrom = Time(certificate->pCertInfo->NotBefore);
    report.validTo = Time(certificate->pCertInfo->NotAfter);
    report.sha256 = Sha256Hex(certificate);

    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    FILETIME time = settings.time;
    PCCERT_CHAIN_CONTEXT rawChain = nullptr;
    if (!CertGetCertificateChain(settings.engine, certificate, &time, certificate->hCertStore, &chainPara, 0,
                                 nullptr, &rawChain)) {
        report.problem = "The certificate's chain of trust could not be built.";
        return report;
    }
    ChainHandle chain(rawChain);

    std::wstring wideName(serverName.begin(), serverName.end());
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = wideName.data();
    CERT_CHAIN_POLICY_PARA policyPara{};
    policyPara.cbSize = sizeof policyPara;
    policyPara.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS policyStatus{};
    policyStatus.cbSize = sizeof policyStatus;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policyPara, &policyStatus)) {
        report.problem = "The certificate could not be checked.";
        return report;
    }
    // Wine's policy passes partial chains: the chain's own status must be clean as well.
    const DWORD chainStatus = chain->TrustStatus.dwErrorStatus;
    if (chainStatus != 0 && policyStatus.dwError != static_cast<DWORD>(CERT_E_CN_NO_MATCH))
        report.problem = ChainProblem(chainStatus);
    else if (policyStatus.dwError != 0)
        report.problem = PolicyProblem(policyStatus.dwError, serverName);
    else if (Revoked(chain.get(), settings))
        report.problem = ChainProblem(CERT_TRUST_IS_REVOKED);
    report.trusted = report.problem.empty();
    return report;
}

} // namespace tarvel
