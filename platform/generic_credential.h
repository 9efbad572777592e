// Generic Credential Manager entries kept on this machine, as the password and the sign-in store them:
// the one write, and a deleter that wipes what a read hands out before it goes back.
#pragma once

#include <windows.h>
#include <wincred.h>

#include <string>
#include <string_view>

namespace tarvel {

struct CredentialFree {
    void operator()(PCREDENTIALW credential) const noexcept {
        if (credential->CredentialBlob)
            SecureZeroMemory(credential->CredentialBlob, credential->CredentialBlobSize);
        CredFree(credential);
    }
};

// Writes `bytes` as the blob of entry `name`, replacing one there; 0, else the system's error. The copy
// made for the call is wiped.
DWORD WriteGenericCredential(const std::wstring& name, std::string_view bytes);

} // namespace tarvel
