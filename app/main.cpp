// Tarvel Pro's entry point: the command line, split into arguments, handed to start-up.
#include <windows.h>

#include <string>
#include <vector>

#include "core/link/command_line.h"
#include "platform/registry.h"
#include "app/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Split the platform's way (blanks separate, double quotes group), but with the program's own path
    // recognised whole: registrations of older copies wrote it without quotes, blanks and all.
    std::vector<std::string> args =
        tarvel::ArgumentsAfterProgram(GetCommandLineA(), tarvel::ProgramFilePath());
    return tarvel::RunProgram(std::move(args));
}
