// CredWriteW/CredReadW/CredDeleteW over the parts of a token; every copy that passes through here is wiped
// before its memory is given back.
#include "platform/token_store.h"

#include <windows.h>
#include <wincred.h>

#include <memory>
#include <vector>

#include "core/oauth/token_store.h"
#include "core/text/wide.h"
#include "platform/generic_credential.h"

namespace tarvel {
namespace {

using oauth::CredentialBlobLimit;

std::wstring PartTarget(const std::string& target, std::size_t index) {
    return Widen(oauth::CredentialPartTarget(target, index));
}

// From part `first` on, until one is missing; 0 when none is left, else the system's error.
DWORD DeleteParts(const std::string& target, std::size_t first) {
    for (std::size_t index = first;; ++index) {
        if (CredDeleteW(PartTarget(target, index).c_str(), CRED_TYPE_GENERIC, 0)) continue;
        const DWORD error = GetLastError();
        return error == ERROR_NOT_FOUND ? 0 : error;
    }
}

} // namespace

std::string StoreToken(const std::string& target, std::string_view token) {
    if (target.empty() || token.empty()) return "There is no sign-in to store.";
    std::vector<std::string> parts = oauth::SplitCredentialBlob(token);
    DWORD error = 0;
    for (std::size_t index = 0; index < parts.size() && error == 0; ++index)
        error = WriteGenericCredential(PartTarget(target, index), parts[index]);
    for (std::string& part : parts)
        SecureZeroMemory(part.data(), part.size());
    if (error != 0) {
        DeleteParts(target, 0);
        return "The sign-in could not be stored in Windows Credential Manager (error " +
               std::to_string(error) + ").";
    }
    // A longer token stored before would otherwise leave its tail to be joined to this one.
    DeleteParts(target, parts.size());
    return {};
}

oauth::TokenRead LoadToken(const std::string& target) {
    oauth::TokenRead read;
    auto failed = [&read](DWORD error) {
        SecureZeroMemory(read.token.data(), read.token.size());
        return oauth::TokenRead{false,
                                {},
                                "The sign-in could not be read from Windows Credential Manager (error " +
                                    std::to_string(error) + ")."};
    };
    for (std::size_t index = 0;; ++index) {
        PCREDENTIALW raw = nullptr;
        if (!CredReadW(PartTarget(target, index).c_str(), CRED_TYPE_GENERIC, 0, &raw) || raw == nullptr) {
            const DWORD error = GetLastError();
            if (error != ERROR_NOT_FOUND) return failed(error);
            read.found = index > 0;
            return read;
        }
        std::unique_ptr<CREDENTIALW, CredentialFree> credential(raw);
        if (credential->CredentialBlobSize > CredentialBlobLimit) return failed(ERROR_INVALID_DATA);
        if (index == 0) read.token.reserve(CredentialBlobLimit * 4); // few reallocations: few stale copies
        read.token.append(reinterpret_cast<const char*>(credential->CredentialBlob),
                          credential->CredentialBlobSize);
        // Only a full part can have a successor.
        if (credential->CredentialBlobSize < CredentialBlobLimit) {
            read.found = true;
            return read;
        }
    }
}

std::string DeleteToken(const std::string& target) {
    if (const DWORD error = DeleteParts(target, 0))
        return "The sign-in could not be removed from Windows Credential Manager (error " +
               std::to_string(error) + ").";
    return {};
}

} // namespace tarvel
