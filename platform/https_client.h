// HTTPS POST of a form through WinHTTP, for the sign-in's token requests: the system's proxy, and the
// server's certificate checked by Windows, with no way to switch that off.
#pragma once

#include <string>
#include <string_view>

namespace tarvel {

struct HttpsReply {
    int status = 0;    // the HTTP status; 0 when no answer came (then `error` says why)
    std::string body;  // the answer's body, at most MaxHttpsBody bytes
    std::string error; // empty when an answer came
};

inline constexpr std::size_t MaxHttpsBody = 1024 * 1024;

// POSTs `form` (application/x-www-form-urlencoded) to an https:// URL and reads the whole answer. Any
// other scheme is refused before anything is sent: the form carries secrets.
HttpsReply PostForm(std::string_view url, std::string_view form);

} // namespace tarvel
