// CredWriteW/CredReadW/CredDeleteW with generic entries kept on this machine; every copy of the
// password that passes through here is wiped before its memory is given back.
#include "platform/credentials.h"

#include <windows.h>
#include <wincred.h>

#include <memory>

#include "core/text/wide.h"
#include "platform/generic_credential.h"

namespace tarvel {

std::string CredentialTarget(std::string_view user, std::string_view server) {
    return "Tarvel Pro/smtp/" + std::string(user) + "@" + std::string(server);
}

std::string StorePassword(const std::string& target, const std::string& password) {
    // The password's UTF-8 bytes are the blob, as they always were for ASCII passwords.
    const DWORD error = WriteGenericCredential(Widen(target), password);
    if (error == 0) return {};
    return "The password could not be stored in Windows Credential Manager (error " + std::to_string(error) +
           ").";
}

std::optional<std::string> ReadPassword(const std::string& target) {
    PCREDENTIALW raw = nullptr;
    if (!CredReadW(Widen(target).c_str(), CRED_TYPE_GENERIC, 0, &raw) || raw == nullptr) return std::nullopt;
    std::unique_ptr<CREDENTIALW, CredentialFree> credential(raw);
    std::string password;
    password.reserve(credential->CredentialBlobSize); // one allocation: no stale copy left behind
    password.assign(reinterpret_cast<const char*>(credential->CredentialBlob),
                    credential->CredentialBlobSize);
    return password;
}

bool DeletePassword(const std::string& target) {
    if (CredDeleteW(Widen(target).c_str(), CRED_TYPE_GENERIC, 0)) return true;
    return GetLastError() == ERROR_NOT_FOUND;
}

} // namespace tarvel
