#include "volumes/VolumeRecord.h"

#include "volumes/ByteWindow.h"

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

VolumeRecord customVolume(std::shared_ptr<const ByteSource> disk, const std::string& fileSystem, std::int64_t startSector,
                          std::int64_t lengthBytes) {
    VolumeRecord r;
    r.fileSystem = fileSystem;
    r.volumeName = "0";
    r.startSector = std::max<std::int64_t>(startSector, 0);
    std::int64_t start = r.startSector > kMaxDiskBytes / 512 ? kMaxDiskBytes : r.startSector * 512;
    r.source = windowOver(std::move(disk), start, lengthBytes);
    r.startByte = start;
    r.lengthBytes = r.source->size();
    r.sizeText = std::to_string(bytesToMegabytes(r.lengthBytes));
    r.listedBy = "custom";
    return r;
}

std::string claimConflict(const VolumeRecord& record) {
    if (record.claims.size() < 2) return {};
    std::string names;
    for (std::size_t i = 0; i < record.claims.size(); ++i)
        names += (i == 0 ? "" : i + 1 == record.claims.size() ? " and " : ", ") + record.claims[i];
    return "Volume " + record.volumeName + " is recognised as " + names + "; it is listed as " + record.fileSystem +
           ". Choose the file system to read it as if that is wrong.";
}

}  // namespace ondrel
