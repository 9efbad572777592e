// The settings kept in zembrix.ini: how the connection is secured, who logs on and how, which
// certificates the user trusted. The password is not among them: it lives in Credential Manager.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/oauth/oauth_settings.h"
#include "core/smtp/session_security.h"

namespace tarvel {

struct SecuritySettings {
    SecurityMode Mode = SecurityMode::None;
    std::string User; // empty: no log-on
    // Lower-case server name -> lower-case SHA-256 hex of the certificate the user trusted for it.
    std::map<std::string, std::string> Trusted;
    // Lines of the file this program does not interpret (comments, other sections), with the section
    // they stood in ("" before the first one), so that a save gives them back.
    std::vector<std::pair<std::string, std::string>> OtherLines;
    // Last, so that records written out member by member elsewhere keep their meaning.
    LogOnMethod LogOn = LogOnMethod::Password;
    OAuth2Settings OAuth2; // read and kept whatever LogOn says, used only with OAuth2
};

} // namespace tarvel
