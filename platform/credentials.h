// The SMTP password in Windows Credential Manager: never in a file, never kept longer than a send.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// "Tarvel Pro/smtp/<user>@<server>": one entry per account and server.
std::string CredentialTarget(std::string_view user, std::string_view server);

// Empty on success, else the system's reason.
std::string StorePassword(const std::string& target, const std::string& password);
// nullopt when there is no entry (or it cannot be read). The caller wipes the text after use.
std::optional<std::string> ReadPassword(const std::string& target);
// True when the entry is gone afterwards (also when there was none).
bool DeletePassword(const std::string& target);

} // namespace tarvel
