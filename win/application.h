// The application object: the one message loop (with keyboard navigation in every modeless window)
// and the program's title for message boxes.
#pragma once

#include <windows.h>

#include <string>

namespace tarvel::ui {

// The caption of the program's message boxes.
inline constexpr const char* ProgramTitle = "Tarvel Pro";

class Application {
public:
    // Loads the common controls the windows use. One instance per run, on the user-interface thread.
    explicit Application(std::string title = ProgramTitle);
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;
    ~Application();

    // The instance of this run, or nullptr outside one.
    static Application* Current();

    const std::string& Title() const { return title_; }

    // Runs until the main form closes; returns the exit code.
    int Run();

    // Modeless windows whose controls take Tab, Shift+Tab and arrow keys between them.
    static void AddModeless(HWND form);
    static void RemoveModeless(HWND form);
    // Gives the message to the dialog navigation of the window it belongs to, else dispatches it.
    static void Dispatch(MSG& msg);

private:
    std::string title_;
};

} // namespace tarvel::ui
