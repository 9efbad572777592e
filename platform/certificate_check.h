// The server certificate check that the program does itself (Wine's SChannel checks nothing): chain to
// a trusted root, the server name, and what the trust dialog shows about a certificate that fails it.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace tarvel {

struct CertificateReport {
    bool trusted = false; // chain and name both good
    std::string problem;  // why not, in words for the user
    std::string subject;
    std::string issuer;
    std::string validFrom; // "YYYY-MM-DD HH:MM UTC"
    std::string validTo;
    std::string sha256; // 64 lower-case hex digits of the DER certificate
};

// Builds the chain for server authentication (with the certificates the server sent for the
// intermediates), applies the SSL policy with `serverName`, and requires a clean chain status.
CertificateReport CheckServerCertificate(PCCERT_CONTEXT certificate, const std::string& serverName);

} // namespace tarvel
