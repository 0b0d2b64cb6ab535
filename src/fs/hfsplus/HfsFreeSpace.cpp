// The volume's free space as the allocation file marks it: one bit per
// allocation block from block 0, most significant bit first; a clear bit is a
// free block.
#include "fs/hfsplus/HFSP.h"

#include "fs/FreeUnitRuns.h"

#include <algorithm>

namespace ondrel {

namespace {
constexpr std::uint32_t kAllocationFileId = 6;
// Read (and polled) in pieces of this much bitmap.
constexpr std::uint64_t kBitmapChunk = 4ull << 20;
}  // namespace

bool HFSP::freeSpace(std::vector<ByteRun>& runs, ScanObserver& observer, WorkControl& control,
                     std::string& message) const {
    HFSP fresh(reader_, volume_);
    fresh.reportTo(observer, control);
    return fresh.readFreeSpace(runs, message);
}

bool HFSP::readFreeSpace(std::vector<ByteRun>& runs, std::string& message) {
    runs.clear();
    if (!readHeader(false, message)) return false;
    observer_->status("Reading the allocation file....");
    const HfsFork& fork = header_.allocationFile;
    if (fork.logicalSize == 0 || fork.totalBlocks == 0) {
        message = "The volume header names no allocation file.";
        return false;
    }
    std::vector<HfsExtent> extents;
    std::string problem;
    if (!overflow_.extents(kAllocationFileId, kHfsDataFork, fork, header_.totalBlocks, extents, problem)) {
        // Its eight extents do not hold it all: the rest are in the extents-overflow file.
        loadExtentsOverflow();
        if (!overflow_.extents(kAllocationFileId, kHfsDataFork, fork, header_.totalBlocks, extents, problem)) {
            message = "The allocation file cannot be found: " + problem + ".";
            return false;
        }
    }
    // Blocks the image holds (the header's count, bounded by the disk); bits
    // past them, or past the file, are not free space.
    const std::uint64_t blocks = std::min<std::uint64_t>(header_.totalBlocks, static_cast<std::uint64_t>(volumeBytes_) / header_.blockSize);
    const std::uint64_t wanted = std::min<std::uint64_t>((blocks + 7) / 8, fork.logicalSize);
    FreeUnitRuns free;
    std::vector<std::uint8_t> chunk;
    for (std::uint64_t done = 0; done < wanted;) {
        if (control_->poll()) return free.finish(runs, 0, 1, 0, true, message);
        const std::uint64_t n = std::min(kBitmapChunk, wanted - done);
        chunk.resize(static_cast<std::size_t>(n));
        if (!readFork(extents, done, chunk.data(), chunk.size())) {
            message = "The allocation file cannot be read: the image ends before it (or cannot be read there).";
            return false;
        }
        free.addClearBits(Bytes(chunk), std::min(n * 8, blocks - done * 8), done * 8, FreeUnitRuns::BitOrder::MostSignificantFirst);
        done += n;
    }
    return free.finish(runs, 0, header_.blockSize, static_cast<std::int64_t>(blocks * header_.blockSize), false, message);
}

}  // namespace ondrel
