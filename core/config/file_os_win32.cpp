// Saving a file in one step on Windows: MoveFileEx replaces the old file and waits for the data.
#include "core/config/file_os.h"

#include <windows.h>

#include "core/text/wide.h"

namespace tarvel {
namespace {

std::string SystemErrorText(DWORD error) {
    wchar_t buffer[512] = {};
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                   0, buffer, 512, nullptr);
    std::string text = Narrow(std::wstring_view(buffer, n));
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text.empty() ? "error " + std::to_string(error) : text;
}

} // namespace

bool FlushToDisk(std::FILE* f) {
    return std::fflush(f) == 0; // MOVEFILE_WRITE_THROUGH in PutFileInPlace waits for the data
}

std::string PutFileInPlace(const std::string& tmp, const std::string& path) {
    if (MoveFileExW(Widen(tmp).c_str(), Widen(path).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {};
    return SystemErrorText(GetLastError());
}

} // namespace tarvel
