#include "diskimage/VmdkSparseExtent.h"

#include "common/Endian.h"

#include <algorithm>
#include <array>

namespace ondrel {

namespace {
constexpr std::uint32_t kCompressedGrains = 1u << 16;
constexpr std::uint32_t kGrainMarkers = 1u << 17;
constexpr std::uint64_t kDirectoryAtEnd = ~std::uint64_t(0);
constexpr std::uint32_t kFooterMarker = 3;
// Inflated grains are held in memory: no real writer makes them larger than 64 KiB.
constexpr std::uint64_t kMaxCompressedGrainSectors = 2048;
constexpr std::uint64_t kMaxCapacity = std::uint64_t(1) << 53;  // sectors; far beyond any disk

bool validHeader(const VmdkSparseHeader& h, bool compressed) {
    std::uint64_t maxGrain = compressed ? kMaxCompressedGrainSectors : (1u << 20);
    return h.grainSize != 0 && h.grainSize <= maxGrain && h.entriesPerTable != 0 && h.entriesPerTable <= 512 &&
           h.capacity != 0 && h.capacity <= kMaxCapacity;
}
}  // namespace

VmdkSparseHeader parseVmdkSparseHeader(const std::uint8_t* sector) {
    Bytes raw(sector, 512);
    VmdkSparseHeader h;
    h.magic = le32(raw, 0x00);
    h.version = le32(raw, 0x04);
    h.flags = le32(raw, 0x08);
    h.capacity = le64(raw, 0x0C);
    h.grainSize = le64(raw, 0x14);
    h.descriptorOffset = le64(raw, 0x1C);
    h.descriptorSize = le64(raw, 0x24);
    h.entriesPerTable = le32(raw, 0x2C);
    h.redundantDirectorySector = le64(raw, 0x30);
    h.directorySector = le64(raw, 0x38);
    h.compressAlgorithm = le16(raw, 0x4D);
    return h;
}

bool VmdkSparseExtent::open(const ReadOnlyFile& file, const std::string& name) {
    file_ = &file;
    name_ = name;
    std::array<std::uint8_t, 512> raw{};
    if (file.readAt(0, raw.data(), raw.size()) != 512)
        return fail("The VMDK file " + name + " is truncated: its header is incomplete.");
    header_ = parseVmdkSparseHeader(raw.data());
    if (header_.magic != kVmdkMagic) return fail("The VMDK extent " + name + " is not a sparse extent: it has no KDMV signature.");
    compressed_ = header_.flags & kCompressedGrains;
    markers_ = header_.flags & kGrainMarkers;
    if (compressed_ && header_.compressAlgorithm != 1)
        return fail("The VMDK file " + name + " uses a compression that cannot be read (" +
                    std::to_string(header_.compressAlgorithm) + ").");

    std::int64_t fileEnd = file.size() / 512 * 512;
    std::uint64_t dirSector = header_.directorySector;
    if (dirSector == kDirectoryAtEnd) {
        // A stream-optimized file written in one pass keeps its directory at the
        // end: a footer marker, a copy of the header that locates it, and the
        // end-of-stream marker.
        std::array<std::uint8_t, 1024> footer{};
        if (fileEnd < 2048 || file.readAt(fileEnd - 1536, footer.data(), footer.size()) != 1024 ||
            le32(footer, 12) != kFooterMarker || le32(footer, 512) != kVmdkMagic)
            return fail("The VMDK file " + name +
                        " has its grain directory at its end, but it has no footer: it was cut short.");
        VmdkSparseHeader copy = parseVmdkSparseHeader(footer.data() + 512);
        dirSector = copy.directorySector;
        if (copy.grainSize == header_.grainSize && copy.entriesPerTable == header_.entriesPerTable) {
            header_.redundantDirectorySector = copy.redundantDirectorySector;
        }
        header_.directorySector = dirSector;
    }
    if (!validHeader(header_, compressed_))
        return fail("The VMDK header of " + name + " is not valid (grain size, grain-table size or capacity).");
    sectorsPerTable_ = header_.grainSize * header_.entriesPerTable;

    // The directory, from the redundant copy when the first lies outside the file.
    std::uint64_t fileSectors = static_cast<std::uint64_t>(fileEnd) / 512;
    if ((dirSector == 0 || dirSector >= fileSectors) && header_.redundantDirectorySector != 0 &&
        header_.redundantDirectorySector < fileSectors)
        dirSector = header_.redundantDirectorySector;
    std::uint64_t entries = header_.capacity / sectorsPerTable_ + (header_.capacity % sectorsPerTable_ ? 1 : 0);
    std::uint64_t dirOffset = dirSector * 512;
    std::uint64_t available = dirSector != 0 && dirSector < fileSectors
                                  ? (static_cast<std::uint64_t>(file.size()) - dirOffset) / 4
                                  : 0;
    if (entries > available) {
        warnings_.push_back("The VMDK file " + name + " is truncated: its grain directory is incomplete.");
        entries = available;
    }
    std::vector<std::uint8_t> dir(entries * 4);
    if (!dir.empty() && file.readAt(static_cast<std::int64_t>(dirOffset), dir.data(), dir.size()) !=
                            static_cast<std::int64_t>(dir.size()))
        dir.clear();
    directory_.resize(dir.size() / 4);
    for (std::size_t k = 0; k < directory_.size(); ++k) directory_[k] = le32(dir, k * 4);
    return true;
}

std::shared_ptr<const std::vector<std::uint32_t>> VmdkSparseExtent::table(std::uint32_t tableSector) const {
    return tables_.get(tableSector, [&] {
        std::vector<std::uint8_t> raw(header_.entriesPerTable * 4);
        std::vector<std::uint32_t> entries;
        if (file_->readAt(static_cast<std::int64_t>(tableSector) * 512, raw.data(), raw.size()) ==
            static_cast<std::int64_t>(raw.size())) {
            entries.resize(header_.entriesPerTable);
            for (std::size_t i = 0; i < entries.size(); ++i) entries[i] = le32(raw, i * 4);
        }
        return entries;
    });
}

VmdkSparseExtent::Grain VmdkSparseExtent::lookup(std::uint64_t offset) const {
    Grain g;
    std::uint64_t grainBytes = this->grainBytes();
    std::uint64_t tableBytes = sectorsPerTable_ * 512;
    std::uint64_t index = offset / tableBytes;
    g.length = grainBytes - offset % grainBytes;
    if (index >= directory_.size() || directory_[index] == 0) {
        g.length = tableBytes - offset % tableBytes;
        return g;
    }
    std::shared_ptr<const std::vector<std::uint32_t>> held = table(directory_[index]);
    const auto& entries = *held;
    if (entries.empty()) {
        g.kind = Grain::Kind::Unreadable;
        return g;
    }
    std::uint32_t entry = entries[(offset % tableBytes) / grainBytes];
    if (entry == 0) return g;
    if (entry == 1) {
        g.kind = Grain::Kind::Zeroed;
        return g;
    }
    if (compressed_) {
        g.kind = Grain::Kind::Compressed;
        g.fileOffset = static_cast<std::int64_t>(entry) * 512;
        return g;
    }
    g.kind = Grain::Kind::Data;
    g.fileOffset = static_cast<std::int64_t>(std::uint64_t(entry) * 512 + offset % grainBytes);
    return g;
}

bool VmdkSparseExtent::inflateGrain(std::int64_t grainOffset, std::uint64_t grain, std::vector<std::uint8_t>& out) const {
    std::uint64_t grainBytes = this->grainBytes();
    out.assign(grainBytes, 0);
    // A deflated grain never needs much more room than the grain itself.
    std::uint64_t limit = grainBytes * 2 + 4096;
    std::uint64_t size = limit;
    std::int64_t dataOffset = grainOffset;
    if (markers_) {
        std::array<std::uint8_t, 12> marker{};
        if (file_->readAt(grainOffset, marker.data(), marker.size()) != 12) return false;
        if (le64(marker, 0) != grain * header_.grainSize) return false;  // the table points at another grain
        size = le32(marker, 8);
        if (size == 0 || size > limit) return false;
        dataOffset += 12;
    }
    if (dataOffset >= file_->size()) return false;
    size = std::min<std::uint64_t>(size, static_cast<std::uint64_t>(file_->size() - dataOffset));
    std::vector<std::uint8_t> packed(size);
    std::int64_t got = file_->readAt(dataOffset, packed.data(), packed.size());
    if (got <= 0) return false;

    auto inflater = inflaters_.take([] { return std::make_unique<Inflater>(Inflater::Wrapper::ZlibOrGzip); });
    std::int64_t produced = inflater->run(packed.data(), static_cast<std::size_t>(got), out.data(), out.size());
    // The last grain of a disk may hold fewer bytes than a grain.
    std::uint64_t needed = std::min(grainBytes, header_.capacity * 512 - std::min(header_.capacity * 512, grain * grainBytes));
    if (produced < 0 || static_cast<std::uint64_t>(produced) < needed) {
        std::fill(out.begin(), out.end(), 0);
        return false;
    }
    return true;
}

std::int64_t VmdkSparseExtent::dataEnd() const {
    std::int64_t end = 0;
    std::int64_t tableBytes = static_cast<std::int64_t>(header_.entriesPerTable) * 4;
    for (std::uint32_t sector : directory_) {
        if (sector == 0) continue;
        std::shared_ptr<const std::vector<std::uint32_t>> held = table(sector);
        const auto& entries = *held;
        if (entries.empty()) {
            end = std::max(end, static_cast<std::int64_t>(sector) * 512 + tableBytes);
            continue;
        }
        for (std::uint32_t e : entries)
            if (e > 1)
                end = std::max(end, static_cast<std::int64_t>(e) * 512 +
                                        (compressed_ ? 12 : static_cast<std::int64_t>(grainBytes())));
    }
    return end;
}

}  // namespace ondrel
