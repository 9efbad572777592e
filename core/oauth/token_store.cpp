// The refresh token's Credential Manager names and its split into entries of at most 2,560 bytes.
#include "core/oauth/token_store.h"

#include "core/oauth/url.h"

namespace tarvel::oauth {

std::string CredentialTarget(std::string_view user, std::string_view tokenUrl) {
    return "Tarvel Pro/oauth2/" + std::string(user) + "@" + UrlHost(tokenUrl);
}

std::string CredentialPartTarget(std::string_view target, std::size_t index) {
    if (index == 0) return std::string(target);
    return std::string(target) + "#" + std::to_string(index + 1);
}

std::vector<std::string> SplitCredentialBlob(std::string_view blob) {
    std::vector<std::string> parts;
    do {
        parts.emplace_back(blob.substr(0, CredentialBlobLimit));
        blob.remove_prefix(parts.back().size());
    } while (!blob.empty());
    return parts;
}

std::string JoinCredentialBlob(const std::vector<std::string>& parts) {
    std::string blob;
    for (const std::string& part : parts)
        blob += part;
    return blob;
}

} // namespace tarvel::oauth
