// What a test tells the fake RASAPI32.DLL to do and what the fake saw, shared by the fake and the tests.
// The fake keeps one Script; a test reaches it through the exported FakeRas_Script().
#pragma once

#include <windows.h>

namespace fake_ras {

constexpr int MaxEntries = 128; // more than the 100 records a caller's buffer holds
constexpr int MaxErrorTexts = 8;
constexpr int MaxCalls = 32;

struct ErrorText {
    DWORD code;
    char text[160];
};

struct Script {
    // The phone book and the lines that are up.
    int entryCount;
    char entries[MaxEntries][257 * 3]; // UTF-8: up to three bytes for each UTF-16 unit
    DWORD enumEntriesResult;           // non-zero: RasEnumEntriesW fails with it
    int connectionCount;
    DWORD enumConnectionsResult;

    // What RasGetEntryDialParamsW returns for any entry.
    DWORD getDialParamsResult;
    char storedPhoneNumber[129];
    char storedCallbackNumber[129];
    char storedUserName[257];
    char storedPassword[257];
    char storedDomain[16];

    DWORD dialResult;
    DWORD dialHandle; // handed back by RasDialW, also on failure; 0: none
    DWORD hangUpResult;
    int errorTextCount; // codes without a text make RasGetErrorStringW fail
    ErrorText errorTexts[MaxErrorTexts];

    // Seen by the fake, in call order.
    int callCount;
    char calls[MaxCalls][32];
    DWORD enumEntriesFirstSize;
    DWORD enumEntriesBufferBytes;
    BOOL enumEntriesArgumentsNull; // reserved and phone book
    DWORD enumConnectionsFirstSize;
    DWORD enumConnectionsBufferBytes;
    DWORD getDialParamsSize;
    char getDialParamsEntryName[300];
    BOOL getDialParamsPhoneBookNull;
    // The dial record as RasDialW received it, read at the offsets of the first Unicode layout.
    DWORD dialSize;
    char dialEntryName[300];
    char dialPhoneNumber[300];
    char dialCallbackNumber[300];
    char dialUserName[300];
    char dialPassword[300];
    char dialDomain[300];
    BOOL dialSynchronous; // no extensions, default phone book, notifier type 0 and no notifier
    DWORD hangUpHandle;
    DWORD errorStringBufferBytes;
};

} // namespace fake_ras

using FakeRasScriptFn = fake_ras::Script*(__cdecl*)();
using FakeRasResetFn = void(__cdecl*)();
