// Registry integration under Wine: the program's location, the "mailto:" handler and the import of other
// mail programs' settings. Every test runs in a registry sandbox of its own (tests/support).
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "core/text/wide.h"
#include "platform/registry.h"
#include "support/registry_sandbox.h"

using namespace tarvel;

namespace {

constexpr const char* TarvelKey = "Software\\Tarvel 32";
constexpr const char* MailtoKey = "SOFTWARE\\Classes\\MailTo\\Shell\\Open\\command";
constexpr const char* ImnMail = "Software\\Microsoft\\Internet Mail and News\\Mail";
constexpr const char* Navigator = "Software\\Netscape\\Netscape Navigator";
constexpr const char* NavigatorUser = "Software\\Netscape\\Netscape Navigator\\User";
constexpr const char* NavigatorServices = "Software\\Netscape\\Netscape Navigator\\Services";

bool KeyExists(HKEY root, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void DeleteTree(HKEY root, const std::string& path) {
    tarvel::test::DeleteRegistryTree(root, path);
}

void SetValue(HKEY root, const char* path, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << path;
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS)
        << name;
    RegCloseKey(key);
}

// Texts through the W functions, UTF-8 here, so that a test sees exactly the characters stored.
void SetText(HKEY root, const char* path, const char* name, const std::string& value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring text = tarvel::Widen(value);
    ASSERT_EQ(RegSetValueExW(key, name ? tarvel::Widen(name).c_str() : nullptr, 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void SetDword(HKEY root, const char* path, const char* name, DWORD value) {
    SetValue(root, path, name, REG_DWORD, &value, sizeof value);
}

void MakeKey(HKEY root, const char* path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// The stored text, or nullopt when the key or value is missing or is no REG_SZ.
std::optional<std::string> GetText(HKEY root, const char* path, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    DWORD type = 0;
    const LONG result = RegQueryValueExW(key, name ? tarvel::Widen(name).c_str() : nullptr, nullptr, &type,
                                         reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
    return tarvel::Narrow(buffer);
}

// Each test starts from an empty HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE of its own.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sandbox_.Ready()) << sandbox_.Path(); }

private:
    tarvel::test::RegistrySandbox sandbox_;
};

} // namespace

class ProgramLocation : public RegistryTest {};

TEST_F(ProgramLocation, IsWrittenEachTime) {
    const std::string first = "C:\\Users\\Łukasz\\AppData\\Local\\Programs\\東京\\tarvel.exe";
    EXPECT_TRUE(RecordProgramLocation(first));
    EXPECT_EQ(GetText(HKEY_CURRENT_USER, TarvelKey, "Command Line"), first);

    SetText(HKEY_CURRENT_USER, TarvelKey, "Command Line", "C:\\old\\place.exe");
    const std::string second = "D:\\Tools\\tarvel.exe";
    EXPECT_TRUE(RecordProgramLocation(second));
    EXPECT_EQ(GetText(HKEY_CURRENT_USER, TarvelKey, "Command Line"), second);
}

TEST(ProgramFile, PathOfTheRunningProgram) {
    const std::string path = ProgramFilePath();
    ASSERT_GT(path.size(), 4u);
    EXPECT_EQ(path.substr(path.size() - 4), ".exe") << path;
    EXPECT_NE(path.find('\\'), std::string::npos) << path;
}

// The registration writes under two roots of the test's own, Software\TarvelTest-<pid>-<n>\user and
// ...\machine inside its sandbox. A null root is one the user may not write.
class MailtoHandler : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        static int serial = 0;
        base_ =
            "Software\\TarvelTest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
        DeleteTree(HKEY_CURRENT_USER, base_);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (base_ + "\\user").c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &user_, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (base_ + "\\machine").c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &machine_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        if (user_) RegCloseKey(user_);
        if (machine_) RegCloseKey(machine_);
        DeleteTree(HKEY_CURRENT_USER, base_);
    }
    std::optional<std::string> User(const std::string& path, const char* name = nullptr) {
        return GetText(user_, path.c_str(), name);
    }
    std::optional<std::string> Machine(const char* name = nullptr) {
        return GetText(machine_, MailtoKey, name);
    }
    std::string base_;
    HKEY user_ = nullptr;
    HKEY machine_ = nullptr;
};

// A blank and characters beyond any one code page, as the installer's per-user folder may have them.
constexpr const char* BlankPath = "C:\\Users\\Łukasz\\AppData\\Local\\Programs\\Tarvel Pro\\tarvel.exe";
constexpr const char* QuotedCommand =
    "\"C:\\Users\\Łukasz\\AppData\\Local\\Programs\\Tarvel Pro\\tarvel.exe\" /u \"%1\"";

TEST_F(MailtoHandler, WritesTheQuotedCommandForTheUserAndTheMachine) {
    MakeKey(machine_, MailtoKey);
    SetText(machine_, MailtoKey, nullptr, "C:\\Program Files\\Other\\mail.exe /u %1 %2");
    ASSERT_TRUE(RegisterMailtoHandler(BlankPath, {user_, machine_}));
    EXPECT_EQ(MailtoCommandLine(BlankPath), QuotedCommand);
    EXPECT_EQ(Machine(), QuotedCommand);

    const struct {
        const char* key;
        const char* name;
        std::string text;
    } values[] = {
        {"Software\\Classes\\mailto", nullptr, "URL:MailTo Protocol"},
        {"Software\\Classes\\mailto", "URL Protocol", ""},
        {"Software\\Classes\\mailto\\shell\\open\\command", nullptr, QuotedCommand},
        {"Software\\Classes\\TarvelPro.mailto", "URL Protocol", ""},
        {"Software\\Classes\\TarvelPro.mailto\\shell\\open\\command", nullptr, QuotedCommand},
        {"Software\\Clients\\Mail\\Tarvel Pro", nullptr, "Tarvel Pro"},
        {"Software\\Clients\\Mail\\Tarvel Pro\\shell\\open\\command", nullptr,
         "\"" + std::string(BlankPath) + "\""},
        {"Software\\Clients\\Mail\\Tarvel Pro\\Capabilities", "ApplicationName", "Tarvel Pro"},
        {"Software\\Clients\\Mail\\Tarvel Pro\\Capabilities\\URLAssociations", "mailto", "TarvelPro.mailto"},
        {"Software\\RegisteredApplications", "Tarvel Pro",
         "Software\\Clients\\Mail\\Tarvel Pro\\Capabilities"},
    };
    for (const auto& v : values) {
        SCOPED_TRACE(std::string(v.key) + " " + (v.name ? v.name : "(default)"));
        EXPECT_EQ(User(v.key, v.name), v.text);
    }
}

// A standard user cannot write HKLM: the per-user registration is enough and nothing is reported; the
// failure is reported only when the user's keys cannot be written either.
TEST_F(MailtoHandler, ReportsFailureOnlyWhenNeitherRootCanBeWritten) {
    MakeKey(machine_, MailtoKey);
    SetText(machine_, MailtoKey, nullptr, "old");
    const struct {
        bool user, machine, result;
        const char* machineValue;
    } cases[] = {
        {true, false, true, "old"},
        {false, true, true, QuotedCommand},
        {false, false, false, "old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.user) + std::to_string(c.machine));
        SetText(machine_, MailtoKey, nullptr, "old");
        DeleteTree(user_, "Software");
        EXPECT_EQ(
            RegisterMailtoHandler(BlankPath, {c.user ? user_ : nullptr, c.machine ? machine_ : nullptr}),
            c.result);
        EXPECT_EQ(Machine(), c.machineValue);
        EXPECT_EQ(User("Software\\Classes\\mailto\\shell\\open\\command"),
                  c.user ? std::optional<std::string>(QuotedCommand) : std::nullopt);
    }
    EXPECT_STREQ(MailtoRegistrationFailedText, "Unable to set Tarvel to default program.");
}

TEST_F(MailtoHandler, MissingMachineKeyIsNotCreated) {
    ASSERT_TRUE(RegisterMailtoHandler("C:\\tarvel.exe", {user_, machine_}));
    EXPECT_FALSE(KeyExists(machine_, MailtoKey));
    EXPECT_EQ(User("Software\\Classes\\mailto\\shell\\open\\command"), "\"C:\\tarvel.exe\" /u \"%1\"");
}

// Wine has no Default apps page: nothing opens and nothing is shown.
TEST(DefaultAppsPage, IsNotOpenedWhereTheSystemHasNone) {
    if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) GTEST_SKIP() << "not Wine";
    EXPECT_FALSE(OpenDefaultAppsPage());
}

class ImportDefaults : public RegistryTest {
protected:
    static void Imn(const char* name, const char* email, const char* server) {
        SetText(HKEY_CURRENT_USER, ImnMail, "Sender Name", name);
        SetText(HKEY_CURRENT_USER, ImnMail, "Sender Email", email);
        SetText(HKEY_CURRENT_USER, ImnMail, "Default SMTP Server", server);
    }
    static void Netscape(const char* email, const char* server) {
        SetText(HKEY_CURRENT_USER, NavigatorUser, "User_Addr", email);
        SetText(HKEY_CURRENT_USER, NavigatorServices, "SMTP_Server", server);
    }
    // What start-up and an earlier dialog may have put there; all of it but the port is dropped.
    static Settings Before() {
        Settings s;
        s.SMTPServer = "localhost";
        s.SMTPPort = "587";
        s.EmailAddress = "old@example.org";
        s.DialEntry = "Office";
        s.DialPassword = "secret";
        s.UseDialup = true;
        s.NameList = {"Anna"};
        s.AddressList = {"anna@example.org"};
        return s;
    }
    static void ExpectImported(const Settings& s, const char* email, const char* server) {
        EXPECT_EQ(s.EmailAddress, email);
        EXPECT_EQ(s.SMTPServer, server);
        EXPECT_EQ(s.SMTPPort, "587");
        EXPECT_EQ(s.DialEntry, "");
        EXPECT_EQ(s.DialPassword, "");
        EXPECT_FALSE(s.UseDialup);
        EXPECT_EQ(s.NameList.size(), 1u);
    }
};

TEST_F(ImportDefaults, FromInternetMailAndNewsOnly) {
    Imn("Me", "me@imn.example", "smtp.imn.example");
    Settings s = Before();
    ImportMailerDefaults(s);
    ExpectImported(s, "me@imn.example", "smtp.imn.example");
}

TEST_F(ImportDefaults, FromNetscapeOnly) {
    Netscape("me@ns.example", "smtp.ns.example");
    Settings s = Before();
    ImportMailerDefaults(s);
    ExpectImported(s, "me@ns.example", "smtp.ns.example");
}

TEST_F(ImportDefaults, InternetMailAndNewsWinsAndNetscapeFillsGaps) {
    Imn("Me", "me@imn.example", "smtp.imn.example");
    Netscape("me@ns.example", "smtp.ns.example");
    Settings s = Before();
    ImportMailerDefaults(s);
    ExpectImported(s, "me@imn.example", "smtp.imn.example");

    Imn("Me", "", "smtp.imn.example");
    s = Before();
    ImportMailerDefaults(s);
    ExpectImported(s, "me@ns.example", "smtp.imn.example");

    // The server value is absent from Internet Mail and News.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, ImnMail, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    SetText(HKEY_CURRENT_USER, ImnMail, "Sender Email", "me@imn.example");
    EXPECT_EQ(RegDeleteValueA(key, "Default SMTP Server"), ERROR_SUCCESS);
    RegCloseKey(key);
    s = Before();
    ImportMailerDefaults(s);
    ExpectImported(s, "me@imn.example", "smtp.ns.example");
}

TEST_F(ImportDefaults, EmptySenderNameIgnoresInternetMailAndNews) {
    Imn("", "me@imn.example", "smtp.imn.example");
    Settings s = Before();
    ImportMailerDefaults(s);
    ExpectImported(s, "", "");

    Netscape("me@ns.example", "smtp.ns.example");
    s = Before();
    ImportMailerDefaults(s);
    ExpectImported(s, "me@ns.example", "smtp.ns.example");
}

TEST_F(ImportDefaults, NeitherProgramLeavesServerAndAddressEmpty) {
    Settings s = Before();
    ImportMailerDefaults(s);
    ExpectImported(s, "", "");

    MakeKey(HKEY_CURRENT_USER, Navigator); // the program is there, but not its settings
    s = Before();
    ImportMailerDefaults(s);
    ExpectImported(s, "", "");
}

TEST_F(ImportDefaults, ValuesOfAnotherTypeCountAsAbsent) {
    Imn("Me", "me@imn.example", "smtp.imn.example");
    SetDword(HKEY_CURRENT_USER, ImnMail, "Sender Email", 42);
    Netscape("me@ns.example", "smtp.ns.example");
    Settings s = Before();
    ImportMailerDefaults(s);
    ExpectImported(s, "me@ns.example", "smtp.imn.example");

    SetDword(HKEY_CURRENT_USER, ImnMail, "Sender Name", 1);
    s = Before();
    ImportMailerDefaults(s);
    ExpectImported(s, "me@ns.example", "smtp.ns.example");

    const std::string expand = "%SystemRoot%";
    SetValue(HKEY_CURRENT_USER, NavigatorServices, "SMTP_Server", REG_EXPAND_SZ, expand.c_str(),
             static_cast<DWORD>(expand.size() + 1));
    SetDword(HKEY_CURRENT_USER, NavigatorUser, "User_Addr", 7);
    s = Before();
    ImportMailerDefaults(s);
    ExpectImported(s, "", "%SystemRoot%");
}

class RegKeyTest : public RegistryTest {};

TEST_F(RegKeyTest, LeadingBackslashMeansFromTheRootAndKeysClose) {
    DeleteTree(HKEY_CURRENT_USER, "Software\\TarvelRegKeyTest");
    {
        RegKey created = RegKey::OpenOrCreate(HKEY_CURRENT_USER, "\\Software\\TarvelRegKeyTest\\Inner");
        ASSERT_TRUE(created);
        EXPECT_TRUE(created.WriteText("v", "text"));
        RegKey moved = std::move(created);
        EXPECT_FALSE(created);
        EXPECT_EQ(moved.ReadText("v"), "text");
        EXPECT_EQ(moved.ReadText("absent"), "");
    }
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\TarvelRegKeyTest\\Inner"));
    EXPECT_FALSE(RegKey::Open(HKEY_CURRENT_USER, "\\Software\\TarvelRegKeyTest\\Missing"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\TarvelRegKeyTest\\Missing"));
    DeleteTree(HKEY_CURRENT_USER, "Software\\TarvelRegKeyTest");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\TarvelRegKeyTest"));
}
