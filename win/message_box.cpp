// Message boxes captioned with the application's title, or answered by a test's hook.
#include "win/message_box.h"

#include "win/application.h"

namespace tarvel::ui {

MessageBoxCall MessageBoxHook{
    [](HWND owner, const std::string& text, const std::string& caption, UINT flags) {
        return MessageBoxA(owner, text.c_str(), caption.c_str(), flags);
    }};

int ShowMessage(HWND owner, const std::string& text, UINT flags) {
    const Application* app = Application::Current();
    return MessageBoxHook(owner, text, app ? app->Title() : std::string(ProgramTitle), flags);
}

} // namespace tarvel::ui
