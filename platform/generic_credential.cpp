#include "platform/generic_credential.h"

#include <vector>

namespace tarvel {

DWORD WriteGenericCredential(const std::wstring& name, std::string_view bytes) {
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

} // namespace tarvel
