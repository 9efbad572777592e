// A stand-in for RASAPI32.DLL whose phone book, lines and answers a test scripts. It reads and writes the
// records at the byte offsets of their first layouts, independently of the program's own declarations.
// Built twice: complete, and without RasGetConnectStatusA (FAKE_RAS_INCOMPLETE).
#include <windows.h>

#include <cstring>

#include "fake_ras_script.h"

namespace {

fake_ras::Script script;

// First-layout record sizes and field offsets.
constexpr DWORD EntryNameSize = 264;
constexpr DWORD ConnSize = 412;
constexpr DWORD DialParamsSize = 1052;
constexpr int EntryNameOffset = 4;
constexpr int PhoneNumberOffset = 261;
constexpr int CallbackNumberOffset = 390;
constexpr int UserNameOffset = 519;
constexpr int PasswordOffset = 776;
constexpr int DomainOffset = 1033;

constexpr DWORD ErrorInvalidParameter = 87;
constexpr DWORD ErrorBufferTooSmall = 603;
constexpr DWORD ErrorInvalidSize = 632;
constexpr DWORD ErrorInvalidHandle = 6;

void Log(const char* name) {
    if (script.callCount < fake_ras::MaxCalls) {
        std::strncpy(script.calls[script.callCount], name, sizeof script.calls[0] - 1);
        ++script.callCount;
    }
}

DWORD ReadDword(const void* record) {
    DWORD value;
    std::memcpy(&value, record, sizeof value);
    return value;
}

// Copies a zero-terminated field of `length` bytes out of a record; an unterminated field is cut at its end.
template <size_t N> void ReadField(char (&out)[N], const void* record, int offset, size_t length) {
    const char* field = static_cast<const char*>(record) + offset;
    size_t n = strnlen(field, length);
    if (n >= N) n = N - 1;
    std::memcpy(out, field, n);
    out[n] = '\0';
}

void WriteField(void* record, int offset, size_t length, const char* text) {
    char* field = static_cast<char*>(record) + offset;
    std::memset(field, 0, length);
    std::memcpy(field, text, strnlen(text, length - 1));
}

} // namespace

extern "C" {

__declspec(dllexport) fake_ras::Script* __cdecl FakeRas_Script() {
    return &script;
}

__declspec(dllexport) void __cdecl FakeRas_Reset() {
    std::memset(&script, 0, sizeof script);
    script.dialHandle = 0x5150;
}

__declspec(dllexport) DWORD WINAPI
    RasEnumEntriesA(LPCSTR reserved, LPCSTR phoneBook, void* entries, DWORD* bufferBytes, DWORD* count) {
    Log("RasEnumEntriesA");
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

__declspec(dllexport) DWORD WINAPI RasEnumConnectionsA(void* connections, DWORD* bufferBytes, DWORD* count) {
    Log("RasEnumConnectionsA");
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
    RasGetEntryDialParamsA(LPCSTR phoneBook, void* params, BOOL* passwordReturned) {
    Log("RasGetEntryDialParamsA");
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

__declspec(dllexport) DWORD WINAPI RasDialA(void* extensions, LPCSTR phoneBook, void* params,
                                            DWORD notifierType, void* notifier, HANDLE* connection) {
    Log("RasDialA");
    if (!params || !connection) return ErrorInvalidParameter;
    script.dialSize = ReadDword(params);
    ReadField(script.dialEntryName, params, EntryNameOffset, 257);
    ReadField(script.dialPhoneNumber, params, PhoneNumberOffset, 129);
    ReadField(script.dialCallbackNumber, params, CallbackNumberOffset, 129);
    ReadField(script.dialUserName, params, UserNameOffset, 257);
    ReadField(script.dialPassword, params, PasswordOffset, 257);
    ReadField(script.dialDomain, params, DomainOffset, 16);
    script.dialSynchronous = !extensions && !phoneBook && notifierType == 0 && !notifier;
    if (script.dialHandle) *connection = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(script.dialHandle));
    return script.dialResult;
}

__declspec(dllexport) DWORD WINAPI RasHangUpA(HANDLE connection) {
    Log("RasHangUpA");
    script.hangUpHandle = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(connection));
    return script.hangUpResult;
}

__declspec(dllexport) DWORD WINAPI RasGetErrorStringA(UINT error, LPSTR buffer, DWORD bufferBytes) {
    Log("RasGetErrorStringA");
    script.errorStringBufferBytes = bufferBytes;
    if (!buffer || bufferBytes == 0) return ErrorInvalidParameter;
    for (int i = 0; i < script.errorTextCount; ++i) {
        if (script.errorTexts[i].code != error) continue;
        size_t n = std::strlen(script.errorTexts[i].text);
        if (n >= bufferBytes) n = bufferBytes - 1;
        std::memcpy(buffer, script.errorTexts[i].text, n);
        buffer[n] = '\0';
        return 0;
    }
    return ErrorInvalidParameter;
}

#ifndef FAKE_RAS_INCOMPLETE
__declspec(dllexport) DWORD WINAPI RasGetConnectStatusA(HANDLE, void*) {
    Log("RasGetConnectStatusA");
    return ErrorInvalidHandle;
}
#endif

} // extern "C"
