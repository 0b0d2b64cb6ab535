#include "fs/DisplayFormat.h"

#include <cstdio>
#include <utility>

namespace ondrel {

std::string formatSize(std::uint64_t bytes) {
    char buf[64];
    double s = static_cast<double>(bytes);
    if (s / 1073741824.0 >= 1) std::snprintf(buf, sizeof buf, "%.2f GB", s / 1073741824.0);
    else if (s / 1048576.0 >= 1) std::snprintf(buf, sizeof buf, "%.2f MB", s / 1048576.0);
    else if (s / 1024.0 >= 1) std::snprintf(buf, sizeof buf, "%.2f KB", s / 1024.0);
    else std::snprintf(buf, sizeof buf, "%lld Bytes", static_cast<long long>(bytes));
    return buf;
}

std::string formatTime(const CivilTime& t) {
    char buf[64];
    bool pm = t.hour > 12;
    std::snprintf(buf, sizeof buf, "%02d/%02d/%d  %02d:%02d %s", t.month, t.day, t.year, pm ? t.hour - 12 : t.hour,
                  t.minute, pm ? "PM" : "AM");
    return buf;
}

std::string formatDateOnly(const CivilTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%d ", t.month, t.day, t.year);
    return buf;
}

std::string unixPermissionText(std::uint16_t mode) {
    static const std::pair<std::uint16_t, const char*> bits[] = {
        {0x001, "-OE"}, {0x002, "-OW"}, {0x004, "-OR"}, {0x008, "-GE"}, {0x010, "-GW"},
        {0x020, "-GR"}, {0x040, "-UE"}, {0x080, "-UW"}, {0x100, "-UR"}};
    std::string out;
    for (const auto& [bit, text] : bits)
        if (mode & bit) out += text;
    return out;
}

}  // namespace ondrel
