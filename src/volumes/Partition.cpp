#include "volumes/Partition.h"

#include "common/Endian.h"
#include "common/Utf16.h"
#include "volumes/BootRecordTests.h"
#include "volumes/SectorSweep.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>

namespace ondrel {

namespace {

using Sector = std::array<std::uint8_t, 512>;

constexpr int kMaxLogicalVolumes = 1024;
constexpr std::uint32_t kMaxGptEntryBytes = 4u << 20;

std::string format(const char* fmt, long long value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, value);
    return buf;
}

bool readSector(readWriteInterface& reader, std::uint64_t lba, Sector& out) {
    return reader.readAt(static_cast<std::int64_t>(lba * 512), out.data(), 512);
}

bool isExtended(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

// UTF-16LE partition name of a GPT entry, as UTF-8.
std::string gptName(Bytes entry) { return utf16leToUtf8(entry, 0x38, 36, true); }

}  // namespace

void Partition::append(VolumeRecord record) {
    records_.push_back(record);
    if (onRecordListed) onRecordListed(records_.back());
}

void Partition::scanPartitionTables(readWriteInterface& reader) {
    reader.baseOffset = 0;
    volumeCount_ = 0;
    ntfsCount_ = 0;
    std::array<std::uint8_t, 1024> first{};
    bool ok = reader.readAt(0, first.data(), first.size());
    if (ok && gptMode) scanGpt(reader);
    else scanMbr(reader);
}

// A disk without a partition table whose first sector is itself a volume's
// boot record (a partition image, a "superfloppy").
// Boot sectors are tested first; the structures 1024 bytes in (HFS+, ext) only
// when no partition table was found.
bool Partition::bareVolumeAtStart(readWriteInterface& reader, bool superblocks) {
    std::array<std::uint8_t, 1536> head{};
    reader.readAt(0, head.data(), head.size());
    Bytes boot(head.data(), 512), at1024(head.data() + 1024, 512);
    std::int64_t size = 0;
    std::string fs, status;
    if (isNtfsBootSector(boot, true, size)) {
        fs = "NTFS";
        status = format("found NTFS %d...", ++ntfsCount_);
    } else if (isExfatBootSector(boot, size)) {
        fs = "FAT64";
        status = "found FAT64...";
    } else if (FatType t = fatBootSectorType(boot, size); t == FatType::Fat16 || t == FatType::Fat32) {
        fs = t == FatType::Fat16 ? "FAT16" : "FAT32";
        status = t == FatType::Fat16 ? "found FAT 16..." : "found FAT 32...";
    } else if (superblocks && isHfsPlusHeader(at1024, size)) {
        fs = "HFS+";
        status = "found HFS+...";
    } else if (superblocks && isExtSuperblock(at1024, size)) {
        fs = "extX";
        status = "found extX...";
    } else {
        return false;
    }
    observer_.status(status);
    append({fs, "", format("%d", volumeCount_++), format("%lld   MB", bytesToMegabytes(size)), 0});
    return true;
}

void Partition::scanMbr(readWriteInterface& reader) {
    Sector mbr{};
    if (!readSector(reader, 0, mbr)) return;
    if (bareVolumeAtStart(reader, false)) return;
    std::size_t before = records_.size();
    // Every slot is examined: an empty slot or an extended one does not hide
    // the primary partitions in the slots after it.
    for (int slot = 0; slot < 4; ++slot) {
        Bytes e(mbr.data() + 0x1BE + slot * 16, 16);
        std::uint8_t type = le8(e, 4);
        std::uint32_t lba = le32(e, 8);
        std::uint32_t sectors = le32(e, 12);
        if (type == 0) continue;
        if (isExtended(type)) scanExtendedChain(reader, lba);
        else addMbrRecord(reader, type, lba, sectors, false);
    }
    if (records_.size() == before) bareVolumeAtStart(reader, true);
}

void Partition::scanExtendedChain(readWriteInterface& reader, std::uint32_t extBase) {
    std::uint64_t ebrRel = 0;
    std::set<std::uint64_t> visited;  // a chain that loops back ends there
    for (int pass = 0; pass < kMaxLogicalVolumes; ++pass) {
        std::uint64_t ebr = static_cast<std::uint64_t>(extBase) + ebrRel;
        if (!visited.insert(ebr).second) return;
        reader.baseOffset = 0;
        Sector rec{};
        if (!readSector(reader, ebr, rec)) return;
        bool next = false;
        for (int slot = 0; slot < 4 && !next; ++slot) {
            Bytes e(rec.data() + 0x1BE + slot * 16, 16);
            std::uint8_t type = le8(e, 4);
            if (type == 0) return;
            if (isExtended(type)) {
                ebrRel = le32(e, 8);
                next = true;
            } else {
                addMbrRecord(reader, type, ebr + le32(e, 8), le32(e, 12), true);
            }
        }
        if (!next) return;
    }
}

void Partition::addMbrRecord(readWriteInterface& reader, std::uint8_t type, std::uint64_t start,
                             std::uint32_t sectors, bool logical) {
    std::string fs;
    switch (type) {
    case 0x01: fs = "FAT12"; break;
    case 0x04:
    case 0x06:
    case 0x0E:
        fs = "FAT16";
        observer_.status("found FAT 16...");
        break;
    case 0x07: {
        Sector boot{};
        readSector(reader, start, boot);
        std::int64_t size = 0;
        if (isExfatBootSector(boot, size)) {
            fs = "FAT64";
            observer_.status("found FAT64...");
        } else {
            fs = "NTFS";
            observer_.status(logical ? std::string("found NTFS...") : format("found NTFS %d...", ++ntfsCount_));
        }
        break;
    }
    case 0x0B:
    case 0x0C:
        fs = "FAT32";
        observer_.status("found FAT 32...");
        break;
    case 0x83:
        fs = "extX";
        observer_.status(logical ? "found extx..." : "found ext2...");
        break;
    default:
        if (type == 0x42 && !logical) {
            fs = "NTFS";
            observer_.status("NTFS...");
        } else {
            fs = kUnknownFileSystem;
            observer_.status("found UNKNOWN...");
        }
    }
    append({fs, "", format("%d", volumeCount_++), format("%lld   MB", static_cast<long long>(sectors / 2048)),
            static_cast<std::int64_t>(start)});
}

void Partition::scanGpt(readWriteInterface& reader) {
    Sector header{};
    readSector(reader, 1, header);
    std::uint64_t entryLba = le64(header, 0x48);
    std::uint32_t count = le32(header, 0x50);
    std::uint32_t entrySize = le32(header, 0x54);
    bool sane = hasText(header, 0, "EFI PART") && entryLba >= 2 && count > 0 && entrySize >= 128 &&
                entrySize % 8 == 0 && entrySize <= 4096 && entryLba < reader.sectorCount();
    if (!sane) {
        // A damaged header: look where GPT entries nearly always are.
        entryLba = 2;
        count = 128;
        entrySize = 128;
    }
    count = std::min<std::uint32_t>(count, kMaxGptEntryBytes / entrySize);
    std::vector<std::uint8_t> entries(static_cast<std::size_t>(count) * entrySize);
    reader.readAt(static_cast<std::int64_t>(entryLba * 512), entries.data(), static_cast<std::uint32_t>(entries.size()));

    for (std::uint32_t k = 0; k < count; ++k) {
        Bytes e(entries.data() + static_cast<std::size_t>(k) * entrySize, entrySize);
        if (le64(e, 0) == 0 && le64(e, 8) == 0) continue;  // unused entry
        std::int64_t firstLba = static_cast<std::int64_t>(le64(e, 0x20));
        std::int64_t lastLba = static_cast<std::int64_t>(le64(e, 0x28));
        if (firstLba < 1 || lastLba < firstLba) continue;
        Sector boot{};
        if (!readSector(reader, static_cast<std::uint64_t>(firstLba), boot)) return;
        std::string name = gptName(e);
        if (name == "Microsoft reserved partition") continue;

        std::int64_t size = 0;
        if (isNtfsBootSector(boot, false, size)) {
            std::int64_t mb = bytesToMegabytes(size);
            if (mb >= 1) {
                observer_.status(format("found NTFS %d...", ++ntfsCount_));
                append({"NTFS", "", format("%d", volumeCount_++), format("%d   MB", mb), firstLba});
            }
            continue;
        }
        if (FatType t = fatBootSectorType(boot, size); t != FatType::None) {
            if (t == FatType::Fat12) {
                observer_.status("found unknown...");
                continue;
            }
            bool fat32 = t == FatType::Fat32;
            observer_.status(fat32 ? "found FAT 32..." : "found FAT 16...");
            if (bytesToMegabytes(size) > 0)
                append({fat32 ? "FAT32" : "FAT16", "", format("%d", volumeCount_++),
                        format("%lld  MB", bytesToMegabytes(size)), firstLba});
            continue;
        }
        if (isExfatBootSector(boot, size)) {
            observer_.status("found FAT 64...");
            if (bytesToMegabytes(size) > 0)
                append({"FAT64", "", format("%d", volumeCount_++), format("%lld  MB", bytesToMegabytes(size)), firstLba});
            continue;
        }
        Sector at1024{};
        readSector(reader, static_cast<std::uint64_t>(firstLba) + 2, at1024);
        std::string fs = name;
        if (isHfsPlusHeader(at1024, size)) fs = "HFS+";
        else if (isExtSuperblock(at1024, size)) fs = "extX";
        std::int64_t sectors = lastLba - firstLba + 1;
        append({fs, "", format("%d", volumeCount_++), format("%lld", sectors / 2048), firstLba});
    }
}

std::int64_t Partition::sweepSector(const std::uint8_t* sector, std::int64_t position) {
    Bytes s(sector, 512);
    std::int64_t size = 0;
    std::int64_t start = position / 512;
    // The jump leads to the sector right after the volume. NTFS's total-sector
    // field leaves out the backup boot sector in the volume's last sector.
    auto jump = [&](std::int64_t bytes) { return skipVolumeSize ? std::max<std::int64_t>(bytes / 512 * 512, 0) : 0; };
    if (isNtfsBootSector(s, true, size)) {
        std::int64_t mb = bytesToMegabytes(size);
        if (mb <= 0) return 0;
        VolumeRecord r{"NTFS", "", format("%d", volumeCount_++), format("%d   MB", mb), start};
        observer_.status(format("found NTFS %d...", ++ntfsCount_));
        append(r);
        return jump(size + 512);
    }
    FatType fat = fatBootSectorType(s, size);
    bool exfat = fat == FatType::None && isExfatBootSector(s, size);
    if (fat != FatType::None || exfat) {
        std::string fs;
        if (exfat) {
            fs = "FAT64";
            observer_.status("found FAT 64...");
        } else if (fat == FatType::Fat32) {
            fs = "FAT32";
            observer_.status("found FAT 32...");
        } else if (fat == FatType::Fat16) {
            fs = "FAT16";
            observer_.status("found FAT 16...");
        } else {
            observer_.status("found unknown...");
            return 0;
        }
        if (bytesToMegabytes(size) <= 0) return 0;
        append({fs, "", format("%d", volumeCount_++), format("%lld  MB", bytesToMegabytes(size)), start});
        return jump(size);
    }
    if (position < 1024) return 0;
    // HFS+ and ext keep their structure 1024 bytes into the volume.
    constexpr std::int64_t kLargestHfsMegabytes = 0x1400000;
    if (isHfsPlusHeader(s, size)) {
        std::int64_t mb = bytesToMegabytes(size);
        if (mb < 1 || mb >= kLargestHfsMegabytes) return 0;
        observer_.status("found HFS+...");
        append({"HFS+", "", format("%d", volumeCount_++), format("%lld  MB", mb), (position - 1024) / 512});
        return jump(size - 1024);
    }
    if (isExtSuperblock(s, size)) {
        std::int64_t mb = bytesToMegabytes(size);
        if (mb < 1) return 0;
        observer_.status("found extX...");
        append({"extX", "", format("%d", volumeCount_++), format("%lld  MB", mb), (position - 1024) / 512});
        return jump(size - 1024);
    }
    return 0;
}

void Partition::sweepVolumes(readWriteInterface& reader) {
    reader.baseOffset = 0;
    volumeCount_ = 0;
    ntfsCount_ = 0;
    observer_.status("Scanning partition.....");
    SweepOptions o;
    o.begin = customStartSector > 0 ? customStartSector * 512 : 0;
    o.end = static_cast<std::int64_t>(reader.sectorCount() * 512);
    // The user's "Ending Sector" is tested a whole chunk at a time.
    if (customEndSector > 0) o.lastChunkStart = customEndSector * 512;
    o.readFailureEnds = true;
    SweepOutcome outcome = sweepRange(reader, o, observer_, control,
                                      [&](const std::uint8_t* sector, std::int64_t position) {
                                          return sweepSector(sector, position);
                                      });
    if (outcome.stopped || outcome.readFailed) observer_.status("Scanned Partitions");
}

}  // namespace ondrel
