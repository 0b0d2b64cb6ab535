#include "diskimage/readWriteInterface.h"

#include "diskimage/ReaderState.h"

#include <algorithm>
#include <cstring>

namespace ondrel {

bool readWriteInterface::read(void*, std::uint32_t) { return true; }

bool readWriteInterface::seek(std::int64_t, int) { return true; }

bool readWriteInterface::readAt(std::int64_t offset, void* buffer, std::uint32_t byteCount) {
    if (!seek(offset, 0)) {
        std::memset(buffer, 0, byteCount);
        return false;
    }
    return read(buffer, byteCount);
}

void readWriteInterface::setSectorCount(std::uint64_t sectors) {
    sectors = std::min<std::uint64_t>(sectors, static_cast<std::uint64_t>(kMaxDiskBytes / kSectorSize));
    sectorCount_ = sectors;
    g_totalSectors = sectors;
}

}  // namespace ondrel
