// Splitting the command line, and the program path that older registrations left unquoted.
#include "core/link/command_line.h"

#include <algorithm>

namespace tarvel {

namespace {

bool Blank(char c) {
    return c == ' ' || c == '\t';
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(),
                                                      [](char a, char b) { return Lower(a) == Lower(b); });
}

// The program's own word: up to the first blank outside quotes, quotes removed, backslashes as they are.
std::size_t SkipProgramWord(std::string_view line) {
    std::size_t i = 0;
    bool quoted = false;
    for (; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (Blank(line[i]) && !quoted)
            break;
    }
    return i;
}

} // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    for (;;) {
        while (i < line.size() && Blank(line[i]))
            ++i;
        if (i >= line.size()) return words;
        std::string word;
        bool quoted = false;
        while (i < line.size() && (quoted || !Blank(line[i]))) {
            std::size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\') {
                ++backslashes;
                ++i;
            }
            if (i < line.size() && line[i] == '"') {
                word.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    word += '"';
                } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    word += '"';
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                word.append(backslashes, '\\');
                if (i < line.size() && (quoted || !Blank(line[i]))) word += line[i++];
            }
        }
        words.push_back(std::move(word));
    }
}

std::vector<std::string> ArgumentsAfterProgram(std::string_view commandLine, std::string_view modulePath) {
    std::string_view line = commandLine;
    while (!line.empty() && Blank(line.front()))
        line.remove_prefix(1);
    std::size_t programEnd;
    if (!modulePath.empty() && StartsWithNoCase(line, modulePath) &&
        (line.size() == modulePath.size() || Blank(line[modulePath.size()])))
        programEnd = modulePath.size();
    else
        programEnd = SkipProgramWord(line);
    return SplitCommandLine(line.substr(programEnd));
}

} // namespace tarvel
