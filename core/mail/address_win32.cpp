// Label conversion by Windows' own IdnToAscii (kernel32 from Vista on, normaliz.dll on XP with the IDN
// update), found at run time; without either, the portable encoder.
#include "core/mail/address.h"

#include <windows.h>

namespace tarvel {

namespace {

using IdnToAsciiFn = int(WINAPI*)(DWORD, LPCWSTR, int, LPWSTR, int);
// No IDN_USE_STD3_ASCII_RULES: Wine 8 refuses every label beyond ASCII with it. The portable caller holds
// the labels to letters, digits and hyphens before and after instead.
constexpr DWORD Flags = 0;

IdnToAsciiFn FindIdnToAscii() {
    for (const char* dll : {"kernel32.dll", "normaliz.dll"}) {
        HMODULE module = GetModuleHandleA(dll);
        if (module == nullptr && dll[0] == 'n') module = LoadLibraryA(dll);
        if (module == nullptr) continue;
        if (FARPROC proc = GetProcAddress(module, "IdnToAscii"))
            return reinterpret_cast<IdnToAsciiFn>(reinterpret_cast<void*>(proc));
    }
    return nullptr;
}

} // namespace

DomainConversion LabelToAscii(const std::u32string& label) {
    static const IdnToAsciiFn idnToAscii = FindIdnToAscii();
    if (idnToAscii == nullptr) return PortableLabelToAscii(label);
    std::wstring wide;
    for (char32_t c : label) {
        if (c >= 0x10000) {
            wide += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            wide += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            wide += static_cast<wchar_t>(c);
        }
    }
    wchar_t out[256];
    const int length = idnToAscii(Flags, wide.data(), static_cast<int>(wide.size()), out, 256);
    if (length <= 0) {
        const DWORD error = GetLastError();
        // The portable rules mostly know why, and say it in words; a label they take that is too long
        // fails the caller's length check.
        DomainConversion portable = PortableLabelToAscii(label);
        if (!portable.ok() || portable.ascii.size() > 63) return portable;
        return {{}, "Windows refuses the label as a domain name (error " + std::to_string(error) + ")"};
    }
    DomainConversion result;
    for (int i = 0; i < length && out[i] != 0; ++i) {
        if (out[i] >= 0x80) return {{}, "Windows gave no ASCII form of one of its labels"};
        result.ascii += static_cast<char>(out[i]);
    }
    return result;
}

} // namespace tarvel
