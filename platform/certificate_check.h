// The server certificate check that the program does itself (Wine's SChannel checks nothing): chain to
// a trusted root, the server name, and what the trust dialog shows about a certificate that fails it.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "core/smtp/certificate_report.h"

namespace tarvel {

// What a chain is checked against. The program checks against the system's roots now (SystemChain);
// tests hand in an engine whose only root is their own CA, and the moment their certificates were made for.
struct ChainSettings {
    HCERTCHAINENGINE engine = nullptr; // nullptr: the default engine (the user's and the machine's roots)
    FILETIME time{};                   // the moment the certificates must be valid at
    // The revocation check, downloads included: an unreachable list or responder must not hold the
    // handshake up for long. 0 leaves revocation unchecked.
    DWORD urlTimeoutMs = 0;
};

ChainSettings SystemChain();

// Builds the chain for server authentication (with the certificates the server sent for the
// intermediates and the lists of revoked certificates), applies the SSL policy with `serverName`, and
// requires a clean chain status. Revocation is checked best effort: a revoked certificate fails, a
// status nobody could tell (no list, or none reachable) does not.
CertificateReport CheckServerCertificate(PCCERT_CONTEXT certificate, const std::string& serverName,
                                         const ChainSettings& settings);

} // namespace tarvel
