#pragma once
// DOS dates and times, as FAT and exFAT store them.
#include "platform/FileTimes.h"

#include <cstdint>
#include <optional>

namespace ondrel {

// Day bits 0-4, month 5-8, year 9-15 from 1980; two-second units 0-4, minute
// 5-10, hour 11-15. Nothing when the date is not a date; a time that is not a
// time reads as midnight.
std::optional<CivilTime> dosTime(std::uint16_t date, std::uint16_t time);

// The instant a local wall time stands for on this host.
std::optional<UnixTime> localInstant(const std::optional<CivilTime>& local);

}  // namespace ondrel
