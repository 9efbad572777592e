// Each of the sign-in's system calls, delegated to the platform part that does it.
#include "platform/sign_in_system.h"

#include <windows.h>

#include <ntsecapi.h>
#include <objbase.h>
#include <shellapi.h>

#include "platform/https_client.h"
#include "platform/loopback_listener.h"
#include "platform/token_store.h"
#include "core/text/wide.h"

namespace tarvel {

WindowsSignInSystem::WindowsSignInSystem() = default;
WindowsSignInSystem::~WindowsSignInSystem() = default;

std::string WindowsSignInSystem::OpenBrowser(const std::string& url) {
    // The shell runs whatever it is given: only a web address may reach it from here.
    if (!url.starts_with("https://") && !url.starts_with("http://"))
        return "The sign-in address \"" + url + "\" is not a web address.";
    // The shell may hand the address on through COM; this runs on a worker thread of its own.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", Widen(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (SUCCEEDED(com)) CoUninitialize();
    if (result > 32) return {};
    return "The browser could not be opened for the sign-in (error " + std::to_string(result) + ").";
}

oauth::ListenResult WindowsSignInSystem::Listen() {
    listener_ = std::make_unique<LoopbackListener>();
    if (std::string error = listener_->Open(); !error.empty()) {
        listener_.reset();
        return {0, std::move(error)};
    }
    return {listener_->Port(), {}};
}

oauth::WaitResult
WindowsSignInSystem::WaitForRedirect(std::chrono::milliseconds limit, const std::atomic<bool>& cancel,
                                     const std::function<oauth::BrowserPage(std::string_view)>& answer) {
    if (!listener_) return {oauth::WaitEnd::Failed, {}, "The sign-in's listener is not open."};
    oauth::WaitResult result = listener_->Wait(limit, cancel, answer);
    listener_.reset(); // one request: the port closes whatever the end
    return result;
}

oauth::HttpResult WindowsSignInSystem::PostForm(const std::string& url, const std::string& form) {
    HttpsReply reply = tarvel::PostForm(url, form);
    return {reply.status, std::move(reply.body), std::move(reply.error)};
}

oauth::TokenRead WindowsSignInSystem::LoadToken(const std::string& target) {
    return tarvel::LoadToken(target);
}

std::string WindowsSignInSystem::SaveToken(const std::string& target, const std::string& token) {
    return StoreToken(target, token);
}

std::string WindowsSignInSystem::DeleteToken(const std::string& target) {
    return tarvel::DeleteToken(target);
}

std::optional<std::string> WindowsSignInSystem::RandomBytes(std::size_t count) {
    std::string bytes(count, '\0');
    if (count > 0 && !RtlGenRandom(bytes.data(), static_cast<ULONG>(count))) return std::nullopt;
    return bytes;
}

} // namespace tarvel
