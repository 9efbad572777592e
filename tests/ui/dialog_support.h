// What the tests of the dialogs, the name list and start-up share: a scratch folder for zembrix.cfg and
// the system's stand-in (support/fake_services.h).
#pragma once

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/pump.h"
#include "support/fake_services.h"
#include "support/temp_folder.h"
#include "win/application.h"

namespace tarvel::test {

// The program's folder of a test: a temporary folder with the configuration file's helpers.
class ScratchFolder : public TempFolder {
public:
    std::string Config() const { return File("zembrix.cfg"); }
    bool HasConfig() const { return std::filesystem::exists(Path() / "zembrix.cfg"); }
    std::string ReadConfig() const { return ReadFile(Config()); }
    void WriteConfig(const std::string& bytes) const { PutFile(Config(), bytes); }
    // Saving goes through this temporary name; a folder in its place makes every save fail.
    void BlockSaving() const { std::filesystem::create_directories(Path() / "zembrix.cfg.tmp"); }
};

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

inline void Click(HWND button) {
    SendMessageA(button, BM_CLICK, 0, 0);
}

} // namespace tarvel::test
