#include "volumes/VolumeRecord.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace ondrel {

bool isUnknownFileSystem(const VolumeRecord& record) {
    std::string folded;
    for (char c : record.fileSystem)
        if (c != ' ') folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded == "unknown";
}

std::int64_t diskBytesFrom(const readWriteInterface& reader, std::int64_t sector) {
    auto disk = static_cast<std::int64_t>(std::min<std::uint64_t>(reader.sectorCount(), std::uint64_t(1) << 53));
    if (sector < 0 || sector >= disk) return 0;
    return (disk - sector) * 512;
}

std::int64_t volumeBytesOnDisk(const VolumeRecord& volume, const readWriteInterface& reader) {
    std::int64_t onDisk = diskBytesFrom(reader, volume.startSector);
    std::int64_t mb = sizeMegabytes(volume.sizeText);
    return mb >= (onDisk >> 20) + 1 ? onDisk : std::min(onDisk, mb << 20);
}

std::int64_t sizeMegabytes(const std::string& sizeText) {
    std::size_t i = 0;
    while (i < sizeText.size() && sizeText[i] == ' ') ++i;
    std::int64_t value = 0;
    for (; i < sizeText.size() && std::isdigit(static_cast<unsigned char>(sizeText[i])); ++i) {
        if (value > (std::numeric_limits<std::int64_t>::max() - 9) / 10) break;
        value = value * 10 + (sizeText[i] - '0');
    }
    return value;
}

}  // namespace ondrel
