// Message boxes captioned with the application's title.
#include "win/message_box.h"

#include "core/text/wide.h"
#include "win/application.h"

namespace tarvel::ui {

int SystemMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT flags) {
    return MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), flags);
}

int ShowMessage(const MessageBoxCall& box, HWND owner, const std::string& text, UINT flags) {
    const Application* app = Application::Current();
    return box(owner, text, app ? app->Title() : std::string(ProgramTitle), flags);
}

} // namespace tarvel::ui
