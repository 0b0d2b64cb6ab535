#include "diskimage/readWriteInterface.h"

#include <algorithm>

namespace ondrel {

void readWriteInterface::setSectorCount(std::uint64_t sectors) {
    sectorCount_ = std::min<std::uint64_t>(sectors, static_cast<std::uint64_t>(kMaxDiskBytes / kSectorSize));
}

}  // namespace ondrel
