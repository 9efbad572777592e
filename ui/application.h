// The application object: the one message loop (with keyboard navigation in every modeless window),
// the program's title for message boxes, and the end of the run.
#pragma once

#include <windows.h>

#include <string>

namespace tarvel::ui {

class Application {
public:
    // Loads the common controls the windows use. One instance per run, on the user-interface thread.
    explicit Application(std::string title = "Tarvel Pro");
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;
    ~Application();

    // The instance of this run, or nullptr outside one.
    static Application* Current();

    const std::string& Title() const { return title_; }
    void SetTitle(std::string title) { title_ = std::move(title); }
    // A message box captioned with the title; goes through ShowMessage, whose hook tests install.
    int ShowMessageBox(HWND owner, const std::string& text, UINT flags = MB_OK) const;

    // Runs until the main form closes or Terminate(); returns the exit code.
    int Run();
    // Handles what is queued now, without waiting; false once the loop has been told to end.
    bool ProcessMessages();
    void Terminate(int exitCode = 0);

    // Modeless windows whose controls take Tab, Shift+Tab and arrow keys between them.
    static void AddModeless(HWND form);
    static void RemoveModeless(HWND form);
    // Gives the message to the dialog navigation of the window it belongs to, else dispatches it.
    static void Dispatch(MSG& msg);

private:
    std::string title_;
};

} // namespace tarvel::ui
