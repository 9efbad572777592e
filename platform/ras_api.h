// The remote-access records and entry points as RASAPI32.DLL exports them, in their first (NT 4.0) Unicode
// layouts: the size field selects that layout in every version of the library, so we never follow
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

struct RasEntryNameW {
    DWORD dwSize;
    WCHAR szEntryName[RasMaxEntryName + 1];
};

struct RasConnW {
    DWORD dwSize;
    RasConnHandle hrasconn;
    WCHAR szEntryName[RasMaxEntryName + 1];
    WCHAR szDeviceType[RasMaxDeviceType + 1];
    WCHAR szDeviceName[RasMaxDeviceName + 1];
};

struct RasDialParamsW {
    DWORD dwSize;
    WCHAR szEntryName[RasMaxEntryName + 1];
    WCHAR szPhoneNumber[RasMaxPhoneNumber + 1];
    WCHAR szCallbackNumber[RasMaxCallbackNumber + 1];
    WCHAR szUserName[RasMaxUserName + 1];
    WCHAR szPassword[RasMaxPassword + 1];
    WCHAR szDomain[RasMaxDomain + 1];
};

// The library accepts exactly these sizes for the first layouts.
inline constexpr DWORD RasEntryNameSize = 520;
inline constexpr DWORD RasConnSize = 816;
inline constexpr DWORD RasDialParamsSize = 2096;
static_assert(sizeof(RasEntryNameW) == RasEntryNameSize);
static_assert(sizeof(RasConnW) == RasConnSize);
static_assert(sizeof(RasDialParamsW) == RasDialParamsSize);
static_assert(offsetof(RasDialParamsW, szPhoneNumber) == 518);
static_assert(offsetof(RasDialParamsW, szPassword) == 1548);

// Entry-point types (the W ones: names and passwords in any script); every one returns 0 on success or a
// remote-access error code.
using RasDialWFn = DWORD(WINAPI*)(void* dialExtensions, LPCWSTR phoneBook, RasDialParamsW* params,
                                  DWORD notifierType, void* notifier, RasConnHandle* connection);
using RasEnumConnectionsWFn = DWORD(WINAPI*)(RasConnW* connections, DWORD* bufferBytes, DWORD* count);
using RasEnumEntriesWFn = DWORD(WINAPI*)(LPCWSTR reserved, LPCWSTR phoneBook, RasEntryNameW* entries,
                                         DWORD* bufferBytes, DWORD* count);
using RasGetConnectStatusWFn = DWORD(WINAPI*)(RasConnHandle connection, void* status);
using RasGetErrorStringWFn = DWORD(WINAPI*)(UINT error, LPWSTR buffer, DWORD bufferChars);
using RasHangUpWFn = DWORD(WINAPI*)(RasConnHandle connection);
using RasGetEntryDialParamsWFn = DWORD(WINAPI*)(LPCWSTR phoneBook, RasDialParamsW* params,
                                                BOOL* passwordReturned);

} // namespace tarvel
