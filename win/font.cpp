// The windows are laid out in pixels at 96 dpi, so their font is fixed in pixels too: 8 pt = 11 px.
#include "win/font.h"

#include "win/handles.h"

namespace tarvel::ui {

HFONT DefaultFont() {
    static const UniqueFont font(CreateFontW(-MulDiv(8, 96, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif"));
    return font.Get();
}

} // namespace tarvel::ui
