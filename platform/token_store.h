// The sign-in's refresh token in Windows Credential Manager: generic entries holding its UTF-8 bytes, split
// over numbered entries where it passes what one entry holds on Windows. Never in a file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// CRED_MAX_CREDENTIAL_BLOB_SIZE. Wine takes more; Windows refuses it, so the program keeps to it everywhere.
inline constexpr std::size_t CredentialBlobLimit = 2560;

// Empty on success, else the system's reason; a failed store leaves no part of the token behind.
std::string StoreToken(const std::string& target, std::string_view token);
// nullopt when there is none (or a part cannot be read). The caller wipes the text after use.
std::optional<std::string> LoadToken(const std::string& target);
// True when no part is left afterwards (also when there was none).
bool DeleteToken(const std::string& target);

} // namespace tarvel
