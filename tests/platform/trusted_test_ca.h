// A test CA (DER, as the Python servers write it) in the user's root store for as long as this object
// lives, committed so that the chain engine sees it (Wine saves a system store's changes only when asked).
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace tarvel::test {

class TrustedTestCa {
public:
    explicit TrustedTestCa(const std::string& der) {
        store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
        if (store_ && !der.empty())
            CertAddEncodedCertificateToStore(
                store_, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, &ca_);
        if (store_) CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    }
    ~TrustedTestCa() {
        if (ca_) CertDeleteCertificateFromStore(ca_); // frees the context too
        if (store_) CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        if (store_) CertCloseStore(store_, 0);
    }
    TrustedTestCa(const TrustedTestCa&) = delete;
    TrustedTestCa& operator=(const TrustedTestCa&) = delete;

    bool Added() const { return ca_ != nullptr; }

private:
    HCERTSTORE store_ = nullptr;
    PCCERT_CONTEXT ca_ = nullptr;
};

} // namespace tarvel::test
