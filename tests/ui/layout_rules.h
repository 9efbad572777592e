// The rules every laid-out window keeps, checked on what is on the screen rather than against a copy of
// its layout table: each shown control lies inside its parent's client area, no two shown siblings
// overlap, and every control speaks the form's font.
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

inline bool IsPageOnTabs(HWND page, HWND tabs) {
    char a[32] = {}, b[32] = {};
    GetClassNameA(page, a, sizeof a);
    GetClassNameA(tabs, b, sizeof b);
    return std::string(a) == "TarvelPanel" && std::string(b) == "SysTabControl32";
}

// Checks the shown children of `parent`, and theirs in turn (the pages of a tab control hold controls).
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
        EXPECT_TRUE(r.left >= client.left && r.top >= client.top && r.right <= client.right &&
                    r.bottom <= client.bottom)
            << name << " at " << r.left << "," << r.top << "-" << r.right << "," << r.bottom
            << " leaves its parent's client area " << client.right << "x" << client.bottom;
        for (const auto& [other, placed] : shown) {
            RECT both{};
            // A page lies on the tab control that switches it: that pair is meant to meet.
            if (IsPageOnTabs(child, other) || IsPageOnTabs(other, child)) continue;
            EXPECT_FALSE(IntersectRect(&both, &r, &placed)) << name << " overlaps " << DescribeControl(other);
        }
        shown.emplace_back(child, r);
        LOGFONTA font{};
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_EQ(font.lfHeight, -11) << name; // "MS Sans Serif" 8 pt at 96 dpi
        EXPECT_STREQ(font.lfFaceName, "MS Sans Serif") << name;
        ExpectLaidOut(child);
    }
}

} // namespace tarvel::test
