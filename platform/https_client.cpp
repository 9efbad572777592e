// WinHTTP synchronously, on the caller's thread (the sign-in's worker): session, connection and request
// handles each closed by their owner.
#include "platform/https_client.h"

#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <vector>

#include "core/text/wide.h"

namespace tarvel {
namespace {

struct InternetClose {
    void operator()(HINTERNET handle) const noexcept { WinHttpCloseHandle(handle); }
};
using Internet = std::unique_ptr<void, InternetClose>;

// A minute per step: a token endpoint answers in well under a second, a proxy that hangs should not keep
// the sign-in for ever.
constexpr int StepLimitMs = 60000;

std::string ErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                        GetModuleHandleW(L"winhttp.dll"), error, 0,
                                        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide(text ? text : L"", length);
    if (text) LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' '))
        wide.pop_back();
    return Narrow(wide);
}

HttpsReply Failure(const std::string& host, DWORD error) {
    std::string why;
    switch (error) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
        why = "the secure connection failed: its certificate is not trusted, or no common TLS version";
        break;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        why = "the name was not found";
        break;
    case ERROR_WINHTTP_CANNOT_CONNECT:
        why = "the connection was refused";
        break;
    case ERROR_WINHTTP_TIMEOUT:
        why = "it did not answer in time";
        break;
    default:
        why = ErrorText(error);
    }
    if (why.empty()) why = "failure";
    return {0,
            {},
            "The sign-in could not reach " + host + ": " + why + " (WinHTTP error " + std::to_string(error) +
                ")."};
}

// Windows 8.1 and later find the proxy as the browser does; before that (and under Wine) the system's own.
HINTERNET OpenSession() {
    constexpr DWORD automaticProxy = 4; // WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, newer than MinGW's headers
    if (HINTERNET session =
            WinHttpOpen(L"Tarvel Pro", automaticProxy, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0))
        return session;
    return WinHttpOpen(L"Tarvel Pro", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                       WINHTTP_NO_PROXY_BYPASS, 0);
}

} // namespace

HttpsReply PostForm(std::string_view url, std::string_view form) {
    std::wstring wideUrl = Widen(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (wideUrl.empty() || !WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts))
        return {0, {}, "The token address \"" + std::string(url) + "\" is not a valid URL."};
    if (parts.nScheme != INTERNET_SCHEME_HTTPS)
        return {0, {}, "The token address \"" + std::string(url) + "\" must start with https://."};
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";
    const std::string hostText = Narrow(host);

    Internet session(OpenSession());
    if (!session) return Failure(hostText, GetLastError());
    WinHttpSetTimeouts(session.get(), StepLimitMs, StepLimitMs, StepLimitMs, StepLimitMs);
    Internet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection) return Failure(hostText, GetLastError());
    Internet request(WinHttpOpenRequest(connection.get(), L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request) return Failure(hostText, GetLastError());
    // Nothing about the certificate is relaxed here: WinHTTP refuses what Windows does not trust.
    const wchar_t* headers =
        L"Content-Type: application/x-www-form-urlencoded\r\nAccept: application/json\r\n";
    std::string body(form);
    const bool sent =
        WinHttpSendRequest(request.get(), headers, static_cast<DWORD>(-1L), body.data(),
                           static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0) &&
        WinHttpReceiveResponse(request.get(), nullptr);
    const DWORD sendError = sent ? 0 : GetLastError();
    SecureZeroMemory(body.data(), body.size());
    if (!sent) return Failure(hostText, sendError);

    HttpsReply reply;
    reply.body.reserve(16 * 1024); // a token answer fits: no stale copies left by growing
    DWORD status = 0, size = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return Failure(hostText, GetLastError());
    reply.status = static_cast<int>(status);
    char buffer[8192];
    for (;;) {
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), buffer, sizeof buffer, &read))
            return Failure(hostText, GetLastError());
        if (read == 0) break;
        if (reply.body.size() + read > MaxHttpsBody) {
            SecureZeroMemory(reply.body.data(), reply.body.size());
            return {0, {}, "The answer from " + hostText + " was larger than 1 MB."};
        }
        reply.body.append(buffer, read);
    }
    SecureZeroMemory(buffer, sizeof buffer);
    return reply;
}

} // namespace tarvel
