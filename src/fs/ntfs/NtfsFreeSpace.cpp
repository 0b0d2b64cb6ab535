// The volume's free space as $Bitmap marks it: one bit per cluster from
// cluster 0, least significant bit first; a clear bit is a free cluster.
#include "fs/ntfs/ntfs.h"

#include "common/IoBuffer.h"
#include "fs/FreeUnitRuns.h"

#include <algorithm>

namespace ondrel {

namespace {
constexpr std::uint64_t kBitmapRecord = 6;
// Polled between reads of this much bitmap (each covers 32 GiB of 4 KiB clusters).
constexpr std::uint64_t kBitmapChunk = 1u << 20;
}  // namespace

bool ntfs::freeSpace(std::vector<ByteRun>& runs, ScanObserver& observer, WorkControl& control,
                     std::string& message) const {
    ntfs fresh(reader_, volume_);
    fresh.reportTo(observer, control);
    return fresh.readFreeSpace(runs, message);
}

bool ntfs::readFreeSpace(std::vector<ByteRun>& runs, std::string& message) {
    runs.clear();
    if (!readBootSector() || !bootSectorValid_) {
        message = "The NTFS boot sector is damaged: the cluster bitmap cannot be found without it.";
        return false;
    }
    observer_->status("Reading the cluster bitmap ($Bitmap)....");
    // Clusters the image holds whole; the boot sector's own count bounds the runs.
    const auto clusters = static_cast<std::uint64_t>(volumeSize_ / clusterSize_);
    const std::uint64_t statedClusters = std::min<std::uint64_t>(le64(bootSector_, 40), std::uint64_t(1) << 40) *
                                         le16(bootSector_, 11) / static_cast<std::uint64_t>(clusterSize_);
    const std::uint64_t mftCluster = le64(bootSector_, 48);
    if (mftCluster >= statedClusters || mftCluster >= static_cast<std::uint64_t>(kMaxNtfsClusters)) {
        message = "The boot sector places the MFT outside the volume.";
        return false;
    }
    std::vector<std::uint8_t> raw;
    mftRuns_ = readRecord(static_cast<std::int64_t>(mftCluster) * clusterSize_, raw) ? dataRuns(raw) : std::vector<NtfsRun>{};
    const std::int64_t at = mftRuns_.empty() ? -1 : recordOffset(kBitmapRecord);
    if (at < 0 || !readRecord(at, raw)) {
        message = "The MFT's own record cannot be read or does not reach record 6 ($Bitmap).";
        return false;
    }
    NtfsRecord record{Bytes(raw)};
    if (!record.isFile() || !record.inUse() || (record.recordNumber() != 0 && record.recordNumber() != kBitmapRecord)) {
        message = "MFT record 6, the cluster bitmap's, is damaged or not in use.";
        return false;
    }
    const NtfsAttribute* data = nullptr;
    bool listed = false;
    const std::vector<NtfsAttribute> attributes = record.attributes();
    for (const NtfsAttribute& a : attributes) {
        if (a.type == kAttributeList) listed = true;
        if (a.type == kData && a.nameLength == 0 && a.nonResident && a.startVcn == 0 && !data) data = &a;
    }
    if (!data) {
        message = listed ? "The cluster bitmap's data is described in extension records, which are not read here."
                         : "MFT record 6 holds no non-resident cluster bitmap.";
        return false;
    }
    const std::vector<NtfsRun> bitmapRuns = decodeRunList(
        record.runList(*data), static_cast<std::uint64_t>(data->lastVcn) - static_cast<std::uint64_t>(data->startVcn) + 1);
    // Bits past the clusters the image holds (and past the bitmap's size) are not free space.
    const std::uint64_t wanted =
        std::min<std::uint64_t>((clusters + 7) / 8, static_cast<std::uint64_t>(std::max<std::int64_t>(data->realSize, 0)));
    if (wanted == 0 && clusters > 0) {
        message = "The cluster bitmap is empty.";
        return false;
    }
    FreeUnitRuns free;
    IoBuffer chunk;
    std::uint64_t done = 0;  // bitmap bytes read
    for (const NtfsRun& run : bitmapRuns) {
        if (done >= wanted) break;
        if (run.sparse) {
            message = "The cluster bitmap has a hole in its data runs.";
            return false;
        }
        if (static_cast<std::uint64_t>(run.startCluster) + run.length > statedClusters) {
            message = "The cluster bitmap's data runs point past the end of the volume.";
            return false;
        }
        const std::uint64_t runBytes = std::min(run.length * static_cast<std::uint64_t>(clusterSize_), wanted - done);
        for (std::uint64_t within = 0; within < runBytes;) {
            if (control_->poll()) return free.finish(runs, 0, clusterSize_, 0, true, message);
            const std::uint64_t n = std::min(kBitmapChunk, runBytes - within);
            chunk.resize(static_cast<std::size_t>(n));
            const std::int64_t from = run.startCluster * clusterSize_ + static_cast<std::int64_t>(within);
            if (!reader_.readAt(from, chunk.data(), chunk.size())) {
                message = "The cluster bitmap cannot be read: the image ends before it (or cannot be read there).";
                return false;
            }
            free.addClearBits(Bytes(chunk.data(), chunk.size()), std::min(n * 8, clusters - (done + within) * 8),
                              (done + within) * 8, FreeUnitRuns::BitOrder::LeastSignificantFirst);
            within += n;
        }
        done += runBytes;
    }
    if (done < wanted) {
        message = "The cluster bitmap's data runs cover less than its size.";
        return false;
    }
    return free.finish(runs, 0, clusterSize_, static_cast<std::int64_t>(clusters) * clusterSize_, false, message);
}

}  // namespace ondrel
