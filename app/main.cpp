// Tarvel Pro's entry point: the command line as the runtime split it, handed to start-up.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The runtime splits the command line the platform's way: blanks separate, double quotes group.
    std::vector<std::string> args(__argv + (__argc > 0 ? 1 : 0), __argv + __argc);
    return tarvel::RunProgram(std::move(args));
}
