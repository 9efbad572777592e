// The remote-access records and entry points as RASAPI32.DLL exports them, in their first (Windows 95 /
// NT 4.0) layouts: the size field selects that layout in every version of the library, so we never follow
// ras.h.
#pragma once

#include <windows.h>

#include <cstddef>

namespace tarvel {

// Field lengths of the first layouts, terminating zero not counted.
inline constexpr int RasMaxEntryName = 256;
inline constexpr int RasMaxDeviceType = 16;
inline constexpr int RasMaxDeviceName = 128;
inline constexpr int RasMaxPhoneNumber = 128;
inline constexpr int RasMaxCallbackNumber = 128;
inline constexpr int RasMaxUserName = 256;
inline constexpr int RasMaxPassword = 256;
inline constexpr int RasMaxDomain = 15;

using RasConnHandle = HANDLE;

struct RasEntryNameA {
    DWORD dwSize;
    CHAR szEntryName[RasMaxEntryName + 1];
};

struct RasConnA {
    DWORD dwSize;
    RasConnHandle hrasconn;
    CHAR szEntryName[RasMaxEntryName + 1];
    CHAR szDeviceType[RasMaxDeviceType + 1];
    CHAR szDeviceName[RasMaxDeviceName + 1];
};

struct RasDialParamsA {
    DWORD dwSize;
    CHAR szEntryName[RasMaxEntryName + 1];
    CHAR szPhoneNumber[RasMaxPhoneNumber + 1];
    CHAR szCallbackNumber[RasMaxCallbackNumber + 1];
    CHAR szUserName[RasMaxUserName + 1];
    CHAR szPassword[RasMaxPassword + 1];
    CHAR szDomain[RasMaxDomain + 1];
};

// The library accepts exactly these sizes for the first layouts.
inline constexpr DWORD RasEntryNameSize = 264;
inline constexpr DWORD RasConnSize = 412;
inline constexpr DWORD RasDialParamsSize = 1052;
static_assert(sizeof(RasEntryNameA) == RasEntryNameSize);
static_assert(sizeof(RasConnA) == RasConnSize);
static_assert(sizeof(RasDialParamsA) == RasDialParamsSize);
static_assert(offsetof(RasDialParamsA, szPhoneNumber) == 261);
static_assert(offsetof(RasDialParamsA, szPassword) == 776);

// Entry-point types; every one returns 0 on success or a remote-access error code.
using RasDialAFn = DWORD(WINAPI*)(void* dialExtensions, LPCSTR phoneBook, RasDialParamsA* params,
                                  DWORD notifierType, void* notifier, RasConnHandle* connection);
using RasEnumConnectionsAFn = DWORD(WINAPI*)(RasConnA* connections, DWORD* bufferBytes, DWORD* count);
using RasEnumEntriesAFn = DWORD(WINAPI*)(LPCSTR reserved, LPCSTR phoneBook, RasEntryNameA* entries,
                                         DWORD* bufferBytes, DWORD* count);
using RasGetConnectStatusAFn = DWORD(WINAPI*)(RasConnHandle connection, void* status);
using RasGetErrorStringAFn = DWORD(WINAPI*)(UINT error, LPSTR buffer, DWORD bufferBytes);
using RasHangUpAFn = DWORD(WINAPI*)(RasConnHandle connection);
using RasGetEntryDialParamsAFn = DWORD(WINAPI*)(LPCSTR phoneBook, RasDialParamsA* params,
                                                BOOL* passwordReturned);

} // namespace tarvel
