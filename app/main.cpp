// Tarvel Pro's entry point: the command line, split into arguments, handed to start-up.
#include <windows.h>

#include <string>
#include <vector>

#include "core/link/command_line.h"
#include "core/text/wide.h"
#include "platform/registry.h"
#include "app/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The command line in UTF-16, so that a path or link beyond the code page arrives whole. Split the
    // platform's way (blanks separate, double quotes group), but with the program's own path recognised
    // whole: registrations of older copies wrote it without quotes, blanks and all.
    std::vector<std::string> args =
        tarvel::ArgumentsAfterProgram(tarvel::Narrow(GetCommandLineW()), tarvel::ProgramFilePath());
    return tarvel::RunProgram(std::move(args));
}
