// The volume's free space as the allocation bitmap marks it: bit n (least
// significant first) stands for cluster n + 2 of the cluster heap; a clear bit
// is a free cluster.
#include "fs/exfat/Fat64Class.h"

#include "fs/FreeUnitRuns.h"

#include <algorithm>
#include <unordered_set>

namespace ondrel {

namespace {
// exFAT caps a folder at 256 MiB; the search for the entry stops there.
constexpr std::uint64_t kMaxRootBytes = 256ull << 20;
// Bitmap read (and polled) in pieces of at most this much.
constexpr std::uint64_t kBitmapChunk = 4ull << 20;
}  // namespace

bool Fat64Class::freeSpace(std::vector<ByteRun>& runs, ScanObserver& observer, WorkControl& control,
                           std::string& message) const {
    Fat64Class fresh(reader_, volume_);
    fresh.reportTo(observer, control);
    return fresh.readFreeSpace(runs, message);
}

bool Fat64Class::findBitmapEntry(ExFatBitmapEntry& out, std::string& message) {
    const std::uint64_t cb = geometry_.clusterBytes();
    std::vector<std::uint8_t> cluster(static_cast<std::size_t>(cb));
    std::unordered_set<std::uint32_t> seen;
    bool ended = false;
    for (std::uint32_t c = geometry_.rootCluster;
         !ended && geometry_.validCluster(c) && seen.size() * cb < kMaxRootBytes; c = nextCluster(c)) {
        // A looping chain is followed once round.
        if (!seen.insert(c).second || control_->poll()) break;
        if (!reader_.readAt(geometry_.clusterOffset(c), cluster.data(), cluster.size())) {
            message = "The root folder cannot be read: the image ends before it (or cannot be read there).";
            return false;
        }
        for (std::size_t at = 0; !ended && at + 32 <= cluster.size(); at += 32) {
            if (decodeBitmapEntry(cluster.data() + at, out)) return true;
            ended = cluster[at] == 0x00;  // the folder's end
        }
    }
    message = control_->stopRequested() ? "The reading of the free space was stopped."
                                        : "The root folder holds no allocation bitmap entry.";
    return false;
}

bool Fat64Class::readFreeSpace(std::vector<ByteRun>& runs, std::string& message) {
    runs.clear();
    std::string reason;
    if (!checkBootSector(reason)) {
        message = "The exFAT boot sector cannot be used (" + reason + "): the allocation bitmap cannot be found without it.";
        return false;
    }
    observer_->status("Reading the allocation bitmap....");
    ExFatBitmapEntry bitmap;
    if (!findBitmapEntry(bitmap, message)) return false;
    const std::uint64_t cb = geometry_.clusterBytes();
    // The clusters the volume holds (bounded by the image and the FAT); bits past them are not free space.
    const std::uint64_t clusters = geometry_.clusterCount;
    const std::uint64_t wanted = (clusters + 7) / 8;
    if (!geometry_.validCluster(bitmap.firstCluster)) {
        message = "The allocation bitmap's first cluster (" + std::to_string(bitmap.firstCluster) +
                  ") lies outside the cluster heap.";
        return false;
    }
    if (bitmap.length < wanted) {
        message = "The allocation bitmap (" + std::to_string(bitmap.length) + " bytes) is smaller than the " +
                  std::to_string(wanted) + " bytes the cluster heap needs.";
        return false;
    }
    // The bitmap's clusters follow its FAT chain; one without FAT entries lies in one run.
    auto after = [&](std::uint32_t c) {
        std::uint32_t n = nextCluster(c);
        return n != 0 ? n : c + 1;
    };
    FreeUnitRuns free;
    std::vector<std::uint8_t> buffer;
    std::uint64_t done = 0;  // bitmap bytes read
    for (std::uint32_t c = bitmap.firstCluster; done < wanted;) {
        if (control_->poll()) return free.finish(runs, 0, 1, 0, true, message);
        if (!geometry_.validCluster(c)) {
            message = "The allocation bitmap's clusters run out of the cluster heap.";
            return false;
        }
        // Consecutive clusters are read at once.
        const std::uint64_t need = std::min(wanted - done, std::max(kBitmapChunk, cb));
        const std::uint32_t first = c;
        std::uint64_t count = 1;
        while (count * cb < need && after(c) == c + 1 && geometry_.validCluster(c + 1)) {
            ++c;
            ++count;
        }
        const std::uint64_t bytes = std::min(count * cb, need);
        buffer.resize(static_cast<std::size_t>(bytes));
        if (!reader_.readAt(geometry_.clusterOffset(first), buffer.data(), buffer.size())) {
            message = "The allocation bitmap cannot be read: the image ends before it (or cannot be read there).";
            return false;
        }
        free.addClearBits(Bytes(buffer), std::min(bytes * 8, clusters - done * 8), done * 8,
                          FreeUnitRuns::BitOrder::LeastSignificantFirst);
        done += bytes;
        c = after(c);
    }
    const std::int64_t heapEnd = geometry_.heapOffset + static_cast<std::int64_t>(clusters * cb);
    return free.finish(runs, geometry_.heapOffset, static_cast<std::int64_t>(cb), heapEnd, false, message);
}

}  // namespace ondrel
