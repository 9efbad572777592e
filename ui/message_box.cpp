// Message boxes captioned with the application's title, or answered by a test's hook.
#include "ui/message_box.h"

#include <utility>

#include "ui/application.h"

namespace tarvel::ui {

namespace {

// Touched only on the user-interface thread.
MessageBoxFunction& Hook() {
    static MessageBoxFunction hook;
    return hook;
}

} // namespace

MessageBoxFunction SetMessageBoxHook(MessageBoxFunction hook) {
    return std::exchange(Hook(), std::move(hook));
}

int ShowMessage(HWND owner, const std::string& text, UINT flags) {
    if (Hook()) return Hook()(owner, text, flags);
    const Application* app = Application::Current();
    return MessageBoxA(owner, text.c_str(), app ? app->Title().c_str() : ProgramTitle, flags);
}

} // namespace tarvel::ui
