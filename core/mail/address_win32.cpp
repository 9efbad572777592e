// Label conversion by Windows' own IdnToAscii (kernel32 from Vista on, normaliz.dll on XP with the IDN
// update), found at run time; without either, the portable encoder.
#include "core/mail/address.h"

#include <windows.h>

namespace tarvel {

namespace {

using IdnToAsciiFn = int(WINAPI*)(DWORD, LPCWSTR, int, LPWSTR, int);
constexpr DWORD UseStd3AsciiRules = 0x02; // IDN_USE_STD3_ASCII_RULES: letters, digits and hyphens only

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
    const int length = idnToAscii(UseStd3AsciiRules, wide.data(), static_cast<int>(wide.size()), out, 256);
    if (length <= 0)
        return {{},
                "Windows refuses one of its labels as a domain name (error " +
                    std::to_string(GetLastError()) + ")"};
    DomainConversion result;
    for (int i = 0; i < length && out[i] != 0; ++i) {
        if (out[i] >= 0x80) return {{}, "Windows gave no ASCII form of one of its labels"};
        result.ascii += static_cast<char>(out[i]);
    }
    return result;
}

} // namespace tarvel
