#pragma once
// exFAT time stamps: a DOS date and time, a 10 ms increment, and a UTC offset
// that says, when valid, in which zone the wall time was taken.
#include "platform/FileTimes.h"

#include <cstdint>
#include <optional>

namespace ondrel {

struct ExFatTime {
    CivilTime wall;                     // as stored, the 10 ms increment's whole seconds added
    std::optional<int> offsetMinutes;   // east of UTC; none: a local time of unknown zone
    // The instant: the wall time at its offset, or on this host's clock without one.
    UnixTime instant() const;
};

std::optional<ExFatTime> exfatTime(std::uint32_t stamp, std::uint8_t tenMs, std::uint8_t utcOffset);

}  // namespace ondrel
