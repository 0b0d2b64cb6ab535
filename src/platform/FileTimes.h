#pragma once
// Time stamps of files we write, and conversions between the clocks that file
// systems store (UTC or local wall time) and the host's.
#include <cstdint>
#include <optional>
#include <string>

namespace ondrel {

// A calendar date and time with no zone attached.
struct CivilTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

// Seconds since 1970-01-01 UTC, with a fraction in 100 ns units.
struct UnixTime {
    std::int64_t seconds = 0;
    std::uint32_t hundredNanos = 0;
};

// NTFS FILETIME (100 ns units since 1601-01-01 UTC).
UnixTime fromFileTime(std::uint64_t fileTime);

// The host's local wall time of a UTC instant.
CivilTime toLocalCivil(std::int64_t unixSeconds);
// The UTC calendar time of an instant.
CivilTime toUtcCivil(std::int64_t unixSeconds);
// The instant of a UTC calendar time.
std::int64_t utcCivilToUnix(const CivilTime& utc);
// The instant at which the host's clock shows that local wall time.
std::int64_t localCivilToUnix(const CivilTime& local);

// "2024-03-05T14:07:09Z" (utc) or "2024-03-05T14:07:09" (a stored local time).
std::string isoText(const CivilTime& t, bool utc);

// Sets a written file's access and modification times. Creation times cannot
// be set on Linux; they are left as the system made them.
bool setFileTimes(const std::string& path, std::optional<UnixTime> access, std::optional<UnixTime> modification);

}  // namespace ondrel
