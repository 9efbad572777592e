// The sign-in's refresh token in Windows Credential Manager: generic entries holding its UTF-8 bytes, split
// over numbered entries where it passes what one entry holds on Windows. Never in a file.
#pragma once

#include <string>
#include <string_view>

#include "core/oauth/sign_in.h"

namespace tarvel {

// The parts are oauth::SplitCredentialBlob's, under oauth::CredentialPartTarget's names: Wine takes longer
// blobs than Windows does, so the program keeps to Windows' limit everywhere.
// Empty on success, else the system's reason; a failed store leaves no part of the token behind.
std::string StoreToken(const std::string& target, std::string_view token);
// Not found is no error. The caller wipes the text after use.
oauth::TokenRead LoadToken(const std::string& target);
// Empty when no part is left afterwards (also when there was none), else the system's reason.
std::string DeleteToken(const std::string& target);

} // namespace tarvel
