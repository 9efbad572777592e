// zembrix.ini: the exact bytes saved, what each kind of line loads as, the errors that name the line
// and leave the settings as they were, and lines of other programs carried through a save.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>

#include "core/config/config_support.h"
#include "core/config/security_config.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;
using namespace tarvel;

namespace {

const std::string FingerprintA(64, 'a');
const std::string FingerprintB = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

using test::ConfigErrorOf;
using test::ReadBytes;
using test::WriteBytes;

class SecurityFile : public ::testing::Test {
protected:
    // A folder of its own for each test, also when the sanitizer builds run side by side.
    test::TempFolder folder_;
    fs::path dir_ = folder_.Path();
    std::string path_ = SecurityConfigPath(dir_.string() + "/");
};

} // namespace

TEST(SecurityModes, TextsRoundTripAndOtherTextsAreRefused) {
    for (SecurityMode mode : {SecurityMode::None, SecurityMode::StartTls, SecurityMode::Implicit})
        EXPECT_EQ(ParseSecurityMode(SecurityModeText(mode)), mode) << SecurityModeText(mode);
    const struct {
        const char* text;
        std::optional<SecurityMode> mode;
    } cases[] = {
        {"starttls", SecurityMode::StartTls},
        {" ssl/tls ", SecurityMode::Implicit},
        {"TLS", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseSecurityMode(c.text), c.mode) << '"' << c.text << '"';
    EXPECT_EQ(SecurityConfigPath("C:\\Tarvel\\"), "C:\\Tarvel\\zembrix.ini");
}

TEST(SecurityFingerprints, NormalizedToLowerCaseHexOrRefused) {
    std::string pairs;
    for (int i = 0; i < 32; ++i)
        pairs += std::string(i ? ":" : "") + "AA";
    const struct {
        std::string text;
        std::optional<std::string> normalized;
    } cases[] = {
        {std::string(64, 'A'), FingerprintA},       {pairs, FingerprintA},
        {std::string(63, 'a'), std::nullopt},       {std::string(65, 'a'), std::nullopt},
        {std::string(63, 'a') + "g", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NormalizeFingerprint(c.text), c.normalized) << '"' << c.text << '"';

    SecuritySettings s;
    TrustFingerprint(s, "Mail.Example.ORG", std::string(64, 'A'));
    const struct {
        const char* server;
        std::optional<std::string> trusted;
    } lookups[] = {
        {"mail.example.org", FingerprintA},
        {"MAIL.example.org", FingerprintA},
        {"other.example.org", std::nullopt},
    };
    for (const auto& c : lookups)
        EXPECT_EQ(TrustedFingerprint(s, c.server), c.trusted) << c.server;
}

TEST(SecurityFingerprints, TrustedChainOrPinnedCertificateGoesOnOthersAreAskedOrRefused) {
    SecuritySettings s;
    TrustFingerprint(s, "mail.example.org", FingerprintA);
    const std::string upperA(64, 'A');
    const struct {
        bool chainTrusted;
        std::string sha256;
        const char* server;
        CertificateVerdict verdict;
    } cases[] = {
        {true, "", "mail.example.org", CertificateVerdict::Accept},
        {false, FingerprintA, "MAIL.example.org", CertificateVerdict::Accept},
        {false, upperA, "mail.example.org", CertificateVerdict::Accept},
        {false, FingerprintB, "mail.example.org", CertificateVerdict::Ask},  // changed since trusted
        {false, FingerprintA, "other.example.org", CertificateVerdict::Ask}, // trusted for another server
        {false, "", "mail.example.org", CertificateVerdict::Refuse},         // no fingerprint to keep
        {false, FingerprintA.substr(1), "mail.example.org", CertificateVerdict::Refuse},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JudgeCertificate(c.chainTrusted, c.sha256, s, c.server), c.verdict)
            << c.chainTrusted << " " << c.sha256 << " " << c.server;
}

TEST_F(SecurityFile, MissingFileMeansNoSecurityAndChangesNothing) {
    SecuritySettings s;
    s.User = "kept";
    LoadSecuritySettings(s, path_);
    EXPECT_EQ(s.Mode, SecurityMode::None);
    EXPECT_EQ(s.User, "kept");
    EXPECT_FALSE(fs::exists(path_));
}

TEST_F(SecurityFile, SaveWritesExactBytesAndLoadGivesThemBack) {
    SecuritySettings s;
    s.Mode = SecurityMode::StartTls;
    s.User = "ann = the user";
    TrustFingerprint(s, "mail.example.org", FingerprintB);
    TrustFingerprint(s, "localhost", FingerprintA);
    SaveSecuritySettings(s, path_);
    const std::string expected = "[Security]\r\nMode=STARTTLS\r\nUser=ann = the user\r\n"
                                 "[Trusted]\r\nlocalhost=" +
                                 FingerprintA + "\r\nmail.example.org=" + FingerprintB + "\r\n";
    EXPECT_EQ(ReadBytes(path_), expected);
    EXPECT_FALSE(fs::exists(path_ + ".tmp"));

    SecuritySettings loaded;
    LoadSecuritySettings(loaded, path_);
    EXPECT_EQ(loaded.Mode, SecurityMode::StartTls);
    EXPECT_EQ(loaded.User, "ann = the user");
    EXPECT_EQ(loaded.Trusted, s.Trusted);
    SaveSecuritySettings(loaded, path_);
    EXPECT_EQ(ReadBytes(path_), expected);

    SaveSecuritySettings(SecuritySettings{}, path_);
    EXPECT_EQ(ReadBytes(path_), "[Security]\r\nMode=None\r\nUser=\r\n");
}

TEST_F(SecurityFile, LinesOfOtherProgramsAndCommentsSurviveASave) {
    WriteBytes(path_, "; written by hand\r\n[Other]\r\nkey=1\r\n[security]\r\n# mine\r\nmode = ssl/tls\r\n"
                      "Extra=x\r\nuser=bob\r\n[TRUSTED]\n Localhost =" +
                          std::string(64, 'A') + "\n");
    SecuritySettings s;
    LoadSecuritySettings(s, path_);
    EXPECT_EQ(s.Mode, SecurityMode::Implicit);
    EXPECT_EQ(s.User, "bob");
    EXPECT_EQ(TrustedFingerprint(s, "localhost"), FingerprintA);
    SaveSecuritySettings(s, path_);
    EXPECT_EQ(ReadBytes(path_), "; written by hand\r\n[Security]\r\nMode=SSL/TLS\r\nUser=bob\r\n# mine\r\n"
                                "Extra=x\r\n[Trusted]\r\nlocalhost=" +
                                    FingerprintA + "\r\n[Other]\r\nkey=1\r\n");
}

TEST_F(SecurityFile, BadContentNamesTheLineAndChangesNothing) {
    const struct {
        std::string bytes;
        std::string says;
    } cases[] = {
        {"[Security]\r\nMode=TLS1.3\r\n",
         "line 2 names the connection security \"TLS1.3\"; it must be None, STARTTLS or SSL/TLS."},
        {"[Security]\r\nMode=None\r\nMode=STARTTLS\r\n",
         "line 3 gives the connection security a second time."},
        {"[Security]\r\nUser=a\r\nUser=b\r\n", "line 3 gives the user name a second time."},
        {"[Security]\r\njust text\r\n", "line 2 (\"just text\") is not of the form name=value."},
        {"[Trusted]\r\nlocalhost=abc\r\n",
         "line 2 holds \"abc\" for localhost, which is no SHA-256 fingerprint"},
        {"[Trusted]\r\n=" + FingerprintA + "\r\n", "line 2 names no server before its \"=\"."},
        {"[Trusted]\r\nx=" + FingerprintA + "\r\nX=" + FingerprintB + "\r\n",
         "line 3 names the server x a second time."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.bytes));
        WriteBytes(path_, c.bytes);
        SecuritySettings s;
        s.Mode = SecurityMode::StartTls;
        s.User = "before";
        using ::testing::HasSubstr;
        EXPECT_THAT(ConfigErrorOf([&] { LoadSecuritySettings(s, path_); }),
                    ::testing::AllOf(HasSubstr(path_), HasSubstr(c.says), HasSubstr("Nothing was changed.")));
        EXPECT_EQ(s.Mode, SecurityMode::StartTls);
        EXPECT_EQ(s.User, "before");
        EXPECT_EQ(ReadBytes(path_), c.bytes) << "the file is left as it was";
    }
}

TEST_F(SecurityFile, ValuesTheFormatCannotCarryAreRefusedAndTheOldFileStays) {
    SecuritySettings good;
    good.User = "ann";
    SaveSecuritySettings(good, path_);
    const std::string before = ReadBytes(path_);

    const struct {
        SecuritySettings settings;
        std::string field;
    } cases[] = {
        {{SecurityMode::None, "a\r\nMode=None", {}, {}}, FieldUserName},
        {{SecurityMode::None, "a\x1A", {}, {}}, FieldUserName},
        {{SecurityMode::None, "", {{"a=b", FingerprintA}}, {}}, FieldTrustedServer},
        {{SecurityMode::None, "", {{"[x]", FingerprintA}}, {}}, FieldTrustedServer},
        {{SecurityMode::None, "", {{"", FingerprintA}}, {}}, FieldTrustedServer},
        {{SecurityMode::None, "", {{"host", "12"}}, {}}, FieldFingerprint},
    };
    for (size_t row = 0; row < std::size(cases); ++row) {
        const auto& c = cases[row];
        SCOPED_TRACE("row " + std::to_string(row) + ", user " + ::testing::PrintToString(c.settings.User) +
                     ", trusted " + ::testing::PrintToString(c.settings.Trusted));
        const auto problem = CheckStorable(c.settings);
        ASSERT_TRUE(problem.has_value()) << c.field;
        EXPECT_EQ(problem->field, c.field);
        EXPECT_THROW(SaveSecuritySettings(c.settings, path_), ConfigError);
        EXPECT_EQ(ReadBytes(path_), before);
        EXPECT_FALSE(fs::exists(path_ + ".tmp"));
    }
}

TEST_F(SecurityFile, FailedReplaceLeavesTheOldFileWhole) {
    SecuritySettings s;
    s.User = "ann";
    SaveSecuritySettings(s, path_);
    fs::create_directory(path_ + ".tmp"); // the temporary copy cannot be created
    s.User = "bob";
    EXPECT_THAT(ConfigErrorOf([&] { SaveSecuritySettings(s, path_); }),
                ::testing::HasSubstr("cannot be created"));
    EXPECT_EQ(ReadBytes(path_), "[Security]\r\nMode=None\r\nUser=ann\r\n");
}
