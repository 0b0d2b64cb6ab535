#include "diskimage/FileReadSeekVmdk.h"

#include "common/Endian.h"

#include <algorithm>
#include <cctype>

namespace ondrel {

namespace {
constexpr std::uint32_t kCompressedGrains = 1u << 16;
constexpr std::uint64_t kMaxDescriptorBytes = 1u << 20;
constexpr std::size_t kCachedTables = 8192;  // 16 MiB of tables at most

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}
}  // namespace

bool FileReadSeekVmdk::open(const std::string& path) {
    if (!file_.open(path)) {
        lastErrorCode_ = file_.errorCode();
        return fail("Invalid handle.");
    }
    fileLength = file_.size();
    std::array<std::uint8_t, 512> raw{};
    std::int64_t got = file_.readAt(0, raw.data(), raw.size());
    if (got < 4) return fail("The VMDK file is truncated: its header is incomplete.");
    header.magic = le32(raw, 0x00);
    if (header.magic != kVmdkMagic) {
        std::string text(reinterpret_cast<const char*>(raw.data()), static_cast<std::size_t>(got));
        if (looksLikeVmdkDescriptor(text))
            return fail("This VMDK file is only a descriptor; its data lives in separate extent files, which are not read. "
                        "Open the extent file instead (a \"-flat.vmdk\" extent as a raw image).");
        return fail("Not a sparse VMDK file: its header has no KDMV signature.");
    }
    if (got < 512) return fail("The VMDK file is truncated: its header is incomplete.");
    header.version = le32(raw, 0x04);
    header.flags = le32(raw, 0x08);
    header.capacity = le64(raw, 0x0C);
    header.grainSize = le64(raw, 0x14);
    header.descriptorOffset = le64(raw, 0x1C);
    header.descriptorSize = le64(raw, 0x24);
    header.entriesPerTable = le32(raw, 0x2C);
    header.redundantDirectorySector = le64(raw, 0x30);
    header.directorySector = le64(raw, 0x38);

    if (header.flags & kCompressedGrains)
        return fail("Compressed (stream-optimized) VMDK images are not supported; convert the image to a raw one first.");
    grainSize = header.grainSize;
    entriesPerTable = header.entriesPerTable;
    if (grainSize == 0 || grainSize > (1u << 20) || entriesPerTable == 0 || entriesPerTable > 512 || header.capacity == 0)
        return fail("The VMDK header is not valid (grain size, grain-table size or capacity).");
    sectorsPerTable = grainSize * entriesPerTable;

    // The embedded descriptor.
    if (header.descriptorOffset > 0 && header.descriptorSize > 0 && header.descriptorSize * 512 <= kMaxDescriptorBytes) {
        descriptorText.assign(header.descriptorSize * 512, '\0');
        std::int64_t n = file_.readAt(static_cast<std::int64_t>(header.descriptorOffset * 512), descriptorText.data(),
                                      descriptorText.size());
        if (n <= 0) descriptorText.clear();
        else descriptorText.resize(static_cast<std::size_t>(n));
    }

    // The grain directory (the redundant copy, as the header's first choice).
    std::uint64_t dirEntries = header.capacity / sectorsPerTable + (header.capacity % sectorsPerTable ? 1 : 0);
    std::uint64_t dirSector = header.redundantDirectorySector ? header.redundantDirectorySector : header.directorySector;
    std::uint64_t dirOffset = dirSector * 512;
    std::uint64_t available =
        dirOffset < static_cast<std::uint64_t>(fileLength) ? (static_cast<std::uint64_t>(fileLength) - dirOffset) / 4 : 0;
    if (dirEntries > available) {
        warn("The VMDK file is truncated: its grain directory is incomplete.");
        dirEntries = available;
    }
    directoryEntries = static_cast<std::int64_t>(dirEntries);
    std::vector<std::uint8_t> dir(dirEntries * 4);
    if (!dir.empty()) file_.readAt(static_cast<std::int64_t>(dirOffset), dir.data(), dir.size());
    grainDirectory.clear();
    grainDirectory.reserve(dirEntries);
    for (std::uint64_t k = 0; k < dirEntries; ++k) grainDirectory.push_back(le32(dir, k * 4));
    gdEntryCount = static_cast<std::int64_t>(grainDirectory.size());

    std::uint64_t total = header.capacity;
    if (descriptorText.empty()) {
        warn("The VMDK file has no embedded descriptor; the disk size is taken from its header.");
    } else {
        auto parsed = parseVmdkDescriptor(descriptorText);
        if (!parsed) return fail("The VMDK descriptor has no createType entry; it is not a valid descriptor.");
        descriptor = std::move(*parsed);
        if (descriptor.extents.empty()) {
            warn("The VMDK descriptor lists no extents; the disk size is taken from its header.");
        } else {
            std::uint64_t listed = 0;  // saturates: a hostile size cannot wrap round
            for (const auto& e : descriptor.extents)
                if (__builtin_add_overflow(listed, e.sizeSectors, &listed)) listed = ~std::uint64_t(0);
            extentType = descriptor.extents.back().type;
            std::string first = upper(descriptor.extents.front().type), last = upper(extentType);
            if (first == "SPARSE" || last == "SPARSE") mode_ = Mode::Sparse;
            else if (first == "FLAT" || last == "FLAT") mode_ = Mode::Flat;
            else return fail("The VMDK descriptor names an extent type that cannot be read: " + extentType + ".");
            // The grains this file maps end at the header's capacity; a flat
            // extent ends with the file. The disk is no larger than that.
            std::uint64_t bound = mode_ == Mode::Sparse ? header.capacity : static_cast<std::uint64_t>(fileLength) / 512;
            total = listed;
            if (listed > bound) {
                warn("The VMDK descriptor's extents list " + std::to_string(listed) + " sectors, more than the " +
                     std::to_string(bound) + " the image holds; the disk is taken to end there.");
                total = bound;
            }
        }
    }
    setSectorCount(total);

    // Warn once when allocated grains lie beyond the end of the file.
    if (mode_ == Mode::Sparse) {
        std::int64_t dataEnd = 0;
        for (std::uint32_t gd : grainDirectory) {
            if (gd == 0) continue;
            const auto& table = grainTable(gd);
            if (table.empty()) {
                dataEnd = std::max<std::int64_t>(dataEnd, static_cast<std::int64_t>(gd) * 512 + 1 + fileLength);
                continue;
            }
            for (std::uint32_t gt : table)
                if (gt > 1)
                    dataEnd = std::max<std::int64_t>(dataEnd, (static_cast<std::int64_t>(gt) + static_cast<std::int64_t>(grainSize)) * 512);
        }
        checkTruncation(dataEnd, "VMDK");
    }
    return true;
}

const std::vector<std::uint32_t>& FileReadSeekVmdk::grainTable(std::uint32_t tableSector) {
    auto it = tables_.find(tableSector);
    if (it != tables_.end()) return it->second;
    if (tables_.size() >= kCachedTables) tables_.clear();
    std::vector<std::uint8_t> raw(entriesPerTable * 4);
    std::vector<std::uint32_t> table;
    if (file_.readAt(static_cast<std::int64_t>(tableSector) * 512, raw.data(), raw.size()) ==
        static_cast<std::int64_t>(raw.size())) {
        table.resize(entriesPerTable);
        for (std::uint64_t i = 0; i < entriesPerTable; ++i) table[i] = le32(raw, i * 4);
    }
    return tables_.emplace(tableSector, std::move(table)).first->second;
}

BlockMappedReader::Mapping FileReadSeekVmdk::mapAt(std::uint64_t a) {
    Mapping m;
    if (mode_ == Mode::Flat) {
        m.kind = Kind::Data;
        m.fileOffset = static_cast<std::int64_t>(a);
        m.length = std::uint64_t(1) << 40;
        return m;
    }
    std::uint64_t sector = a / 512;
    std::uint64_t grainBytes = grainSize * 512;
    std::uint64_t inGrain = a % grainBytes;
    std::uint64_t sectorInGrain = sector % grainSize;
    std::uint64_t gdIndex = sector / sectorsPerTable;
    m.kind = Kind::Zero;
    m.length = grainBytes - inGrain;
    if (gdIndex >= grainDirectory.size() || grainDirectory[gdIndex] == 0) {
        m.length = sectorsPerTable * 512 - a % (sectorsPerTable * 512);
        return m;
    }
    const auto& table = grainTable(grainDirectory[gdIndex]);
    if (table.empty()) {
        m.kind = Kind::Unmapped;
        return m;
    }
    std::uint32_t entry = table[(sector % sectorsPerTable) / grainSize];
    if (entry <= 1) return m;  // 0: never written; 1: explicitly zeroed
    m.kind = Kind::Data;
    m.fileOffset = static_cast<std::int64_t>((static_cast<std::uint64_t>(entry) + sectorInGrain) * 512 + a % 512);
    return m;
}

}  // namespace ondrel
