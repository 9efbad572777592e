// What the tests against Python servers on the Linux side share: the servers' folder that the runner names
// in an environment variable, its servers.txt ("name=port" lines), and its test CA trusted while they run.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace tarvel::test {

inline std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The folder, as a Windows path; empty when the test was not started through its runner.
inline std::string ServerFolder(const char* variable) {
    const char* folder = std::getenv(variable);
    return folder ? folder : "";
}

inline std::map<std::string, std::string> ServerInfo(const std::string& folder) {
    std::map<std::string, std::string> info;
    std::ifstream in(folder + "\\servers.txt");
    for (std::string line; std::getline(in, line);)
        if (const auto equals = line.find('='); equals != std::string::npos)
            info[line.substr(0, equals)] = line.substr(equals + 1);
    return info;
}

// A test CA (DER) in the user's root store for as long as this object lives, committed so that the chain
// engine sees it (Wine saves a system store's changes only when asked).
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
