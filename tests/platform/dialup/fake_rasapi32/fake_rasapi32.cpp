// A stand-in for RASAPI32.DLL whose phone book, lines and answers a test scripts. It reads and writes the
// records at the byte offsets of their first Unicode layouts, independently of the program's own
// declarations, and keeps its texts in UTF-8. Built twice: complete, and without RasGetConnectStatusW
// (FAKE_RAS_INCOMPLETE).
//
// In-process tests script it through FakeRas_Script(). A test that runs the real program beside it scripts
// it through the environment instead, read once when the library is loaded:
//   FAKE_RAS_ENTRIES      phone-book entry names, separated by ";"
//   FAKE_RAS_CONNECTIONS  how many lines are already up
//   FAKE_RAS_DIAL_RESULT  RasDialW's answer (0 or absent: the line comes up)
//   FAKE_RAS_ERRORS       error texts as "code=text", separated by ";"
//   FAKE_RAS_LOG          a file to which every call is appended as one line (with what RasDialW was given)
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "fake_ras_script.h"

namespace {

fake_ras::Script script;

// First-layout record sizes and field offsets.
constexpr DWORD EntryNameSize = 520;
constexpr DWORD ConnSize = 816;
constexpr DWORD DialParamsSize = 2096;
constexpr int EntryNameOffset = 4;
constexpr int PhoneNumberOffset = 518;
constexpr int CallbackNumberOffset = 776;
constexpr int UserNameOffset = 1034;
constexpr int PasswordOffset = 1548;
constexpr int DomainOffset = 2062;

constexpr DWORD ErrorInvalidParameter = 87;
constexpr DWORD ErrorBufferTooSmall = 603;
constexpr DWORD ErrorInvalidSize = 632;
constexpr DWORD ErrorInvalidHandle = 6;

std::string logPath; // FAKE_RAS_LOG; empty: no file

std::wstring Wide(const std::string& utf8) {
    std::wstring out(utf8.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(),
                                      static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

std::string Utf8(const wchar_t* text, size_t length) {
    std::string out(length * 3, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(),
                                      static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

void LogLine(const std::string& line) {
    if (logPath.empty()) return;
    HANDLE file = CreateFileW(Wide(logPath).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

void Log(const char* name) {
    if (script.callCount < fake_ras::MaxCalls) {
        std::strncpy(script.calls[script.callCount], name, sizeof script.calls[0] - 1);
        ++script.callCount;
    }
    if (std::strcmp(name, "RasDialW") != 0) LogLine(name);
}

std::string Environment(const wchar_t* name) {
    wchar_t buffer[4096];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 4096);
    return n > 0 && n < 4096 ? Utf8(buffer, n) : std::string();
}

template <size_t N> void CopyText(char (&out)[N], const std::string& text) {
    std::memset(out, 0, N);
    std::memcpy(out, text.data(), text.size() < N ? text.size() : N - 1);
}

// The script of a run of the real program, which cannot call FakeRas_Script().
void ScriptFromEnvironment() {
    script.dialHandle = 0x5150;
    logPath = Environment(L"FAKE_RAS_LOG");
    std::string entries = Environment(L"FAKE_RAS_ENTRIES");
    for (size_t start = 0;
         !entries.empty() && start <= entries.size() && script.entryCount < fake_ras::MaxEntries;) {
        size_t end = entries.find(';', start);
        if (end == std::string::npos) end = entries.size();
        CopyText(script.entries[script.entryCount++], entries.substr(start, end - start));
        start = end + 1;
    }
    script.connectionCount = std::atoi(Environment(L"FAKE_RAS_CONNECTIONS").c_str());
    script.dialResult =
        static_cast<DWORD>(std::strtoul(Environment(L"FAKE_RAS_DIAL_RESULT").c_str(), nullptr, 10));
    std::string errors = Environment(L"FAKE_RAS_ERRORS");
    for (size_t start = 0;
         !errors.empty() && start < errors.size() && script.errorTextCount < fake_ras::MaxErrorTexts;) {
        size_t end = errors.find(';', start);
        if (end == std::string::npos) end = errors.size();
        const std::string item = errors.substr(start, end - start);
        if (size_t eq = item.find('='); eq != std::string::npos) {
            fake_ras::ErrorText& text = script.errorTexts[script.errorTextCount++];
            text.code = static_cast<DWORD>(std::strtoul(item.substr(0, eq).c_str(), nullptr, 10));
            CopyText(text.text, item.substr(eq + 1));
        }
        start = end + 1;
    }
}

DWORD ReadDword(const void* record) {
    DWORD value;
    std::memcpy(&value, record, sizeof value);
    return value;
}

// Copies a zero-terminated field of `length` UTF-16 units out of a record, as UTF-8; an unterminated field
// is cut at its end.
template <size_t N> void ReadField(char (&out)[N], const void* record, int offset, size_t length) {
    const auto* field = reinterpret_cast<const wchar_t*>(static_cast<const char*>(record) + offset);
    CopyText(out, Utf8(field, wcsnlen(field, length)));
}

void WriteField(void* record, int offset, size_t length, const char* text) {
    auto* field = reinterpret_cast<wchar_t*>(static_cast<char*>(record) + offset);
    std::wmemset(field, 0, length);
    const std::wstring wide = Wide(text);
    std::wmemcpy(field, wide.data(), wide.size() < length ? wide.size() : length - 1);
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) ScriptFromEnvironment();
    return TRUE;
}

__declspec(dllexport) fake_ras::Script* __cdecl FakeRas_Script() {
    return &script;
}

__declspec(dllexport) void __cdecl FakeRas_Reset() {
    std::memset(&script, 0, sizeof script);
    script.dialHandle = 0x5150;
}

__declspec(dllexport) DWORD WINAPI
    RasEnumEntriesW(LPCWSTR reserved, LPCWSTR phoneBook, void* entries, DWORD* bufferBytes, DWORD* count) {
    Log("RasEnumEntriesW");
    if (!entries || !bufferBytes || !count) return ErrorInvalidParameter;
    script.enumEntriesFirstSize = ReadDword(entries);
    script.enumEntriesBufferBytes = *bufferBytes;
    script.enumEntriesArgumentsNull = reserved == nullptr && phoneBook == nullptr;
    if (script.enumEntriesResult) return script.enumEntriesResult;
    if (script.enumEntriesFirstSize != EntryNameSize) return ErrorInvalidSize;
    DWORD needed = script.entryCount * EntryNameSize;
    *count = script.entryCount;
    if (needed > *bufferBytes) {
        *bufferBytes = needed;
        return ErrorBufferTooSmall;
    }
    for (int i = 0; i < script.entryCount; ++i) {
        char* record = static_cast<char*>(entries) + i * EntryNameSize;
        std::memcpy(record, &EntryNameSize, sizeof EntryNameSize);
        WriteField(record, EntryNameOffset, 257, script.entries[i]);
    }
    *bufferBytes = needed;
    return 0;
}

__declspec(dllexport) DWORD WINAPI RasEnumConnectionsW(void* connections, DWORD* bufferBytes, DWORD* count) {
    Log("RasEnumConnectionsW");
    if (!connections || !bufferBytes || !count) return ErrorInvalidParameter;
    script.enumConnectionsFirstSize = ReadDword(connections);
    script.enumConnectionsBufferBytes = *bufferBytes;
    if (script.enumConnectionsResult) return script.enumConnectionsResult;
    if (script.enumConnectionsFirstSize != ConnSize) return ErrorInvalidSize;
    DWORD needed = script.connectionCount * ConnSize;
    *count = script.connectionCount;
    if (needed > *bufferBytes) return ErrorBufferTooSmall;
    for (int i = 0; i < script.connectionCount; ++i) {
        char* record = static_cast<char*>(connections) + i * ConnSize;
        DWORD handle = 0x7000 + i;
        std::memcpy(record, &ConnSize, sizeof ConnSize);
        std::memcpy(record + 4, &handle, sizeof handle);
        WriteField(record, 8, 257, "Somebody else's line");
    }
    return 0;
}

__declspec(dllexport) DWORD WINAPI
    RasGetEntryDialParamsW(LPCWSTR phoneBook, void* params, BOOL* passwordReturned) {
    Log("RasGetEntryDialParamsW");
    if (!params || !passwordReturned) return ErrorInvalidParameter;
    script.getDialParamsSize = ReadDword(params);
    script.getDialParamsPhoneBookNull = phoneBook == nullptr;
    ReadField(script.getDialParamsEntryName, params, EntryNameOffset, 257);
    if (script.getDialParamsResult) return script.getDialParamsResult;
    if (script.getDialParamsSize != DialParamsSize) return ErrorInvalidSize;
    WriteField(params, PhoneNumberOffset, 129, script.storedPhoneNumber);
    WriteField(params, CallbackNumberOffset, 129, script.storedCallbackNumber);
    WriteField(params, UserNameOffset, 257, script.storedUserName);
    WriteField(params, PasswordOffset, 257, script.storedPassword);
    WriteField(params, DomainOffset, 16, script.storedDomain);
    *passwordReturned = script.storedPassword[0] != '\0';
    return 0;
}

__declspec(dllexport) DWORD WINAPI RasDialW(void* extensions, LPCWSTR phoneBook, void* params,
                                            DWORD notifierType, void* notifier, HANDLE* connection) {
    Log("RasDialW");
    if (!params || !connection) return ErrorInvalidParameter;
    script.dialSize = ReadDword(params);
    ReadField(script.dialEntryName, params, EntryNameOffset, 257);
    ReadField(script.dialPhoneNumber, params, PhoneNumberOffset, 129);
    ReadField(script.dialCallbackNumber, params, CallbackNumberOffset, 129);
    ReadField(script.dialUserName, params, UserNameOffset, 257);
    ReadField(script.dialPassword, params, PasswordOffset, 257);
    ReadField(script.dialDomain, params, DomainOffset, 16);
    script.dialSynchronous = !extensions && !phoneBook && notifierType == 0 && !notifier;
    LogLine(std::string("RasDialW\t") + script.dialEntryName + "\t" + script.dialPassword);
    if (script.dialHandle) *connection = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(script.dialHandle));
    return script.dialResult;
}

__declspec(dllexport) DWORD WINAPI RasHangUpW(HANDLE connection) {
    Log("RasHangUpW");
    script.hangUpHandle = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(connection));
    return script.hangUpResult;
}

__declspec(dllexport) DWORD WINAPI RasGetErrorStringW(UINT error, LPWSTR buffer, DWORD bufferChars) {
    Log("RasGetErrorStringW");
    script.errorStringBufferBytes = bufferChars;
    if (!buffer || bufferChars == 0) return ErrorInvalidParameter;
    for (int i = 0; i < script.errorTextCount; ++i) {
        if (script.errorTexts[i].code != error) continue;
        const std::wstring text = Wide(script.errorTexts[i].text);
        size_t n = text.size();
        if (n >= bufferChars) n = bufferChars - 1;
        std::wmemcpy(buffer, text.data(), n);
        buffer[n] = L'\0';
        return 0;
    }
    return ErrorInvalidParameter;
}

#ifndef FAKE_RAS_INCOMPLETE
__declspec(dllexport) DWORD WINAPI RasGetConnectStatusW(HANDLE, void*) {
    Log("RasGetConnectStatusW");
    return ErrorInvalidHandle;
}
#endif

} // extern "C"
