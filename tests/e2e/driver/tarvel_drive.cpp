// A small console program that drives Tarvel Pro's windows from outside, as a user would: it finds windows
// by caption and controls by their place or caption, types with WM_SETTEXT, clicks with BM_CLICK, posts
// tray notifications and reads what the windows show. The end-to-end suite runs it under the same Wine
// prefix as the program. One command per line on standard input, one answer line per command on stdout:
// "ok <value>" or "err <reason>".
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Found {
    HWND hwnd = nullptr;
};

std::string TextOf(HWND hwnd) {
    char buffer[65536];
    buffer[0] = 0;
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
    return buffer;
}

std::string ClassOf(HWND hwnd) {
    char buffer[256] = {0};
    GetClassNameA(hwnd, buffer, sizeof buffer);
    return buffer;
}

struct TopSearch {
    const std::string* caption;
    HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<TopSearch*>(param);
    char buffer[512] = {0};
    GetWindowTextA(hwnd, buffer, sizeof buffer);
    if (*s->caption != buffer) return TRUE;
    s->found = hwnd;
    return FALSE;
}

struct ControlSearch {
    std::string cls, caption;
    bool byPlace;
    int x, y;
    HWND found;
};

BOOL CALLBACK MatchControl(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<ControlSearch*>(param);
    if (!s->cls.empty() && _strnicmp(ClassOf(hwnd).c_str(), s->cls.c_str(), s->cls.size()) != 0) return TRUE;
    if (s->byPlace) {
        RECT r;
        GetWindowRect(hwnd, &r);
        POINT p{r.left, r.top};
        ScreenToClient(GetParent(hwnd), &p);
        if (p.x != s->x || p.y != s->y) return TRUE;
    } else if (TextOf(hwnd) != s->caption) {
        return TRUE;
    }
    s->found = hwnd;
    return FALSE;
}

HWND FindTopLevel(const std::string& caption, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        TopSearch search{&caption, nullptr};
        EnumWindows(MatchTopLevel,
            reinterpret_cast<LPARAM>(&search));
        if (search.found || GetTickCount() - start >= timeoutMs) return search.found;
        Sleep(50);
    }
}

// A control: "CLASS@x,y" (place within its parent's client area), "@x,y", "CLASS=caption" or "=caption".
// Class names compare case-insensitively and may be given as a prefix ("Edit", "Button", "ComboBox").
HWND FindControl(HWND top, const std::string& spec) {
    std::string cls, caption;
    int x = 0, y = 0;
    bool byPlace = false;
    if (auto at = spec.find('@'); at != std::string::npos) {
        cls = spec.substr(0, at);
        byPlace = std::sscanf(spec.c_str() + at + 1, "%d,%d", &x, &y) == 2;
        if (!byPlace) return nullptr;
    } else if (auto eq = spec.find('='); eq != std::string::npos) {
        cls = spec.substr(0, eq);
        caption = spec.substr(eq + 1);
    } else {
        return nullptr;
    }
    ControlSearch search{cls, caption, byPlace, x, y, nullptr};
    EnumChildWindows(top, MatchControl,
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            char c = text[++i];
            out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else out += c;
    }
    return out;
}

// Saves what the screen shows of the window as a 24-bit BMP.
bool Screenshot(HWND hwnd, const std::string& path) {
    RECT r;
    GetWindowRect(hwnd, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    int stride = (w * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + stride * h;
    bool ok = false;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        ok = std::fwrite(&file, sizeof file, 1, f) == 1 && std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, f) == 1 &&
             std::fwrite(bits, stride * h, 1, f) == 1;
        std::fclose(f);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

std::string Run(const std::vector<std::string>& a) {
    auto need = [&](size_t n) { return a.size() >= n; };
    const std::string& cmd = a[0];
    if (cmd == "window" && need(2)) {  // window CAPTION [timeout-ms]
        HWND h = FindTopLevel(a[1], need(3) ? std::stoul(a[2]) : 0);
        return h ? "ok " + std::to_string(reinterpret_cast<uintptr_t>(h)) : "err no window";
    }
    if (cmd == "gone" && need(2)) {  // gone CAPTION timeout-ms: waits until no such window exists
        DWORD start = GetTickCount(), limit = need(3) ? std::stoul(a[2]) : 0;
        while (FindTopLevel(a[1], 0)) {
            if (GetTickCount() - start >= limit) return "err still there";
            Sleep(50);
        }
        return "ok";
    }
    if (!need(2)) return "err usage";
    HWND top = FindTopLevel(a[1], 0);
    if (!top) return "err no window " + a[1];
    if (cmd == "visible") return IsWindowVisible(top) ? "ok 1" : "ok 0";
    if (cmd == "title") return "ok " + Escape(TextOf(top));
    if (cmd == "rect") {
        RECT r, c;
        GetWindowRect(top, &r);
        GetClientRect(top, &c);
        POINT p{0, 0};
        ClientToScreen(top, &p);
        std::ostringstream s;
        s << "ok " << r.left << ' ' << r.top << ' ' << r.right - r.left << ' ' << r.bottom - r.top << ' ' << p.x << ' '
          << p.y << ' ' << c.right << ' ' << c.bottom;
        return s.str();
    }
    if (cmd == "style") return "ok " + std::to_string(GetWindowLongA(top, GWL_STYLE));
    if (cmd == "tray" && need(3)) {  // tray WINDOW MOUSE-MESSAGE [ID]
        PostMessageA(top, WM_USER, need(4) ? std::stoul(a[3]) : 0, std::stol(a[2]));
        return "ok";
    }
    if (cmd == "close") {
        PostMessageA(top, WM_CLOSE, 0, 0);
        return "ok";
    }
    if (cmd == "shot" && need(3)) return Screenshot(top, a[2]) ? "ok" : "err screenshot";
    if (cmd == "menu" && need(3)) {  // menu WINDOW ID: the menu command reaches the window as WM_COMMAND
        PostMessageA(top, WM_COMMAND, std::stoul(a[2]), 0);
        return "ok";
    }
    if (!need(3)) return "err usage";
    HWND ctl = FindControl(top, a[2]);
    if (!ctl) return "err no control " + a[2];
    if (cmd == "get") return "ok " + Escape(TextOf(ctl));
    if (cmd == "set") {
        std::string text = need(4) ? Unescape(a[3]) : "";
        SendMessageTimeoutA(ctl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 5000,
                            nullptr);
        return "ok";
    }
    if (cmd == "click") {  // posted, so a click that opens a modal window does not block the driver
        PostMessageA(ctl, BM_CLICK, 0, 0);
        return "ok";
    }
    if (cmd == "enabled") return IsWindowEnabled(ctl) ? "ok 1" : "ok 0";
    if (cmd == "shown") return IsWindowVisible(ctl) ? "ok 1" : "ok 0";
    if (cmd == "checked") return SendMessageA(ctl, BM_GETCHECK, 0, 0) == BST_CHECKED ? "ok 1" : "ok 0";
    if (cmd == "progress") return "ok " + std::to_string(SendMessageA(ctl, PBM_GETPOS, 0, 0));
    if (cmd == "focused") {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &info);
        return info.hwndFocus == ctl || IsChild(ctl, info.hwndFocus) ? "ok 1" : "ok 0";
    }
    if (cmd == "count") return "ok " + std::to_string(SendMessageA(ctl, CB_GETCOUNT, 0, 0));
    if (cmd == "selected") return "ok " + std::to_string(SendMessageA(ctl, CB_GETCURSEL, 0, 0));
    if (cmd == "item" && need(4)) {
        char buffer[4096] = {0};
        SendMessageA(ctl, CB_GETLBTEXT, std::stoul(a[3]), reinterpret_cast<LPARAM>(buffer));
        return "ok " + Escape(buffer);
    }
    if (cmd == "pick" && need(4)) {  // pick WINDOW COMBO INDEX: select as the user would, with the notification
        SendMessageA(ctl, CB_SETCURSEL, std::stoul(a[3]), 0);
        PostMessageA(GetParent(ctl), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(ctl), CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(ctl));
        return "ok";
    }
    if (cmd == "check" && need(4)) {
        bool on = a[3] == "1";
        if ((SendMessageA(ctl, BM_GETCHECK, 0, 0) == BST_CHECKED) != on) PostMessageA(ctl, BM_CLICK, 0, 0);
        return "ok";
    }
    return "err unknown command " + cmd;
}

std::vector<std::string> Split(const std::string& line) {
    // Words separated by tabs, so captions and texts may hold blanks.
    std::vector<std::string> words;
    std::string word;
    std::istringstream in(line);
    while (std::getline(in, word, '\t')) words.push_back(word);
    return words;
}

} // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        auto words = Split(line);
        std::string answer;
        try {
            answer = Run(words);
        } catch (const std::exception& e) {
            answer = std::string("err ") + e.what();
        }
        std::cout << answer << std::endl;
    }
    return 0;
}
