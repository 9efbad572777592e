// Icon pictures: the tray needs the small size, whatever sizes the file or resource holds.
#include "ui/icon.h"

namespace tarvel::ui {

bool TIcon::LoadFromFile(const std::string& path) {
    HANDLE loaded = LoadImageA(nullptr, path.c_str(), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                               GetSystemMetrics(SM_CYSMICON), LR_LOADFROMFILE);
    if (!loaded) return false;
    icon_.Reset(static_cast<HICON>(loaded));
    return true;
}

bool TIcon::LoadFromResource(int id) {
    // Without LR_SHARED the copy is ours to destroy, like one loaded from a file.
    HANDLE loaded = LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_ICON,
                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0);
    if (!loaded) return false;
    icon_.Reset(static_cast<HICON>(loaded));
    return true;
}

void TIcon::Assign(const TIcon& other) {
    if (&other == this) return;
    icon_.Reset(other.Empty() ? nullptr : CopyIcon(other.Handle()));
}

} // namespace tarvel::ui
