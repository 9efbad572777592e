// The program's command line as Windows hands it over: one text, split here the way the C runtime
// splits it, except that an unquoted program path with blanks (written by older registrations of the
// "mailto:" handler) is recognised as the program rather than taken for its first arguments.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

// Blanks and tabs separate arguments; double quotes group; 2n backslashes before a quote give n
// backslashes and a grouping quote, 2n+1 give n backslashes and a literal quote; "" inside quotes is a
// literal quote. All words, the program's own included.
std::vector<std::string> SplitCommandLine(std::string_view line);

// The arguments after the program. When the line begins, unquoted, with the program's own path
// `modulePath` (letter case aside) followed by a blank or the end, that whole path is the program.
std::vector<std::string> ArgumentsAfterProgram(std::string_view commandLine, std::string_view modulePath);

} // namespace tarvel
