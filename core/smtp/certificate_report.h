// What the certificate check found about a server's certificate: what the send flow hands the user to
// decide on, and the fields the decision ("trusted, or pinned") needs. Filled in by platform/.
#pragma once

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

} // namespace tarvel
