#include "fs/exfat/ExFatTimes.h"

#include "fs/DosTime.h"

namespace ondrel {

std::optional<ExFatTime> exfatTime(std::uint32_t stamp, std::uint8_t tenMs, std::uint8_t utcOffset) {
    auto wall = dosTime(static_cast<std::uint16_t>(stamp >> 16), static_cast<std::uint16_t>(stamp & 0xFFFF));
    if (!wall) return std::nullopt;
    ExFatTime t{*wall, std::nullopt};
    // The increment adds up to 1.99 s to the two-second units; whole seconds only.
    if (tenMs >= 100 && tenMs < 200 && t.wall.second < 59) t.wall.second += 1;
    if (utcOffset & 0x80) {
        // Seven-bit two's complement, in 15-minute units.
        int quarters = utcOffset & 0x7F;
        if (quarters & 0x40) quarters -= 0x80;
        t.offsetMinutes = quarters * 15;
    }
    return t;
}

UnixTime ExFatTime::instant() const {
    if (offsetMinutes) return UnixTime{utcCivilToUnix(wall) - static_cast<std::int64_t>(*offsetMinutes) * 60, 0};
    return UnixTime{localCivilToUnix(wall), 0};
}

}  // namespace ondrel
