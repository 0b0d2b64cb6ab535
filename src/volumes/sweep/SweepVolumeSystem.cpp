#include "volumes/sweep/SweepVolumeSystem.h"

#include "volumes/SectorSweep.h"
#include "volumes/TableSector.h"
#include "volumes/VolumeRecord.h"

#include <algorithm>
#include <cstdio>

namespace ondrel {

namespace {
// Tests one sector; returns the bytes to jump from it (0: none).
std::int64_t testSector(const std::uint8_t* sector, std::int64_t position, std::int64_t sourceBytes, DiscoveryContext& c) {
    const Bytes s(sector, 512);
    // The jump leads to the sector right after the volume.
    auto jump = [&](std::int64_t bytes) { return c.skipVolumeSize ? std::max<std::int64_t>(bytes / 512 * 512, 0) : 0; };
    for (std::uint32_t at : {0u, 1024u}) {
        if (at > 0 && position < at) return 0;
        // The first probe that passes decides (every sector is tested: no allocation here).
        FileSystemClaim claim;
        for (const FileSystemProbe& p : c.probes) {
            std::int64_t size = 0;
            if (p.at == at && p.test && p.test(s, false, size)) {
                claim = {&p, size};
                break;
            }
        }
        if (!claim.probe) continue;
        const std::string& fs = claim.probe->name;
        if (!claim.probe->listed) {
            c.observer.status("found unknown...");
            return 0;
        }
        std::int64_t mb = bytesToMegabytes(claim.sizeBytes);
        bool fat = fs == "FAT16" || fs == "FAT32" || fs == "FAT64";
        if (fat)
            c.observer.status(fs == "FAT16" ? "found FAT 16..." : fs == "FAT32" ? "found FAT 32..." : "found FAT 64...");
        if (mb < 1 || (claim.probe->largestMegabytes > 0 && mb >= claim.probe->largestMegabytes)) return 0;
        if (fs == "NTFS") c.observer.status(listText("found NTFS %d...", ++c.ntfsCount));
        else if (!fat) c.observer.status("found " + fs + "...");
        std::int64_t start = position - at;
        ListedVolume v;
        v.fileSystem = fs;
        v.sizeText = listText(fs == "NTFS" ? "%d   MB" : "%lld  MB", mb);
        v.startByte = start;
        v.lengthBytes = std::min<std::int64_t>(claim.volumeBytes(), std::max<std::int64_t>(sourceBytes - start, 0));
        v.listedBy = "sweep";
        c.report(std::move(v));
        return jump(start + claim.volumeBytes() - position);
    }
    return 0;
}
}  // namespace

void SweepVolumeSystem::list(const ByteSource& source, DiscoveryContext& c) const {
    c.observer.status("Scanning partition.....");
    SweepOptions o;
    o.begin = c.customStartSector > 0 ? c.customStartSector * 512 : 0;
    o.end = source.size();
    // The user's "Ending Sector" is tested a whole chunk at a time.
    if (c.customEndSector > 0) o.lastChunkStart = c.customEndSector * 512;
    o.readFailureEnds = true;
    const std::int64_t sourceBytes = source.size();
    SweepOutcome outcome = sweepRange(source, o, c.observer, c.control, [&](const std::uint8_t* sector, std::int64_t position) {
        return testSector(sector, position, sourceBytes, c);
    });
    if (outcome.stopped || outcome.readFailed) c.observer.status("Scanned Partitions");
}

const VolumeSystem& sweepVolumeSystem() {
    static const SweepVolumeSystem system;
    return system;
}

}  // namespace ondrel
