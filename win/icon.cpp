// Icon pictures: the tray needs the small size, whatever sizes the file or resource holds.
#include "win/icon.h"

#include "core/text/wide.h"

namespace tarvel::ui {

namespace {

// Without LR_SHARED the loaded copy is ours to destroy, whether it comes from a file or a resource.
HICON LoadSmallIcon(HINSTANCE module, const wchar_t* name, UINT flags) {
    return static_cast<HICON>(LoadImageW(module, name, IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                         GetSystemMetrics(SM_CYSMICON), flags));
}

// A failed load leaves the picture as it was.
bool Keep(UniqueIcon& icon, HICON loaded) {
    if (!loaded) return false;
    icon.Reset(loaded);
    return true;
}

} // namespace

bool IconImage::LoadFromFile(const std::string& path) {
    return Keep(icon_, LoadSmallIcon(nullptr, Widen(path).c_str(), LR_LOADFROMFILE));
}

bool IconImage::LoadFromResource(int id) {
    return Keep(icon_, LoadSmallIcon(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), 0));
}

void IconImage::Assign(const IconImage& other) {
    if (&other == this) return;
    icon_.Reset(other.Empty() ? nullptr : CopyIcon(other.Handle()));
}

} // namespace tarvel::ui
