#include "volumes/sweep/SweepVolumeSystem.h"

#include "volumes/SectorSweep.h"
#include "volumes/TableSector.h"
#include "volumes/VolumeRecord.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace ondrel {

namespace {
// The probes of one group (boot sectors, or the structures 1024 bytes in),
// with a table of the lead bytes that let a sector reach a probe's test.
struct ProbeGroup {
    std::uint32_t at = 0;
    std::vector<const FileSystemProbe*> probes;
    // lead[offset][byte]: some probe of the group wants that byte there.
    std::vector<std::pair<std::uint16_t, std::array<bool, 256>>> leads;
    bool unfiltered = false;  // a probe without a lead byte: every sector is tested

    bool mayMatch(const std::uint8_t* sector) const {
        if (unfiltered) return true;
        for (const auto& [offset, bytes] : leads)
            if (bytes[sector[offset]]) return true;
        return false;
    }
};

std::vector<ProbeGroup> groupsOf(const std::vector<FileSystemProbe>& probes) {
    std::vector<ProbeGroup> groups{{0, {}, {}, false}, {1024, {}, {}, false}};
    for (const FileSystemProbe& p : probes) {
        if (!p.test || (p.at != 0 && p.at != 1024) || p.leadOffset >= 512) continue;
        ProbeGroup& g = groups[p.at == 0 ? 0 : 1];
        g.probes.push_back(&p);
        if (p.leadBytes.empty()) {
            g.unfiltered = true;
            continue;
        }
        auto it = std::find_if(g.leads.begin(), g.leads.end(), [&](const auto& l) { return l.first == p.leadOffset; });
        if (it == g.leads.end()) it = g.leads.insert(g.leads.end(), {p.leadOffset, {}});
        for (std::uint8_t b : p.leadBytes) it->second[b] = true;
    }
    return groups;
}

// Tests one sector; returns the bytes to jump from it (0: none).
std::int64_t testSector(const std::uint8_t* sector, std::int64_t position, std::int64_t sourceBytes,
                        const std::vector<ProbeGroup>& groups, DiscoveryContext& c) {
    const Bytes s(sector, 512);
    // The jump leads to the sector right after the volume.
    auto jump = [&](std::int64_t bytes) { return c.skipVolumeSize ? std::max<std::int64_t>(bytes / 512 * 512, 0) : 0; };
    for (const ProbeGroup& group : groups) {
        const std::uint32_t at = group.at;
        if (at > 0 && position < at) return 0;
        if (!group.mayMatch(sector)) continue;
        // The first probe that passes decides.
        FileSystemClaim claim;
        for (const FileSystemProbe* p : group.probes) {
            std::int64_t size = 0;
            if (!p->leadBytes.empty() &&
                std::find(p->leadBytes.begin(), p->leadBytes.end(), sector[p->leadOffset]) == p->leadBytes.end())
                continue;
            if (p->test(s, false, size)) {
                claim = {p, size};
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
    const std::vector<ProbeGroup> groups = groupsOf(c.probes);
    SweepOutcome outcome = sweepRange(source, o, c.observer, c.control, [&](const std::uint8_t* sector, std::int64_t position) {
        return testSector(sector, position, sourceBytes, groups, c);
    });
    if (outcome.stopped || outcome.readFailed) c.observer.status("Scanned Partitions");
}

const VolumeSystem& sweepVolumeSystem() {
    static const SweepVolumeSystem system;
    return system;
}

}  // namespace ondrel
