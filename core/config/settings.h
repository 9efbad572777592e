// The settings and the name list that the program keeps in zembrix.cfg, one copy for the whole run.
#pragma once

#include <string>
#include <vector>

#include "core/config/security_settings.h"

namespace tarvel {

inline constexpr const char* DefaultSMTPServer = "localhost";

struct Settings {
    std::string SMTPServer = DefaultSMTPServer;
    std::string SMTPPort = "25";
    std::string EmailAddress;
    std::string DialEntry;
    std::string DialPassword;
    bool UseDialup = false;
    bool FirstRun = false;
    // Parallel lists: entry i of each belongs together, and every change keeps them the same length.
    std::vector<std::string> NameList;
    std::vector<std::string> AddressList;
    // From zembrix.ini beside zembrix.cfg.
    SecuritySettings Security;
};

} // namespace tarvel
