// The pieces of URLs a sign-in builds and reads: form and query encoding (RFC 3986 unreserved
// characters kept, everything else as %XX), decoding, and the host of an https URL.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvel::oauth {

using FormFields = std::vector<std::pair<std::string, std::string>>;

// Every byte but ALPHA / DIGIT / "-" / "." / "_" / "~" as %XX with upper-case hex digits.
std::string PercentEncode(std::string_view text);
// "a=1&b=2" with each name and value percent-encoded: a query string and a form body alike.
std::string EncodeForm(const FormFields& fields);
// %XX decoded and, as forms and queries may, "+" read as a space; nullopt for a "%" not followed by
// two hexadecimal digits.
std::optional<std::string> PercentDecode(std::string_view text);
// The lower-case host of "scheme://[userinfo@]host[:port][/...]"; empty when there is none.
std::string UrlHost(std::string_view url);

} // namespace tarvel::oauth
