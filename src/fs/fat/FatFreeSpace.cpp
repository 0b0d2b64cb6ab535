// The volume's free space as the first FAT marks it: a cluster whose entry is
// 0 is free. Cluster 2 starts the data region; the reserved sectors, the FATs
// and the FAT16 root folder before it are never free.
#include "fs/fat/FatParser.h"

#include "fs/FreeUnitRuns.h"

#include <algorithm>

namespace ondrel {

namespace {
// Polled once per this many entries (4 MiB of a FAT32 table).
constexpr std::uint32_t kPollEntries = 1u << 20;
}  // namespace

bool FatParser::freeSpace(std::vector<ByteRun>& runs, ScanObserver& observer, WorkControl& control,
                          std::string& message) const {
    FatParser fresh(reader_, volume_, geometry_.fat32);
    fresh.reportTo(observer, control);
    return fresh.readFreeSpace(runs, message);
}

bool FatParser::readFreeSpace(std::vector<ByteRun>& runs, std::string& message) {
    runs.clear();
    if (!checkBootSector()) {
        message = std::string("The boot sector is not a sane ") + (geometry_.fat32 ? "FAT32" : "FAT16") +
                  " boot sector: the FAT cannot be found without it.";
        return false;
    }
    observer_->status("Reading the free clusters of the FAT....");
    // Bounded by the data sectors and by the entries the FAT holds.
    const std::uint32_t limit = geometry_.clusterLimit();
    FreeUnitRuns free;
    for (std::uint32_t c = 2; c < limit; ++c) {
        if (c % kPollEntries == 0 && control_->poll()) return free.finish(runs, 0, 1, 0, true, message);
        if (fatEntry(c) == 0) free.addFree(c - 2, 1);
    }
    const std::int64_t volumeEnd =
        std::min<std::int64_t>(reader_.size(), static_cast<std::int64_t>(geometry_.totalSectors * geometry_.bytesPerSector));
    if (!free.finish(runs, geometry_.dataOffset(), static_cast<std::int64_t>(geometry_.clusterBytes()), volumeEnd, false,
                     message))
        return false;
    // The sectors past the last whole cluster belong to no file either (an
    // earlier, larger volume's files may lie there).
    const std::int64_t tail =
        geometry_.dataOffset() + static_cast<std::int64_t>(limit - 2) * static_cast<std::int64_t>(geometry_.clusterBytes());
    if (tail < volumeEnd) {
        if (!runs.empty() && runs.back().offset + runs.back().length >= tail)
            runs.back().length = volumeEnd - runs.back().offset;
        else
            runs.push_back({tail, volumeEnd - tail});
    }
    return true;
}

}  // namespace ondrel
