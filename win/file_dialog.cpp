// Multi-select file-open dialog (explorer style, so names may hold blanks).
#include "win/file_dialog.h"

#include <cwchar>
#include <utility>

#include "core/text/wide.h"

namespace tarvel::ui {

namespace {

// Room for many long names picked at once.
constexpr DWORD PickBufferSize = 64 * 1024;

} // namespace

std::vector<std::string> SplitPickedFiles(const wchar_t* buffer) {
    std::vector<std::string> parts;
    for (const wchar_t* p = buffer; *p; p += std::wcslen(p) + 1)
        parts.push_back(Narrow(p));
    if (parts.size() <= 1) return parts;
    // A folder and the names chosen in it.
    std::string folder = parts.front();
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    std::vector<std::string> paths;
    for (std::size_t i = 1; i < parts.size(); ++i)
        paths.push_back(folder + parts[i]);
    return paths;
}

std::vector<std::string> PickFiles(const OpenFileCall& dialog, HWND owner, const char* title) {
    std::vector<wchar_t> buffer(PickBufferSize, L'\0');
    const std::wstring caption = Widen(title);
    OPENFILENAMEW ofn{};
    // The Windows 95 size: accepted by every version of the dialog.
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = L"All files (*.*)\0*.*\0";
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = PickBufferSize;
    ofn.lpstrTitle = caption.c_str();
    ofn.Flags = OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    BOOL picked = dialog(&ofn);
    if (!picked) return {};
    buffer.back() = '\0';
    buffer[buffer.size() - 2] = '\0';
    return SplitPickedFiles(buffer.data());
}

} // namespace tarvel::ui
