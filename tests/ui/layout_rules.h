// The rules every laid-out window keeps, checked on what is on the screen rather than against a copy of
// its layout table: each shown control lies inside its parent's client area, no two shown windowed
// siblings overlap, and every control speaks the form's font.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvel::test {

inline std::string DescribeControl(HWND hwnd) {
    char cls[64] = {}, text[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, text, sizeof text);
    return std::string(cls) + " #" + std::to_string(GetDlgCtrlID(hwnd)) + " \"" + text + "\"";
}

inline std::string ClassOf(HWND hwnd) {
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

// Checks the shown children of `parent`, and theirs in turn (the pages of a tab control hold controls).
// Labels size themselves to their text, which the system's font makes wider or narrower than designed:
// they lie below the windowed controls (the form stacks them so) and need only stay within the parent's
// height.
inline void ExpectLaidOut(HWND parent) {
    RECT client{};
    GetClientRect(parent, &client);
    std::vector<std::pair<HWND, RECT>> shown;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        RECT r{};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
        const std::string name = DescribeControl(child);
        const std::string cls = ClassOf(child);
        const bool label = cls == "Static";
        const bool page = cls == "TarvelPanel";
        const bool inside = r.top >= client.top && r.bottom <= client.bottom &&
                            (label || (r.left >= client.left && r.right <= client.right));
        EXPECT_TRUE(inside) << name << " at " << r.left << "," << r.top << "-" << r.right << "," << r.bottom
                            << " leaves its parent's client area " << client.right << "x" << client.bottom;
        if (!label) {
            for (const auto& [other, placed] : shown) {
                RECT both{};
                // A page lies on the tab control that switches it: that pair is meant to meet.
                if (page && ClassOf(other) == "SysTabControl32") continue;
                EXPECT_FALSE(IntersectRect(&both, &r, &placed))
                    << name << " overlaps " << DescribeControl(other);
            }
            shown.emplace_back(child, r);
        }
        if (!page) {
            LOGFONTA font{};
            GetObjectA(reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0)), sizeof font, &font);
            EXPECT_EQ(font.lfHeight, -11) << name; // "MS Sans Serif" 8 pt at 96 dpi
            EXPECT_STREQ(font.lfFaceName, "MS Sans Serif") << name;
        }
        ExpectLaidOut(child);
    }
}

} // namespace tarvel::test
