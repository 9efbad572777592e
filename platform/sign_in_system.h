// The sign-in's system side on Windows: the browser through the shell, the loopback listener, WinHTTP,
// Credential Manager and the system's random generator, behind the core's SignInSystem.
#pragma once

#include <memory>

#include "core/oauth/sign_in.h"

namespace tarvel {

class LoopbackListener;

class WindowsSignInSystem : public oauth::SignInSystem {
public:
    WindowsSignInSystem();
    ~WindowsSignInSystem() override;

    std::string OpenBrowser(const std::string& url) override;
    oauth::ListenResult Listen() override;
    oauth::WaitResult
    WaitForRedirect(std::chrono::milliseconds limit, const std::atomic<bool>& cancel,
                    const std::function<oauth::BrowserPage(std::string_view)>& answer) override;
    oauth::HttpResult PostForm(const std::string& url, const std::string& form) override;
    oauth::TokenRead LoadToken(const std::string& target) override;
    std::string SaveToken(const std::string& target, const std::string& token) override;
    std::string DeleteToken(const std::string& target) override;
    std::optional<std::string> RandomBytes(std::size_t count) override;

private:
    std::unique_ptr<LoopbackListener> listener_; // from Listen to the end of WaitForRedirect
};

} // namespace tarvel
