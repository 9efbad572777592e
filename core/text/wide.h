// UTF-8 to and from the UTF-16 of the Windows W functions: for Windows code only (*_win32.cpp files and the
// layers above the core), where wchar_t is 16 bits.
#pragma once

#include <string>
#include <string_view>

namespace tarvel {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

} // namespace tarvel
