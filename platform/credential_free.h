// What Credential Manager hands out goes back wiped: a deleter for std::unique_ptr.
#pragma once

#include <windows.h>
#include <wincred.h>

namespace tarvel {

struct CredentialFree {
    void operator()(PCREDENTIALW credential) const noexcept {
        if (credential->CredentialBlob)
            SecureZeroMemory(credential->CredentialBlob, credential->CredentialBlobSize);
        CredFree(credential);
    }
};

} // namespace tarvel
