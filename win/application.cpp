// One message loop for every window of the user-interface thread.
#include "win/application.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "win/message_box.h"

namespace tarvel::ui {

namespace {

Application* current = nullptr;
// Touched only on the user-interface thread.
std::vector<HWND>& ModelessForms() {
    static std::vector<HWND> forms;
    return forms;
}

} // namespace

Application::Application(std::string title) : title_(std::move(title)) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    current = this;
}

Application::~Application() {
    if (current == this) current = nullptr;
}

Application* Application::Current() {
    return current;
}

void Application::AddModeless(HWND form) {
    auto& forms = ModelessForms();
    if (std::find(forms.begin(), forms.end(), form) == forms.end()) forms.push_back(form);
}

void Application::RemoveModeless(HWND form) {
    std::erase(ModelessForms(), form);
}

void Application::Dispatch(MSG& msg) {
    // A copy: handling the message may close a form and change the list.
    const std::vector<HWND> forms = ModelessForms();
    for (HWND form : forms) {
        if (msg.hwnd && (msg.hwnd == form || IsChild(form, msg.hwnd)) && IsDialogMessageW(form, &msg)) return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

int Application::Run() {
    MSG msg;
    BOOL got;
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0)
        Dispatch(msg);
    return got == 0 ? static_cast<int>(msg.wParam) : 1;
}

} // namespace tarvel::ui
