#include "volumes/gpt/GptVolumeSystem.h"

#include "common/Endian.h"
#include "common/Utf16.h"
#include "volumes/TableSector.h"
#include "volumes/VolumeRecord.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace ondrel {

namespace {
constexpr std::uint32_t kMaxGptEntryBytes = 4u << 20;

// UTF-16LE partition name of a GPT entry, as UTF-8.
std::string gptName(Bytes entry) { return utf16leToUtf8(entry, 0x38, 36, true); }
}  // namespace

bool GptVolumeSystem::recognises(const ByteSource& source, const std::vector<FileSystemProbe>&) const {
    TableSector header{};
    if (!readTableSector(source, 1, header) || !hasText(header, 0, "EFI PART")) return false;
    std::uint64_t entryLba = le64(header, 0x48);
    std::uint32_t entrySize = le32(header, 0x54);
    return entryLba >= 2 && entryLba < static_cast<std::uint64_t>(source.size()) / 512 && entrySize >= 128 &&
           entrySize % 8 == 0 && entrySize <= 4096;
}

void GptVolumeSystem::list(const ByteSource& source, DiscoveryContext& c) const {
    TableSector header{};
    readTableSector(source, 1, header);
    std::uint64_t entryLba = le64(header, 0x48);
    std::uint32_t count = le32(header, 0x50);
    std::uint32_t entrySize = le32(header, 0x54);
    std::uint64_t sectors = static_cast<std::uint64_t>(source.size()) / 512;
    bool sane = hasText(header, 0, "EFI PART") && entryLba >= 2 && count > 0 && entrySize >= 128 && entrySize % 8 == 0 &&
                entrySize <= 4096 && entryLba < sectors;
    if (!sane) {
        // A damaged header: look where GPT entries nearly always are.
        entryLba = 2;
        count = 128;
        entrySize = 128;
    }
    count = std::min<std::uint32_t>(count, kMaxGptEntryBytes / entrySize);
    std::vector<std::uint8_t> entries(static_cast<std::size_t>(count) * entrySize);
    source.readAt(static_cast<std::int64_t>(entryLba * 512), entries.data(), entries.size());

    for (std::uint32_t k = 0; k < count; ++k) {
        Bytes e(entries.data() + static_cast<std::size_t>(k) * entrySize, entrySize);
        if (le64(e, 0) == 0 && le64(e, 8) == 0) continue;  // unused entry
        std::int64_t firstLba = static_cast<std::int64_t>(le64(e, 0x20));
        std::int64_t lastLba = static_cast<std::int64_t>(le64(e, 0x28));
        if (firstLba < 1 || lastLba < firstLba || firstLba > kMaxDiskBytes / 512 || lastLba > kMaxDiskBytes / 512) continue;
        std::array<std::uint8_t, 1536> head{};
        if (!source.readAt(firstLba * 512, head.data(), 512)) return;
        source.readAt(firstLba * 512 + 512, head.data() + 512, 1024);
        std::string name = gptName(e);
        if (name == "Microsoft reserved partition") continue;

        ListedVolume v;
        v.startByte = firstLba * 512;
        v.lengthBytes = (lastLba - firstLba + 1) * 512;
        v.listedBy = "GPT";
        auto sectorAt = [&](std::uint32_t at) { return Bytes(head.data() + at, 512); };
        // The boot sector decides; the NTFS test waives its system id here.
        std::vector<FileSystemClaim> boot = claimsOf(c.probes, sectorAt, true, 0);
        if (!boot.empty()) {
            const FileSystemClaim& claim = boot.front();
            const std::string& fs = claim.probe->name;
            std::int64_t mb = bytesToMegabytes(claim.sizeBytes);
            if (fs == "NTFS") {
                if (mb >= 1) {
                    c.observer.status(listText("found NTFS %d...", ++c.ntfsCount));
                    v.fileSystem = fs;
                    v.sizeText = listText("%d   MB", mb);
                    c.report(std::move(v));
                }
                continue;
            }
            if (!claim.probe->listed) {
                c.observer.status("found unknown...");
                continue;
            }
            c.observer.status(fs == "FAT32"   ? "found FAT 32..."
                              : fs == "FAT16" ? "found FAT 16..."
                              : fs == "FAT64" ? "found FAT 64..."
                                              : "found " + fs + "...");
            if (mb > 0) {
                v.fileSystem = fs;
                v.sizeText = listText("%lld  MB", mb);
                c.report(std::move(v));
            }
            continue;
        }
        std::vector<FileSystemClaim> deeper = claimsOf(c.probes, sectorAt, true, 1024);
        v.fileSystem = deeper.empty() ? name : deeper.front().probe->name;
        v.sizeText = listText("%lld", (lastLba - firstLba + 1) / 2048);
        c.report(std::move(v));
    }
}

const VolumeSystem& gptVolumeSystem() {
    static const GptVolumeSystem system;
    return system;
}

}  // namespace ondrel
