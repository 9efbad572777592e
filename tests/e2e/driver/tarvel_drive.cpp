// A small console program that drives Tarvel Pro's windows from outside, as a user would: it finds windows
// by caption and controls by their place or caption, types with WM_SETTEXT or character by character with
// WM_CHAR (UTF-16, as a keyboard or an input method delivers it), clicks with BM_CLICK, posts
// tray notifications, reads what the windows show, finds and removes the Credential Manager entries
// that a test had the program make, and puts a test's authority into the user's root store and out again. The
// end-to-end suite runs it under the same Wine prefix as the program. One command per line on standard input,
// one answer line per command on stdout: "ok <value>" or "err <reason>"; both in UTF-8, and the windows
// are read and written through the W functions. Lists (toplevels, children) come as
// one line of tab-separated items, and texts with their backslashes, tabs and line ends escaped.
#include <windows.h>
#include <commctrl.h>
#include <wincred.h>
#include <wincrypt.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Found {
    HWND hwnd = nullptr;
};

std::wstring Wide(const std::string& utf8) {
    std::wstring out(utf8.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(),
                                      static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

std::string Utf8(const std::wstring& wide) {
    std::string out(wide.size() * 3, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(),
                                      static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

std::string TextOf(HWND hwnd) {
    static wchar_t buffer[65536];
    buffer[0] = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 65536, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
    return Utf8(buffer);
}

std::string ClassOf(HWND hwnd) {
    wchar_t buffer[256] = {0};
    GetClassNameW(hwnd, buffer, 256);
    return Utf8(buffer);
}

struct TopSearch {
    std::string cls, caption;
    DWORD pid; // 0: any process
    HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<TopSearch*>(param);
    wchar_t buffer[512] = {0};
    GetWindowTextW(hwnd, buffer, 512);
    if (s->caption != Utf8(buffer)) return TRUE;
    if (!s->cls.empty() && ClassOf(hwnd) != s->cls) return TRUE;
    if (s->pid) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid != s->pid) return TRUE;
    }
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

// A top-level window: "caption", or "@CLASS/caption" where several windows share a caption (the main
// window and the program's message boxes), or "@CLASS#PID/caption" for the window of one process.
HWND FindTopLevel(const std::string& wanted, DWORD timeoutMs) {
    TopSearch pattern{"", wanted, 0, nullptr};
    if (wanted.size() > 1 && wanted[0] == '@') {
        if (auto slash = wanted.find('/'); slash != std::string::npos) {
            pattern = {wanted.substr(1, slash - 1), wanted.substr(slash + 1), 0, nullptr};
            // Not the '#' that begins a system class name such as "#32770".
            if (auto hash = pattern.cls.rfind('#'); hash != std::string::npos && hash > 0) {
                pattern.pid = std::stoul(pattern.cls.substr(hash + 1));
                pattern.cls.resize(hash);
            }
        }
    }
    DWORD start = GetTickCount();
    for (;;) {
        TopSearch search = pattern;
        EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
        if (search.found || GetTickCount() - start >= timeoutMs) return search.found;
        Sleep(50);
    }
}

// A control: "CLASS@x,y" (place within its parent's client area), "@x,y", "CLASS=caption", "=caption",
// or "#ID" for a dialog's control by its id. Class names compare case-insensitively and may be given as
// a prefix ("Edit", "Button", "ComboBox").
HWND FindControl(HWND top, const std::string& wanted) {
    if (wanted.size() > 1 && wanted[0] == '#') return GetDlgItem(top, std::stoi(wanted.substr(1)));
    std::string cls, caption;
    int x = 0, y = 0;
    bool byPlace = false;
    if (auto at = wanted.find('@'); at != std::string::npos) {
        cls = wanted.substr(0, at);
        byPlace = std::sscanf(wanted.c_str() + at + 1, "%d,%d", &x, &y) == 2;
        if (!byPlace) return nullptr;
    } else if (auto eq = wanted.find('='); eq != std::string::npos) {
        cls = wanted.substr(0, eq);
        caption = wanted.substr(eq + 1);
    } else {
        return nullptr;
    }
    ControlSearch search{cls, caption, byPlace, x, y, nullptr};
    EnumChildWindows(top, MatchControl, reinterpret_cast<LPARAM>(&search));
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
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
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
        ok = std::fwrite(&file, sizeof file, 1, f) == 1 &&
             std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, f) == 1 &&
             std::fwrite(bits, stride * h, 1, f) == 1;
        std::fclose(f);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

struct StoreClose {
    void operator()(HCERTSTORE store) const noexcept { CertCloseStore(store, 0); }
};
using StoreHandle = std::unique_ptr<void, StoreClose>;
struct CertificateFree {
    void operator()(PCCERT_CONTEXT certificate) const noexcept { CertFreeCertificateContext(certificate); }
};
using CertificateHandle = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

// rootca add|remove DER-FILE: the authority in the user's root store, or gone from it. Wine's chain
// engine reads the saved store, so each change is committed at once.
std::string RootAuthority(const std::string& action, const std::string& path) {
    std::string der;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
            der.append(chunk, n);
        std::fclose(f);
    }
    if (der.empty()) return "err cannot read " + path;
    CertificateHandle wanted(CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size())));
    if (!wanted) return "err not a certificate: " + path;
    StoreHandle store(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "ROOT"));
    if (!store) return "err CertOpenStore " + std::to_string(GetLastError());
    if (action == "add") {
        if (!CertAddCertificateContextToStore(store.get(), wanted.get(), CERT_STORE_ADD_REPLACE_EXISTING,
                                              nullptr))
            return "err CertAddCertificateContextToStore " + std::to_string(GetLastError());
    } else if (action == "remove") {
        // Deleting frees the context that the search returned.
        while (PCCERT_CONTEXT found = CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0,
                                                                 CERT_FIND_EXISTING, wanted.get(), nullptr))
            if (!CertDeleteCertificateFromStore(found))
                return "err CertDeleteCertificateFromStore " + std::to_string(GetLastError());
    } else {
        return "err usage";
    }
    CertControlStore(store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr);
    return "ok";
}

std::string Run(const std::vector<std::string>& a) {
    auto need = [&](size_t n) { return a.size() >= n; };
    const std::string& cmd = a[0];
    if (cmd == "window" && need(2)) { // window CAPTION [timeout-ms]
        HWND h = FindTopLevel(a[1], need(3) ? std::stoul(a[2]) : 0);
        return h ? "ok " + std::to_string(reinterpret_cast<uintptr_t>(h)) : "err no window";
    }
    if (cmd == "gone" && need(2)) { // gone CAPTION timeout-ms: waits until no such window exists
        DWORD start = GetTickCount(), limit = need(3) ? std::stoul(a[2]) : 0;
        while (FindTopLevel(a[1], 0)) {
            if (GetTickCount() - start >= limit) return "err still there";
            Sleep(50);
        }
        return "ok";
    }
    if (cmd == "toplevels") { // every top-level window as CLASS=caption=visible=process id, separated by tabs
        struct Dump {
            static BOOL CALLBACK Each(HWND hwnd, LPARAM param) {
                auto* out = reinterpret_cast<std::string*>(param);
                wchar_t wide[512] = {0};
                GetWindowTextW(hwnd, wide, 512);
                const std::string caption = Utf8(wide);
                DWORD pid = 0;
                GetWindowThreadProcessId(hwnd, &pid);
                std::ostringstream item;
                item << (out->empty() ? "" : "\t") << ClassOf(hwnd) << '=' << Escape(caption) << '='
                     << (IsWindowVisible(hwnd) ? 1 : 0) << '=' << pid;
                *out += item.str();
                return TRUE;
            }
        };
        std::string out;
        EnumWindows(Dump::Each, reinterpret_cast<LPARAM>(&out));
        return "ok " + out;
    }
    // Credential Manager entries that a test had the program make: whether one is there, and removing it.
    if (cmd == "credential" && need(2)) { // credential TARGET: 1 when a generic entry of that name exists
        PCREDENTIALW raw = nullptr;
        if (!CredReadW(Wide(a[1]).c_str(), CRED_TYPE_GENERIC, 0, &raw)) return "ok 0";
        std::unique_ptr<CREDENTIALW, decltype(&CredFree)> entry(raw, &CredFree);
        return "ok 1";
    }
    if (cmd == "forget" && need(2)) { // forget TARGET: the generic entry is gone afterwards
        if (CredDeleteW(Wide(a[1]).c_str(), CRED_TYPE_GENERIC, 0) || GetLastError() == ERROR_NOT_FOUND)
            return "ok";
        return "err CredDeleteW " + std::to_string(GetLastError());
    }
    if (cmd == "rootca" && need(3)) return RootAuthority(a[1], a[2]);
    if (cmd == "acp") return "ok " + std::to_string(GetACP()); // the ANSI code page the prefix runs with
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
        s << "ok " << r.left << ' ' << r.top << ' ' << r.right - r.left << ' ' << r.bottom - r.top << ' '
          << p.x << ' ' << p.y << ' ' << c.right << ' ' << c.bottom;
        return s.str();
    }
    if (cmd == "children") { // children WINDOW: every descendant as CLASS@x,y=caption, separated by tabs
        struct Dump {
            static BOOL CALLBACK Each(HWND hwnd, LPARAM param) {
                auto* out = reinterpret_cast<std::string*>(param);
                RECT r;
                GetWindowRect(hwnd, &r);
                POINT p{r.left, r.top};
                ScreenToClient(GetParent(hwnd), &p);
                std::ostringstream item;
                item << (out->empty() ? "" : "\t") << ClassOf(hwnd) << '@' << p.x << ',' << p.y << '='
                     << Escape(TextOf(hwnd));
                *out += item.str();
                return TRUE;
            }
        };
        std::string out;
        EnumChildWindows(top, Dump::Each, reinterpret_cast<LPARAM>(&out));
        return "ok " + out;
    }
    if (cmd == "style") return "ok " + std::to_string(GetWindowLongA(top, GWL_STYLE));
    // owner WINDOW: the handle of the window that owns it (0: none), to compare with "window"'s answer
    if (cmd == "owner") return "ok " + std::to_string(reinterpret_cast<uintptr_t>(GetWindow(top, GW_OWNER)));
    if (cmd == "foreground") return GetForegroundWindow() == top ? "ok 1" : "ok 0";
    if (cmd == "default") { // default DIALOG: the id of its default button (0: none)
        DWORD_PTR result = 0;
        SendMessageTimeoutA(top, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
        return "ok " + std::to_string(HIWORD(result) == DC_HASDEFID ? LOWORD(result) : 0);
    }
    if (cmd == "tray" && need(3)) { // tray WINDOW MOUSE-MESSAGE [ID]
        PostMessageA(top, WM_USER, need(4) ? std::stoul(a[3]) : 0, std::stol(a[2]));
        return "ok";
    }
    if (cmd == "post" && need(5)) { // post WINDOW MESSAGE WPARAM LPARAM
        PostMessageA(top, std::stoul(a[2]), std::stoul(a[3]), std::stol(a[4]));
        return "ok";
    }
    if (cmd == "close") {
        PostMessageA(top, WM_CLOSE, 0, 0);
        return "ok";
    }
    if (cmd == "shot" && need(3)) {
        // What was typed a moment ago may not be painted yet: have everything painted, then wait for the
        // program's thread to come round once more before reading the screen.
        RedrawWindow(top, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        DWORD_PTR result = 0;
        SendMessageTimeoutA(top, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
        Sleep(300);
        return Screenshot(top, a[2]) ? "ok" : "err screenshot";
    }
    if (cmd == "menu" && need(3)) { // menu WINDOW ID: the menu command reaches the window as WM_COMMAND
        PostMessageA(top, WM_COMMAND, std::stoul(a[2]), 0);
        return "ok";
    }
    if (!need(3)) return "err usage";
    HWND ctl = FindControl(top, a[2]);
    if (!ctl) return "err no control " + a[2];
    if (cmd == "get") return "ok " + Escape(TextOf(ctl));
    if (cmd == "set") {
        const std::wstring text = Wide(need(4) ? Unescape(a[3]) : "");
        SendMessageTimeoutW(ctl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                            5000, nullptr);
        return "ok";
    }
    if (cmd == "type" && need(4)) { // type WINDOW CONTROL TEXT: each UTF-16 unit as a WM_CHAR, as keys give
        // Sent, not posted: each returns once the control has taken it, so a read that follows sees it.
        for (wchar_t unit : Wide(Unescape(a[3]))) {
            DWORD_PTR result = 0;
            if (!SendMessageTimeoutW(ctl, WM_CHAR, unit, 1, SMTO_ABORTIFHUNG, 5000, &result))
                return "err busy";
        }
        return "ok";
    }
    if (cmd == "key" && need(4)) { // key WINDOW CONTROL VK: a key pressed and released on the control, posted
        const auto vk = static_cast<WPARAM>(std::stoul(a[3], nullptr, 0));
        PostMessageA(ctl, WM_KEYDOWN, vk, 1);
        PostMessageA(ctl, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001));
        return "ok";
    }
    if (cmd == "mouseup") { // mouseup WINDOW CONTROL: the end of a left click inside the control, posted
        PostMessageA(ctl, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
        return "ok";
    }
    if (cmd == "click") { // posted, so a click that opens a modal window does not block the driver
        PostMessageA(ctl, BM_CLICK, 0, 0);
        return "ok";
    }
    if (cmd == "press") { // like click, but returns once the program has handled the click
        DWORD_PTR result = 0;
        return SendMessageTimeoutA(ctl, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 10000, &result) ? "ok" : "err busy";
    }
    if (cmd == "settle") { // returns once what was posted to the window's thread before it has been handled
        // Posted messages of one thread are handled in order: a marker posted now, whose effect can be
        // read back, tells when the ones before it are done. An edit control's modified flag is that marker.
        const bool marked = SendMessageA(ctl, EM_GETMODIFY, 0, 0) == 0;
        PostMessageA(ctl, EM_SETMODIFY, marked ? TRUE : FALSE, 0);
        for (int i = 0; i < 1000; ++i) {
            if ((SendMessageA(ctl, EM_GETMODIFY, 0, 0) != 0) == marked) return "ok";
            Sleep(10);
        }
        return "err the marker was not handled";
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
        const WPARAM index = std::stoul(a[3]);
        const LRESULT length = SendMessageW(ctl, CB_GETLBTEXTLEN, index, 0);
        if (length == CB_ERR) return "err no item " + a[3];
        std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
        SendMessageW(ctl, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(wide.data()));
        wide.resize(wcsnlen(wide.c_str(), wide.size()));
        return "ok " + Escape(Utf8(wide));
    }
    if (cmd == "pick" &&
        need(4)) { // pick WINDOW COMBO INDEX: select as the user would, with the notification
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
    while (std::getline(in, word, '\t'))
        words.push_back(word);
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
