#include "fs/DosTime.h"

namespace ondrel {

std::optional<CivilTime> dosTime(std::uint16_t date, std::uint16_t time) {
    int day = date & 0x1F, month = (date >> 5) & 0x0F;
    if (day == 0 || month == 0 || month > 12) return std::nullopt;
    CivilTime t{1980 + (date >> 9), month, day, (time >> 11) & 0x1F, (time >> 5) & 0x3F, (time & 0x1F) * 2};
    if (t.hour > 23 || t.minute > 59 || t.second > 59) t.hour = t.minute = t.second = 0;
    return t;
}

std::optional<UnixTime> localInstant(const std::optional<CivilTime>& local) {
    if (!local) return std::nullopt;
    return UnixTime{localCivilToUnix(*local), 0};
}

}  // namespace ondrel
