// An owned icon picture (the GUI's IconImage): loaded from a file or the program's resources, copied by
// value.
#pragma once

#include <windows.h>

#include <string>

#include "win/handles.h"

namespace tarvel::ui {

class IconImage {
public:
    IconImage() = default;
    IconImage(const IconImage&) = delete;
    IconImage& operator=(const IconImage&) = delete;

    HICON Handle() const { return icon_.Get(); }
    bool Empty() const { return !icon_; }

    // Replaces the picture with the .ico file's image of the small (tray) size; false, picture
    // unchanged, when the file is missing or holds no readable icon.
    bool LoadFromFile(const std::string& path);
    // The icon resource `id` of this executable, small size; false when it has none.
    bool LoadFromResource(int id);
    // Copies the other icon's picture; an empty icon makes this one empty too.
    void Assign(const IconImage& other);
    void Clear() { icon_.Reset(); }

private:
    UniqueIcon icon_;
};

} // namespace tarvel::ui
