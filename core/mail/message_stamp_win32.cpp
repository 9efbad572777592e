// The stamp's inputs from Windows: the local time, the zone's bias as it stands today, and rand_s
// (RtlGenRandom underneath).
#define _CRT_RAND_S
#include "core/mail/message_stamp.h"

#include <atomic>
#include <cstdlib>

#include <windows.h>

namespace tarvel {

StampInputs SystemStampInputs() {
    static std::atomic<std::uint32_t> sequence{0};
    SYSTEMTIME local{};
    GetLocalTime(&local);
    TIME_ZONE_INFORMATION zone{};
    const DWORD which = GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias;
    if (which == TIME_ZONE_ID_DAYLIGHT)
        bias += zone.DaylightBias;
    else if (which == TIME_ZONE_ID_STANDARD)
        bias += zone.StandardBias;
    StampInputs in;
    in.year = local.wYear;
    in.month = local.wMonth;
    in.day = local.wDay;
    in.weekday = local.wDayOfWeek;
    in.hour = local.wHour;
    in.minute = local.wMinute;
    in.second = local.wSecond;
    // Bias is UTC less local time.
    in.utcOffsetMinutes = which == TIME_ZONE_ID_INVALID ? 0 : -static_cast<int>(bias);
    in.sequence = ++sequence;
    unsigned high = 0, low = 0;
    if (rand_s(&high) != 0 || rand_s(&low) != 0) {
        // Never the same id twice in one process even so: the tick count and the sequence differ.
        high = GetTickCount();
        low = GetCurrentProcessId();
    }
    in.random = static_cast<std::uint64_t>(high) << 32 | low;
    return in;
}

} // namespace tarvel
