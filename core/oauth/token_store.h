// Where the refresh token is kept: a generic Credential Manager entry per user and token host, split
// over numbered entries when it is longer than one entry's blob may be.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel::oauth {

// CRED_MAX_CREDENTIAL_BLOB_SIZE: the most bytes one generic credential holds.
inline constexpr std::size_t CredentialBlobLimit = 2560;

// "Tarvel Pro/oauth2/<user>@<token host>", the host taken from the token URL in lower case.
std::string CredentialTarget(std::string_view user, std::string_view tokenUrl);
// The entry that holds part `index` (from 0): the target itself, then "<target>#2", "<target>#3"...
std::string CredentialPartTarget(std::string_view target, std::size_t index);

// The blob in parts of at most CredentialBlobLimit bytes, in order; one empty part for an empty blob.
std::vector<std::string> SplitCredentialBlob(std::string_view blob);
std::string JoinCredentialBlob(const std::vector<std::string>& parts);

} // namespace tarvel::oauth
