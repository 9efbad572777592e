// What the windows share for the whole run besides the message list: the settings and the name list,
// where they are stored, and which of the on-demand windows exist.
#pragma once

#include <string>

#include "core/config/settings.h"

namespace tarvel::ui {

struct SharedState {
    Settings settings;
    std::string exePath;    // the program file, as the registry records it
    std::string configPath; // zembrix.cfg
    bool SettingsOpen = false;
    bool AboutOpen = false;
};

} // namespace tarvel::ui
