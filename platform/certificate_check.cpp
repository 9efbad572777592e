// CertGetCertificateChain + CertVerifyCertificateChainPolicy(SSL), and the fields the user is shown
// when a certificate fails them.
#include "platform/certificate_check.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "core/text/wide.h"

namespace tarvel {
namespace {

// The build targets Windows XP, whose headers hide SHA-256; XP SP3 and later providers have it.
#ifndef CALG_SHA_256
constexpr ALG_ID CALG_SHA_256 = 0x0000800c;
#endif

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

} // namespace

CertificateReport CheckServerCertificate(PCCERT_CONTEXT certificate, const std::string& serverName) {
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
    PCCERT_CHAIN_CONTEXT rawChain = nullptr;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, 0,
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
    report.trusted = report.problem.empty();
    return report;
}

} // namespace tarvel
