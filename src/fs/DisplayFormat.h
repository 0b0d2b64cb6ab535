#pragma once
// The display texts of the results list: sizes and times as the user sees them.
#include "platform/FileTimes.h"

#include <cstdint>
#include <string>

namespace ondrel {

// "1.50 KB", "2.00 MB", "700 Bytes", ...
std::string formatSize(std::uint64_t bytes);

// "03/05/2024  02:07 PM": month/day/year, two blanks, 12-hour clock. Hours 0
// to 12 print unchanged with AM, 13 to 23 minus 12 with PM.
std::string formatTime(const CivilTime& t);

// Date only, as the FAT access time: "03/05/2024 ".
std::string formatDateOnly(const CivilTime& t);

// The attribute letters of Unix permission bits (ext, XFS): "-OE-OW-OR" for
// others, then group and user, each letter pair only where its bit is set.
std::string unixPermissionText(std::uint16_t mode);

}  // namespace ondrel
