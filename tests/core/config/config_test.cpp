// zembrix.cfg: exact bytes written, how odd files are read, what a failed save leaves behind, and the
// check that refuses values the line format cannot carry.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "core/config/config_support.h"
#include "core/config/config.h"
#include "core/config/security_config.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;
using namespace tarvel;

namespace {

using test::ConfigErrorOf;
using test::ReadBytes;
using test::WriteBytes;

bool SameSettings(const Settings& a, const Settings& b) {
    return a.SMTPServer == b.SMTPServer && a.SMTPPort == b.SMTPPort && a.EmailAddress == b.EmailAddress &&
           a.DialEntry == b.DialEntry && a.DialPassword == b.DialPassword && a.UseDialup == b.UseDialup &&
           a.FirstRun == b.FirstRun && a.NameList == b.NameList && a.AddressList == b.AddressList;
}

class ConfigFile : public ::testing::Test {
protected:
    Settings LoadBytes(const std::string& bytes) {
        WriteBytes(path_, bytes);
        Settings s;
        LoadConfiguration(s, path_);
        return s;
    }

    // A folder of its own for each test, also when the sanitizer builds run side by side.
    test::TempFolder folder_;
    fs::path dir_ = folder_.Path();
    std::string path_ = (dir_ / "zembrix.cfg").string();
};

Settings Sample() {
    Settings s;
    s.SMTPServer = "mail.example.org";
    s.SMTPPort = "2525";
    s.EmailAddress = "me@example.org";
    s.DialEntry = "Office line";
    s.DialPassword = "se:cret";
    s.UseDialup = true;
    s.NameList = {"Anna", "", "Team"};
    s.AddressList = {"anna@example.org", "nobody@example.org", "a@x.org;b@y.org"};
    return s;
}

const std::string SampleBytes =
    "mail.example.org:2525\r\nme@example.org\r\nOffice line:se:cret\r\nTRUE\r\n"
    "Anna\r\nanna@example.org\r\n\r\nnobody@example.org\r\nTeam\r\na@x.org;b@y.org\r\n";

} // namespace

TEST(ConfigPaths, ExeFolderEndsAtTheLastBackslashOrColon) {
    const struct {
        const char* exe;
        const char* folder;
    } cases[] = {
        {"C:\\Program Files\\Tarvel\\tarvel.exe", "C:\\Program Files\\Tarvel\\"},
        {"C:tarvel.exe", "C:"},
        {"D:\\a:b\\x", "D:\\a:b\\"},
        {"tarvel.exe", ""},
        {"/opt/tarvel/tarvel.exe", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExeFolderOf(c.exe), c.folder) << "program path " << c.exe;
    EXPECT_EQ(ConfigPath("C:\\Tarvel\\"), "C:\\Tarvel\\zembrix.cfg");
}

TEST_F(ConfigFile, SaveWritesExactBytesAndLoadGivesThemBack) {
    const Settings saved = Sample();
    SaveConfiguration(saved, path_);
    EXPECT_EQ(ReadBytes(path_), SampleBytes);
    EXPECT_FALSE(fs::exists(path_ + ".tmp"));

    Settings loaded;
    loaded.FirstRun = true;
    LoadConfiguration(loaded, path_);
    Settings expected = saved;
    expected.FirstRun = false;
    EXPECT_TRUE(SameSettings(loaded, expected)) << loaded.SMTPServer << "|" << loaded.DialPassword;

    SaveConfiguration(loaded, path_);
    EXPECT_EQ(ReadBytes(path_), SampleBytes);
}

TEST_F(ConfigFile, EmptyNameListGivesExactlyFourLines) {
    Settings s;
    s.SMTPServer = "localhost";
    SaveConfiguration(s, path_);
    EXPECT_EQ(ReadBytes(path_), "localhost:25\r\n\r\n:\r\nFALSE\r\n");
}

TEST_F(ConfigFile, EmptyPortIsWrittenAsBareColonAndReadBackEmpty) {
    Settings s = Sample();
    s.SMTPPort = "";
    s.NameList.clear();
    s.AddressList.clear();
    SaveConfiguration(s, path_);
    EXPECT_EQ(ReadBytes(path_), "mail.example.org:\r\nme@example.org\r\nOffice line:se:cret\r\nTRUE\r\n");
    Settings loaded;
    LoadConfiguration(loaded, path_);
    EXPECT_EQ(loaded.SMTPServer, "mail.example.org");
    EXPECT_EQ(loaded.SMTPPort, "");
}

TEST_F(ConfigFile, MissingFileOnlySetsFirstRun) {
    Settings s;
    s.EmailAddress = "kept";
    LoadConfiguration(s, path_);
    EXPECT_TRUE(s.FirstRun);
    EXPECT_EQ(s.SMTPServer, DefaultSMTPServer);
    EXPECT_EQ(s.SMTPPort, "25");
    EXPECT_EQ(s.EmailAddress, "kept");
    EXPECT_FALSE(fs::exists(path_));

    LoadConfiguration(s, (dir_ / "no-such-folder" / "zembrix.cfg").string());
    EXPECT_TRUE(s.FirstRun);
}

// What each file reads as, every field compared, from the settings the program held before. Whatever a
// file holds, the settings read from it can be saved again.
TEST_F(ConfigFile, EachFileReadsAs) {
    using Lines = std::vector<std::string>;
    const Settings untouched;
    Settings portAndPassword;
    portAndPassword.SMTPPort = "587";
    portAndPassword.DialPassword = "old";
    const struct {
        const char* name;
        std::string bytes;
        const Settings& before;
        std::string server, port, email, entry, password;
        bool dialUp;
        Lines names, addresses;
    } cases[] = {
        // clang-format off
        //  row name, file bytes, settings before,
        //  server, port, e-mail address, dial-up entry, dial-up password, dial-up on, names, addresses

        // The first colon splits lines one and three.
        {"first colon", "host:25:26\r\nme\r\nentry:pa:ss\r\nFALSE\r\n", untouched,
         "host", "25:26", "me", "entry", "pa:ss", false, {}, {}},
        // Without a colon the port is kept and there is no password.
        {"no colon", "justhost\r\nme\r\nentry\r\nFALSE\r\n", portAndPassword,
         "justhost", "587", "me", "entry", "", false, {}, {}},
        // Only an exact TRUE turns dial-up on.
        {"TRUE", "h:1\r\n\r\n:\r\nTRUE\r\n", untouched,
         "h", "1", "", "", "", true, {}, {}},
        {"TRUE and a blank", "h:1\r\n\r\n:\r\nTRUE \r\n", untouched,
         "h", "1", "", "", "", false, {}, {}},
        {"lower-case true", "h:1\r\n\r\n:\r\ntrue\r\n", untouched,
         "h", "1", "", "", "", false, {}, {}},
        {"blank and TRUE", "h:1\r\n\r\n:\r\n TRUE\r\n", untouched,
         "h", "1", "", "", "", false, {}, {}},
        {"TRUE at the end", "h:1\r\n\r\n:\r\nTRUE", untouched,
         "h", "1", "", "", "", true, {}, {}},
        // A file edited by a Unix editor, or with mixed line ends: every kind of line end ends a line.
        {"LF", "smtp.x:25\nme@x\nentry:pw\nTRUE\nBob\nbob@x\n", untouched,
         "smtp.x", "25", "me@x", "entry", "pw", true, {"Bob"}, {"bob@x"}},
        {"mixed line ends", "smtp.x:25\r\nme@x\nentry:pw\rTRUE\r\nBob\nbob@x", untouched,
         "smtp.x", "25", "me@x", "entry", "pw", true, {"Bob"}, {"bob@x"}},
        {"LF, empty name", "smtp.x:25\nme@x\nentry:pw\nTRUE\nBob\nbob@x\n\nnobody@x\nAnn\n", untouched,
         "smtp.x", "25", "me@x", "entry", "pw", true, {"Bob", "", "Ann"}, {"bob@x", "nobody@x", ""}},
        // Blank lines between lone LFs are empty values.
        {"blank lines", "h:1\r\nme\nyou\r\n\r\n\n\r\nName\r\nAddr", untouched,
         "h", "1", "me", "you", "", false, {"", "Name"}, {"", "Addr"}},
        // Ctrl-Z ends the line and the file.
        {"Ctrl-Z after line four", "h:1\r\nme\r\n:\r\nTRUE\r\n\x1A" "Bob\r\nbob@x\r\n", untouched,
         "h", "1", "me", "", "", true, {}, {}},
        {"Ctrl-Z in an address", "h:1\r\nme\r\n:\r\nTRUE\r\nAnna\r\nanna@x\r\nBob\r\nbob\x1A@x\r\nCarl\r\ncarl@x\r\n",
         untouched,
         "h", "1", "me", "", "", true, {"Anna", "Bob"}, {"anna@x", "bob"}},
        {"Ctrl-Z in line two", "h:1\r\nme\x1A@x\r\ne:p\r\nTRUE\r\n", untouched,
         "h", "1", "me", "", "", false, {}, {}},
        // Short files read missing lines as empty.
        {"name without address", "h:1\r\nme\r\n:\r\nFALSE\r\nBob\r\n", untouched,
         "h", "1", "me", "", "", false, {"Bob"}, {""}},
        {"empty file", "", untouched,
         "", "25", "", "", "", false, {}, {}},
        {"two lines", "h:1\r\nme", untouched,
         "h", "1", "me", "", "", false, {}, {}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + ::testing::PrintToString(c.bytes));
        WriteBytes(path_, c.bytes);
        Settings s = c.before;
        s.FirstRun = true; // a file that is there is no first run
        LoadConfiguration(s, path_);
        EXPECT_EQ(s.SMTPServer, c.server);
        EXPECT_EQ(s.SMTPPort, c.port);
        EXPECT_EQ(s.EmailAddress, c.email);
        EXPECT_EQ(s.DialEntry, c.entry);
        EXPECT_EQ(s.DialPassword, c.password);
        EXPECT_EQ(s.UseDialup, c.dialUp);
        EXPECT_FALSE(s.FirstRun);
        EXPECT_EQ(s.NameList, c.names);
        EXPECT_EQ(s.AddressList, c.addresses);
        const auto problem = CheckStorable(s);
        EXPECT_FALSE(problem.has_value()) << problem->message;
    }
}

// Whatever made the file that large, it is not read: a clear error, the settings and the file untouched.
TEST_F(ConfigFile, FileLargerThanOneMegabyteIsRefused) {
    std::string big = "h:1\r\nme\r\n:\r\nFALSE\r\n";
    big.resize(MaxConfigFileBytes + 1, 'x');
    WriteBytes(path_, big);
    Settings s = Sample();
    EXPECT_EQ(ConfigErrorOf([&] { LoadConfiguration(s, path_); }),
              "The configuration file \"" + path_ +
                  "\" is larger than 1 MB and was not read; it is not a file this program wrote.");
    EXPECT_TRUE(SameSettings(s, Sample()));
    EXPECT_EQ(ReadBytes(path_), big);

    big.resize(MaxConfigFileBytes);
    EXPECT_NO_THROW(LoadBytes(big));
}

TEST_F(ConfigFile, UnreadableFileThrowsAndChangesNothing) {
    fs::create_directory(path_); // exists, but is no file
    Settings s = Sample();
    const Settings before = s;
    EXPECT_THAT(ConfigErrorOf([&] { LoadConfiguration(s, path_); }), ::testing::HasSubstr(path_));
    EXPECT_TRUE(SameSettings(s, before));
}

TEST_F(ConfigFile, FailedSaveKeepsTheOldFileWhole) {
    WriteBytes(path_, SampleBytes);
    fs::create_directory(path_ + ".tmp"); // the temporary file cannot be created
    Settings s = Sample();
    s.SMTPServer = "other.example.org";
    s.NameList.push_back("New");
    s.AddressList.push_back("new@x");
    const Settings before = s;
    EXPECT_THAT(ConfigErrorOf([&] { SaveConfiguration(s, path_); }), ::testing::HasSubstr("zembrix.cfg"));
    EXPECT_EQ(ReadBytes(path_), SampleBytes);
    EXPECT_TRUE(SameSettings(s, before));
    EXPECT_TRUE(fs::is_directory(path_ + ".tmp"));
}

TEST_F(ConfigFile, FailedReplaceRemovesTheTemporaryFile) {
    fs::create_directory(path_); // a folder stands where the file should go
    fs::create_directory(fs::path(path_) / "inside");
    EXPECT_THROW(SaveConfiguration(Sample(), path_), ConfigError);
    EXPECT_FALSE(fs::exists(path_ + ".tmp"));
    EXPECT_TRUE(fs::is_directory(fs::path(path_) / "inside"));

    const std::string nowhere = (dir_ / "missing" / "zembrix.cfg").string();
    EXPECT_THAT(ConfigErrorOf([&] { SaveConfiguration(Sample(), nowhere); }), ::testing::HasSubstr(nowhere));
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

// A value the line format cannot carry is named with its field, and a save refuses it before it touches
// the old file.
TEST_F(ConfigFile, CheckAndSaveNameTheOffendingField) {
    struct Case {
        void (*change)(Settings&);
        const char* field;
        const char* message;
    };
    const Case cases[] = {
        {[](Settings& s) { s.SMTPServer = "host:25"; }, FieldSMTPServer,
         "The SMTP server must not contain a colon."},
        {[](Settings& s) { s.SMTPServer = "host\r"; }, FieldSMTPServer,
         "The SMTP server must not contain a line break."},
        {[](Settings& s) { s.SMTPPort = "2\n5"; }, FieldSMTPPort,
         "The SMTP port must not contain a line break."},
        {[](Settings& s) { s.EmailAddress = "me\x1A"; }, FieldEmailAddress,
         "The e-mail address must not contain the character Ctrl-Z."},
        {[](Settings& s) { s.DialEntry = "a:b"; }, FieldDialEntry,
         "The dial-up entry must not contain a colon."},
        {[](Settings& s) { s.DialEntry = "Office:2"; }, FieldDialEntry,
         "The dial-up entry must not contain a colon."},
        {[](Settings& s) { s.DialPassword = "p\r\nw"; }, FieldDialPassword,
         "The dial-up password must not contain a line break."},
        {[](Settings& s) { s.NameList[1] = "Bo\nb"; }, FieldName,
         "The name of entry 2 in the name list must not contain a line break."},
        {[](Settings& s) { s.AddressList[2] = "x\x1A"; }, FieldAddress,
         "The address of entry 3 in the name list must not contain the character Ctrl-Z."},
    };
    for (size_t row = 0; row < std::size(cases); ++row) {
        const Case& c = cases[row];
        SCOPED_TRACE("row " + std::to_string(row) + ": " + c.message);
        Settings s = Sample();
        c.change(s);
        const auto problem = CheckStorable(s);
        ASSERT_TRUE(problem.has_value());
        EXPECT_EQ(problem->field, c.field);
        EXPECT_EQ(problem->message, c.message);

        WriteBytes(path_, SampleBytes);
        EXPECT_THAT(ConfigErrorOf([&] { SaveConfiguration(s, path_); }), ::testing::HasSubstr(c.message));
        EXPECT_EQ(ReadBytes(path_), SampleBytes);
        EXPECT_FALSE(fs::exists(path_ + ".tmp"));
    }
}

// A list in the code page (windows-1252 here and in the Wine prefix) is written byte for byte as older
// copies wrote it; one in three scripts goes as UTF-8 behind the byte-order mark. Either loads back to
// the same UTF-8 text, in zembrix.cfg and zembrix.ini alike.
TEST_F(ConfigFile, TextBeyondTheCodePageIsWrittenAsUtf8WithTheMark) {
    const std::string head = "s:25\r\nme@x\r\n:\r\nFALSE\r\n";
    const struct {
        const char* why;
        std::vector<std::string> names; // UTF-8
        std::string bytes;
    } cases[] = {
        {"code page",
         {"J\xC3\xBCrgen M\xC3\xBCller", "caf\xC3\xA9 \xE2\x82\xAC"},
         head + "J\xFCrgen M\xFCller\r\na@x\r\ncaf\xE9 \x80\r\na@x\r\n"},
        {"three scripts",
         {"\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82", "\xE7\x8E\x8B\xE5\xB0\x8F\xE6\x98\x8E",
          "\xC5\x81ukasz"},
         "\xEF\xBB\xBF" + head +
             "\xCE\x93\xCE\xB9\xCF\x8E\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82\r\na@"
             "x\r\n\xE7\x8E\x8B\xE5\xB0\x8F\xE6\x98"
             "\x8E\r\na@x\r\n\xC5\x81ukasz\r\na@x\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Settings s;
        s.SMTPServer = "s", s.SMTPPort = "25", s.EmailAddress = "me@x";
        s.NameList = c.names;
        s.AddressList.assign(c.names.size(), "a@x");
        SaveConfiguration(s, path_);
        EXPECT_EQ(ReadBytes(path_), c.bytes);
        EXPECT_EQ(LoadBytes(c.bytes).NameList, c.names);

        SecuritySettings security;
        security.User = c.names.front();
        const std::string ini = (dir_ / "zembrix.ini").string();
        SaveSecuritySettings(security, ini);
        EXPECT_EQ(ReadBytes(ini).starts_with("\xEF\xBB\xBF"), c.bytes.starts_with("\xEF\xBB\xBF"));
        SecuritySettings loaded;
        LoadSecuritySettings(loaded, ini);
        EXPECT_EQ(loaded.User, c.names.front());
    }
    // Without the mark a file is the code page's, even where its bytes would make UTF-8.
    EXPECT_EQ(LoadBytes(head + "J\xC3\xBCrgen\r\na@x\r\n").NameList.front(), "J\xC3\x83\xC2\xBCrgen");
}

// A marked file that is not UTF-8 was not written by the program: refused, and nothing changes.
TEST_F(ConfigFile, MarkedFileThatIsNotUtf8IsRefusedAndCodePageTextIsKept) {
    for (const std::string bad : {"\xC0\xAF", "\xED\xA0\x80", "\xE2\x82", "\xFC"}) {
        WriteBytes(path_, "\xEF\xBB\xBFs:25\r\nme@x\r\n:\r\nFALSE\r\n" + bad + "\r\na@x\r\n");
        Settings s = Sample();
        EXPECT_EQ(ConfigErrorOf([&] { LoadConfiguration(s, path_); }),
                  "The configuration file \"" + path_ +
                      "\" begins with the UTF-8 byte-order mark but is not UTF-8 text; it was not read.");
        EXPECT_TRUE(SameSettings(s, Sample()));
    }
    // A value that is not UTF-8 is code page text (from an ANSI window): it goes back to the code page.
    Settings s = Sample();
    s.NameList[0] = "K\xF6ln";
    SaveConfiguration(s, path_);
    EXPECT_EQ(LoadBytes(ReadBytes(path_)).NameList.front(), "K\xC3\xB6ln");
}

TEST(CheckStorable, AcceptsColonsWhereTheFormatKeepsThem) {
    Settings s = Sample();
    s.SMTPPort = "25:26";
    s.EmailAddress = "\"a:b\"@x";
    s.DialPassword = "p:w";
    s.NameList[0] = "Dr. No: home";
    s.AddressList[0] = "mailto:x@y";
    EXPECT_FALSE(CheckStorable(s).has_value());

    EXPECT_FALSE(CheckStorableText("name", "a:b", true).has_value());
    const auto problem = CheckStorableText("name", "a:b", false);
    ASSERT_TRUE(problem.has_value());
    EXPECT_EQ(problem->message, "The name must not contain a colon.");
}
