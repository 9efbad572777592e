// CredWriteW/CredReadW/CredDeleteW over the parts of a token; every copy that passes through here is wiped
// before its memory is given back.
#include "platform/token_store.h"

#include <windows.h>
#include <wincred.h>

#include <memory>
#include <vector>

#include "platform/wide_text.h"

namespace tarvel {
namespace {

struct CredentialFree {
    void operator()(PCREDENTIALW credential) const noexcept {
        if (credential->CredentialBlob)
            SecureZeroMemory(credential->CredentialBlob, credential->CredentialBlobSize);
        CredFree(credential);
    }
};

// The first part under the target itself, the next ones under "<target>/2", "<target>/3"...
std::wstring PartTarget(const std::string& target, std::size_t index) {
    return Widen(index == 0 ? target : target + "/" + std::to_string(index + 1));
}

DWORD WritePart(const std::wstring& name, std::string_view bytes) {
    std::vector<BYTE> blob(bytes.begin(), bytes.end());
    std::wstring writable = name;
    CREDENTIALW credential{};
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = writable.data();
    credential.CredentialBlobSize = static_cast<DWORD>(blob.size());
    credential.CredentialBlob = blob.data();
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    const DWORD error = CredWriteW(&credential, 0) ? 0 : GetLastError();
    if (!blob.empty()) SecureZeroMemory(blob.data(), blob.size());
    return error;
}

// From part `first` on, until one is missing.
bool DeleteParts(const std::string& target, std::size_t first) {
    for (std::size_t index = first;; ++index) {
        if (CredDeleteW(PartTarget(target, index).c_str(), CRED_TYPE_GENERIC, 0)) continue;
        return GetLastError() == ERROR_NOT_FOUND;
    }
}

} // namespace

std::string StoreToken(const std::string& target, std::string_view token) {
    if (target.empty() || token.empty()) return "There is no sign-in to store.";
    const std::size_t parts = (token.size() + CredentialBlobLimit - 1) / CredentialBlobLimit;
    for (std::size_t index = 0; index < parts; ++index) {
        if (const DWORD error = WritePart(PartTarget(target, index),
                                          token.substr(index * CredentialBlobLimit, CredentialBlobLimit))) {
            DeleteParts(target, 0);
            return "The sign-in could not be stored in Windows Credential Manager (error " +
                   std::to_string(error) + ").";
        }
    }
    // A longer token stored before would otherwise leave its tail to be joined to this one.
    DeleteParts(target, parts);
    return {};
}

std::optional<std::string> LoadToken(const std::string& target) {
    std::string token;
    for (std::size_t index = 0;; ++index) {
        PCREDENTIALW raw = nullptr;
        if (!CredReadW(PartTarget(target, index).c_str(), CRED_TYPE_GENERIC, 0, &raw) || raw == nullptr) {
            const bool missing = GetLastError() == ERROR_NOT_FOUND;
            if (index > 0 && missing) return token;
            SecureZeroMemory(token.data(), token.size());
            return std::nullopt;
        }
        std::unique_ptr<CREDENTIALW, CredentialFree> credential(raw);
        if (credential->CredentialBlobSize == 0 || credential->CredentialBlobSize > CredentialBlobLimit) {
            SecureZeroMemory(token.data(), token.size());
            return std::nullopt;
        }
        if (index == 0) token.reserve(CredentialBlobLimit * 4); // few reallocations: few stale copies
        token.append(reinterpret_cast<const char*>(credential->CredentialBlob),
                     credential->CredentialBlobSize);
        // Only a full part can have a successor.
        if (credential->CredentialBlobSize < CredentialBlobLimit) return token;
    }
}

bool DeleteToken(const std::string& target) {
    return DeleteParts(target, 0);
}

} // namespace tarvel
