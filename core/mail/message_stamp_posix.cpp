// The stamp's inputs from the C library where there is no Windows: localtime_r and its zone offset.
#include "core/mail/message_stamp.h"

#include <atomic>
#include <ctime>
#include <random>

namespace tarvel {

StampInputs SystemStampInputs() {
    static std::atomic<std::uint32_t> sequence{0};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    StampInputs in;
    in.year = local.tm_year + 1900;
    in.month = local.tm_mon + 1;
    in.day = local.tm_mday;
    in.weekday = local.tm_wday;
    in.hour = local.tm_hour;
    in.minute = local.tm_min;
    in.second = local.tm_sec;
    in.utcOffsetMinutes = static_cast<int>(local.tm_gmtoff / 60);
    in.sequence = ++sequence;
    std::random_device device;
    in.random = static_cast<std::uint64_t>(device()) << 32 | device();
    return in;
}

} // namespace tarvel
