#include "volumes/mbr/MbrVolumeSystem.h"

#include "common/Endian.h"
#include "volumes/TableSector.h"
#include "volumes/VolumeRecord.h"

#include <array>
#include <cstdio>
#include <set>

namespace ondrel {

namespace {
constexpr int kMaxLogicalVolumes = 1024;

bool isExtended(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

// The status shown when a boot record at a volume's start is recognised.
std::string foundStatus(const std::string& fs, DiscoveryContext& c) {
    if (fs == "NTFS") return listText("found NTFS %d...", ++c.ntfsCount);
    if (fs == "FAT64") return "found FAT64...";
    if (fs == "FAT16") return "found FAT 16...";
    if (fs == "FAT32") return "found FAT 32...";
    return "found " + fs + "...";
}
}  // namespace

bool MbrVolumeSystem::recognises(const ByteSource& source, const std::vector<FileSystemProbe>& probes) const {
    TableSector mbr{};
    if (!readTableSector(source, 0, mbr) || le16(mbr, 0x1FE) != 0xAA55) return false;
    // A file system's boot record carries the same mark: it is no table.
    auto sectorAt = [&](std::uint32_t) { return Bytes(mbr); };
    if (!claimsOf(probes, sectorAt, false, 0).empty()) return false;
    std::uint64_t sectors = static_cast<std::uint64_t>(source.size()) / 512;
    int used = 0;
    for (int slot = 0; slot < 4; ++slot) {
        Bytes e(mbr.data() + 0x1BE + slot * 16, 16);
        std::uint8_t status = le8(e, 0), type = le8(e, 4);
        std::uint64_t lba = le32(e, 8), count = le32(e, 12);
        if (type == 0 && lba == 0 && count == 0) continue;
        // A protective entry belongs to a GPT; every entry must fit the source.
        if ((status != 0 && status != 0x80) || type == 0 || type == 0xEE || lba == 0 || count == 0 || lba + count > sectors)
            return false;
        ++used;
    }
    return used > 0;
}

void MbrVolumeSystem::list(const ByteSource& source, DiscoveryContext& c) const {
    TableSector mbr{};
    if (!readTableSector(source, 0, mbr)) return;
    if (c.topLevel && bareVolumeAtStart(source, c, false)) return;
    bool listed = false;
    auto forward = c.report;
    c.report = [&](ListedVolume v) {
        listed = true;
        forward(std::move(v));
    };
    // Every slot is examined: an empty slot or an extended one does not hide
    // the primary partitions in the slots after it.
    for (int slot = 0; slot < 4; ++slot) {
        Bytes e(mbr.data() + 0x1BE + slot * 16, 16);
        std::uint8_t type = le8(e, 4);
        std::uint32_t lba = le32(e, 8);
        std::uint32_t sectors = le32(e, 12);
        if (type == 0) continue;
        if (isExtended(type)) scanExtendedChain(source, c, lba);
        else addRecord(source, c, type, lba, sectors, false);
    }
    c.report = forward;
    if (!listed && c.topLevel) bareVolumeAtStart(source, c, true);
}

// Boot sectors are tested first; the structures 1024 bytes in (HFS+, ext) only
// when no partition table was found.
bool MbrVolumeSystem::bareVolumeAtStart(const ByteSource& source, DiscoveryContext& c, bool superblocks) const {
    std::array<std::uint8_t, 1536> head{};
    source.readAt(0, head.data(), head.size());
    auto sectorAt = [&](std::uint32_t at) { return Bytes(head.data() + at, 512); };
    std::vector<FileSystemClaim> claims = claimsOf(c.probes, sectorAt, false, 0);
    if (claims.empty() && superblocks) claims = claimsOf(c.probes, sectorAt, false, 1024);
    for (const FileSystemClaim& claim : claims) {
        if (!claim.probe->listed) continue;
        c.observer.status(foundStatus(claim.probe->name, c));
        // The volume is the disk itself, whatever its structure states.
        ListedVolume v;
        v.fileSystem = claim.probe->name;
        v.sizeText = listText("%lld   MB", bytesToMegabytes(claim.sizeBytes));
        v.startByte = 0;
        v.lengthBytes = source.size();
        v.listedBy = "disk";
        c.report(std::move(v));
        return true;
    }
    return false;
}

void MbrVolumeSystem::scanExtendedChain(const ByteSource& source, DiscoveryContext& c, std::uint32_t extBase) const {
    std::uint64_t ebrRel = 0;
    std::set<std::uint64_t> visited;  // a chain that loops back ends there
    for (int pass = 0; pass < kMaxLogicalVolumes; ++pass) {
        std::uint64_t ebr = static_cast<std::uint64_t>(extBase) + ebrRel;
        if (!visited.insert(ebr).second) return;
        TableSector rec{};
        if (!readTableSector(source, ebr, rec)) return;
        bool next = false;
        for (int slot = 0; slot < 4 && !next; ++slot) {
            Bytes e(rec.data() + 0x1BE + slot * 16, 16);
            std::uint8_t type = le8(e, 4);
            if (type == 0) return;
            if (isExtended(type)) {
                ebrRel = le32(e, 8);
                next = true;
            } else {
                addRecord(source, c, type, ebr + le32(e, 8), le32(e, 12), true);
            }
        }
        if (!next) return;
    }
}

void MbrVolumeSystem::addRecord(const ByteSource& source, DiscoveryContext& c, std::uint8_t type, std::uint64_t start,
                                std::uint32_t sectors, bool logical) const {
    std::string fs;
    switch (type) {
    case 0x01: fs = "FAT12"; break;
    case 0x04:
    case 0x06:
    case 0x0E:
        fs = "FAT16";
        c.observer.status("found FAT 16...");
        break;
    case 0x07: {
        TableSector boot{};
        readTableSector(source, start, boot);
        std::int64_t size = 0;
        const FileSystemProbe* exfat = c.probe("FAT64");
        if (exfat && exfat->test(boot, false, size)) {
            fs = "FAT64";
            c.observer.status("found FAT64...");
        } else {
            fs = "NTFS";
            c.observer.status(logical ? std::string("found NTFS...") : listText("found NTFS %d...", ++c.ntfsCount));
        }
        break;
    }
    case 0x0B:
    case 0x0C:
        fs = "FAT32";
        c.observer.status("found FAT 32...");
        break;
    case 0x83:
        fs = "extX";
        c.observer.status(logical ? "found extx..." : "found ext2...");
        break;
    default:
        if (type == 0x42 && !logical) {
            fs = "NTFS";
            c.observer.status("NTFS...");
        } else {
            fs = kUnknownFileSystem;
            c.observer.status("found UNKNOWN...");
        }
    }
    ListedVolume v;
    v.fileSystem = fs;
    v.sizeText = listText("%lld   MB", static_cast<long long>(sectors / 2048));
    v.startByte = static_cast<std::int64_t>(start * 512);
    v.lengthBytes = static_cast<std::int64_t>(sectors) * 512;
    v.listedBy = "MBR";
    c.report(std::move(v));
}

const VolumeSystem& mbrVolumeSystem() {
    static const MbrVolumeSystem system;
    return system;
}

}  // namespace ondrel
