// An owned icon picture (the GUI's TIcon): loaded from a file or the program's resources, copied by value.
#pragma once

#include <windows.h>

#include <string>

#include "ui/handles.h"

namespace tarvel::ui {

class TIcon {
public:
    TIcon() = default;
    TIcon(const TIcon&) = delete;
    TIcon& operator=(const TIcon&) = delete;

    HICON Handle() const { return icon_.Get(); }
    bool Empty() const { return !icon_; }

    // Replaces the picture with the .ico file's image of the small (tray) size; false, picture
    // unchanged, when the file is missing or holds no readable icon.
    bool LoadFromFile(const std::string& path);
    // The icon resource `id` of this executable, small size; false when it has none.
    bool LoadFromResource(int id);
    // Copies the other icon's picture; an empty icon makes this one empty too.
    void Assign(const TIcon& other);
    void Clear() { icon_.Reset(); }

private:
    UniqueIcon icon_;
};

} // namespace tarvel::ui
