#include "platform/FileTimes.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

namespace ondrel {

namespace {
constexpr std::int64_t kFileTimeToUnix = 116444736000000000LL;  // 1601 -> 1970 in 100 ns

CivilTime fromTm(const std::tm& tm) {
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// Days from 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's algorithm).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

CivilTime civilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d), 0, 0, 0};
}
// Without TZ, the C library looks at /etc/localtime again for every
// conversion; naming it once makes a listing of many files cheap.
void settleTimeZone() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!std::getenv("TZ")) ::setenv("TZ", ":/etc/localtime", 0);
        ::tzset();
    });
}
}  // namespace

UnixTime fromFileTime(std::uint64_t fileTime) {
    std::int64_t t = static_cast<std::int64_t>(fileTime) - kFileTimeToUnix;
    std::int64_t sec = t / 10000000;
    std::int64_t frac = t % 10000000;
    if (frac < 0) {
        frac += 10000000;
        --sec;
    }
    return {sec, static_cast<std::uint32_t>(frac)};
}

std::int64_t utcCivilToUnix(const CivilTime& c) {
    return daysFromCivil(c.year, static_cast<unsigned>(c.month), static_cast<unsigned>(c.day)) * 86400 +
           c.hour * 3600 + c.minute * 60 + c.second;
}

CivilTime toUtcCivil(std::int64_t s) {
    std::int64_t days = s / 86400, rem = s % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    CivilTime c = civilFromDays(days);
    c.hour = static_cast<int>(rem / 3600);
    c.minute = static_cast<int>(rem % 3600 / 60);
    c.second = static_cast<int>(rem % 60);
    return c;
}

CivilTime toLocalCivil(std::int64_t unixSeconds) {
    settleTimeZone();
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return toUtcCivil(unixSeconds);
    return fromTm(tm);
}

std::int64_t localCivilToUnix(const CivilTime& c) {
    settleTimeZone();
    std::tm tm{};
    tm.tm_year = c.year - 1900;
    tm.tm_mon = c.month - 1;
    tm.tm_mday = c.day;
    tm.tm_hour = c.hour;
    tm.tm_min = c.minute;
    tm.tm_sec = c.second;
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1))
        return daysFromCivil(c.year, static_cast<unsigned>(c.month), static_cast<unsigned>(c.day)) * 86400 +
               c.hour * 3600 + c.minute * 60 + c.second;
    return static_cast<std::int64_t>(t);
}

std::string isoText(const CivilTime& t, bool utc) {
    // Listings print three of these per entry: digits by hand, not printf.
    if (t.year < 0 || t.year > 9999 || t.month < 0 || t.month > 99 || t.day < 0 || t.day > 99 || t.hour < 0 ||
        t.hour > 99 || t.minute < 0 || t.minute > 99 || t.second < 0 || t.second > 99) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%s", t.year, t.month, t.day, t.hour, t.minute,
                      t.second, utc ? "Z" : "");
        return buf;
    }
    char buf[21] = "0000-00-00T00:00:00Z";
    auto two = [&](int at, int v) {
        buf[at] = static_cast<char>('0' + v / 10);
        buf[at + 1] = static_cast<char>('0' + v % 10);
    };
    two(0, t.year / 100);
    two(2, t.year % 100);
    two(5, t.month);
    two(8, t.day);
    two(11, t.hour);
    two(14, t.minute);
    two(17, t.second);
    return std::string(buf, utc ? 20 : 19);
}

bool setFileTimes(const std::string& path, std::optional<UnixTime> access, std::optional<UnixTime> modification) {
    struct timespec ts[2];
    auto fill = [](struct timespec& out, const std::optional<UnixTime>& in) {
        if (!in) {
            out.tv_sec = 0;
            out.tv_nsec = UTIME_OMIT;
            return;
        }
        out.tv_sec = static_cast<time_t>(in->seconds);
        out.tv_nsec = static_cast<long>(in->hundredNanos) * 100;
    };
    fill(ts[0], access);
    fill(ts[1], modification);
    return ::utimensat(AT_FDCWD, path.c_str(), ts, 0) == 0;
}

}  // namespace ondrel
