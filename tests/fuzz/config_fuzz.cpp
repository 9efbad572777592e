// Fuzz target: the configuration file. Any bytes as zembrix.cfg, in the code page or marked as UTF-8; what
// loads is UTF-8 and must save and load again to the very same settings, or be refused with a message that
// names the file and changes nothing.
#include "fuzz_support.h"

#include "core/config/config.h"
#include "core/text/utf8.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace tarvel;
using namespace tarvel::fuzz;

namespace {

bool Same(const Settings& a, const Settings& b) {
    return a.SMTPServer == b.SMTPServer && a.SMTPPort == b.SMTPPort && a.EmailAddress == b.EmailAddress &&
           a.DialEntry == b.DialEntry && a.DialPassword == b.DialPassword && a.UseDialup == b.UseDialup &&
           a.FirstRun == b.FirstRun && a.NameList == b.NameList && a.AddressList == b.AddressList;
}

std::string Contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ScratchFolder folder;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string original = folder.File("zembrix.cfg");
    const std::string copy = folder.File("copy.cfg");
    std::filesystem::remove(copy);
    Check(folder.Put("zembrix.cfg", input), "the scratch folder takes the file");

    Settings first;
    try {
        LoadConfiguration(first, original);
    } catch (const ConfigError& error) {
        Check(std::string(error.what()).find(original) != std::string::npos, "a load error names the file",
              error.what());
        return 0;
    }
    Check(first.NameList.size() == first.AddressList.size(), "the two lists load with the same length");
    std::string all =
        first.SMTPServer + first.SMTPPort + first.EmailAddress + first.DialEntry + first.DialPassword;
    for (std::size_t i = 0; i < first.NameList.size(); ++i)
        all += first.NameList[i] + first.AddressList[i];
    Check(IsValidUtf8(all), "what loads is UTF-8", all);

    try {
        SaveConfiguration(first, copy);
    } catch (const ConfigError& error) {
        Check(std::string(error.what()).find(copy) != std::string::npos, "a save error names the file",
              error.what());
        Check(!std::filesystem::exists(copy) && !std::filesystem::exists(copy + ".tmp"),
              "a refused save leaves no file behind");
        return 0;
    }
    Settings second;
    second.SMTPServer = "not loaded";
    LoadConfiguration(second, copy);
    Check(Same(first, second), "load, save and load again keeps every value", input);

    // Saving what was loaded again gives the very same file.
    const std::string again = folder.File("again.cfg");
    SaveConfiguration(second, again);
    Check(Contents(again) == Contents(copy), "a second save writes the same bytes", Contents(again));
    return 0;
}
