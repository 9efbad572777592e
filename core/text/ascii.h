// Key and value helpers for the program's own files: their names and keywords are ASCII.
#pragma once

#include <string>
#include <string_view>

namespace tarvel {

// Only A-Z change: bytes beyond ASCII stay as they are.
std::string AsciiLower(std::string_view text);
// Without the blanks and tabs at either end.
std::string_view TrimBlanks(std::string_view text);

} // namespace tarvel
