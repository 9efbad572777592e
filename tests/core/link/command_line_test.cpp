// The command line of a start from a link: the quoted registration, the unquoted one that older copies
// wrote (a program path with blanks), and the C runtime's quoting rules for what follows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/link/command_line.h"

using namespace tarvel;
using Args = std::vector<std::string>;

TEST(CommandLine, SplitsAsTheRuntimeDoes) {
    const struct {
        const char* line;
        Args words;
    } cases[] = {
        {"", {}},
        {"  a\tb  ", {"a", "b"}},
        {"\"a b\" c", {"a b", "c"}},
        {"a\"b c\"d", {"ab cd"}},
        {"\"\"", {""}},
        {"a\\\\b", {"a\\\\b"}},
        {"a\\\"b", {"a\"b"}},
        {"\"a\\\\\" b", {"a\\", "b"}},
        {"\"a\"\"b\"", {"a\"b"}},
        {"C:\\dir\\ \"x\"", {"C:\\dir\\", "x"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(SplitCommandLine(c.line), c.words);
    }
}

TEST(CommandLine, TheProgramPathIsRecognisedWholeQuotedOrNot) {
    const std::string exe = "C:\\Users\\ann\\AppData\\Local\\Programs\\Tarvel Pro\\tarvel.exe";
    const struct {
        std::string line;
        Args args;
    } cases[] = {
        // What the shell runs for the registration written now.
        {"\"" + exe + "\" /u \"mailto:bob@x.org?subject=Hi there\"",
         {"/u", "mailto:bob@x.org?subject=Hi there"}},
        // Older copies wrote the path without quotes; the link then arrives in pieces at its blanks.
        {exe + " /u mailto:bob@x.org?subject=Hi there ", {"/u", "mailto:bob@x.org?subject=Hi", "there"}},
        {"c:\\users\\ANN\\appdata\\local\\programs\\tarvel pro\\TARVEL.EXE /u mailto:b@x",
         {"/u", "mailto:b@x"}},
        {"  " + exe, {}},
        // Not our own path: the first word is the program, as the runtime has it.
        {"tarvel.exe /u mailto:b@x", {"/u", "mailto:b@x"}},
        {"\"C:\\Other Place\\tarvel.exe\" /u mailto:b@x", {"/u", "mailto:b@x"}},
        {exe + "x /u", {"Pro\\tarvel.exex", "/u"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(ArgumentsAfterProgram(c.line, exe), c.args);
    }
    EXPECT_EQ(ArgumentsAfterProgram("C:\\a b\\t.exe /u", ""), (Args{"b\\t.exe", "/u"}));
}
