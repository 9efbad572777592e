// zembrix.ini beside zembrix.cfg: how the connection to the server is secured, the user name to log on
// with, and the certificates the user chose to trust per server. zembrix.cfg keeps its format untouched.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/config/config.h"
#include "core/config/security_settings.h"

namespace tarvel {

inline constexpr const char* SecurityFileName = "zembrix.ini";

// The texts stored in the file and shown in the settings dialog: "None", "STARTTLS", "SSL/TLS".
const char* SecurityModeText(SecurityMode mode);
// Case-insensitive; nullopt for any other text.
std::optional<SecurityMode> ParseSecurityMode(std::string_view text);

std::string SecurityConfigPath(std::string_view exeFolder);

// A missing file leaves the defaults (no security, no user). A file that cannot be read or holds a
// value this program cannot use throws ConfigError naming the file and the line, and changes nothing.
void LoadSecuritySettings(SecuritySettings& settings, const std::string& path);
// Rewrites the whole file atomically, as zembrix.cfg is. Throws ConfigError on a value the format
// cannot carry (nothing is written then) and on any failure to write or replace the file.
void SaveSecuritySettings(const SecuritySettings& settings, const std::string& path);

inline constexpr const char* FieldUserName = "user name";
inline constexpr const char* FieldTrustedServer = "trusted server";
inline constexpr const char* FieldFingerprint = "certificate fingerprint";

std::optional<StorageProblem> CheckStorable(const SecuritySettings& settings);

// The fingerprint as stored: 64 lower-case hex digits. Accepts upper case and "AB:CD:..." pairs.
std::optional<std::string> NormalizeFingerprint(std::string_view text);
// The fingerprint the user trusted for this server, if any (server names compare case-insensitively).
std::optional<std::string> TrustedFingerprint(const SecuritySettings& settings, std::string_view server);
void TrustFingerprint(SecuritySettings& settings, std::string_view server, std::string_view fingerprint);

// A server's certificate: a chain the system trusts, or the very certificate the user trusted for this
// server before, goes on; one without a fingerprint to keep cannot be trusted by the user either; any
// other is the user's to decide (a caller that asks no one refuses it).
enum class CertificateVerdict { Accept, Ask, Refuse };
CertificateVerdict JudgeCertificate(bool chainTrusted, std::string_view sha256,
                                    const SecuritySettings& settings, std::string_view server);

} // namespace tarvel
