#include "diskimage/FileReadSeekVHD.h"

#include "common/Utf16.h"
#include "platform/ReadOnlyFile.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace ondrel {

namespace {
bool endsWithVhd(const std::string& path) {
    if (path.size() <= 3) return true;
    std::string tail = path.substr(path.size() - 3);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == "vhd";
}
constexpr std::uint32_t kUnallocated = 0xFFFFFFFF;
constexpr std::uint32_t kMaxLocatorBytes = 65536;
}  // namespace

bool FileReadSeekVHD::open(const std::string& path, const OpenOptions& options) {
    if (options.requireVhdExtension && !endsWithVhd(path)) return fail("Not a valid vhd file");
    if (!openFile(path, options)) return false;

    std::array<std::uint8_t, 1536> head{};
    if (file_.readAt(0, head.data(), head.size()) < static_cast<std::int64_t>(head.size()))
        return fail("The VHD file is truncated: its headers are incomplete.");
    footer = parseVhdFooter(Bytes(head).first(512));
    header = parseVhdDynamicHeader(Bytes(head).subspan(512, 1024));
    if (!header.hasCookie) return fail("Not a valid vhd file");

    // Block size and table position come from the header; creators differ.
    blockSize_ = header.blockSize;
    if (blockSize_ < kSectorSize || (blockSize_ & (blockSize_ - 1)) != 0)
        return fail("The VHD header names an invalid block size (" + std::to_string(header.blockSize) + " bytes).");
    std::uint64_t bitmapBits = blockSize_ / kSectorSize;
    bitmapBytes_ = ((bitmapBits + 7) / 8 + kSectorSize - 1) / kSectorSize * kSectorSize;

    setSectorCount(footer.currentSize >> 9);
    if (options.diskSizeOverride != 0) setSectorCount(options.diskSizeOverride >> 9);

    std::uint64_t entries = (options.tableEntriesOverride & 0xFFFFFFFFu) != 0 ? (options.tableEntriesOverride & 0xFFFFFFFFu)
                                                                             : header.maxTableEntries;
    // Never trust the entry count further than the file reaches.
    std::uint64_t available = header.tableOffset < static_cast<std::uint64_t>(fileLength)
                                  ? (static_cast<std::uint64_t>(fileLength) - header.tableOffset) / 4
                                  : 0;
    if (entries > available) {
        warn("The VHD file is truncated: its block table is incomplete.");
        entries = available;
    }
    std::vector<std::uint8_t> raw(entries * 4);
    if (!raw.empty()) file_.readAt(static_cast<std::int64_t>(header.tableOffset), raw.data(), raw.size());
    blockTable.clear();
    blockTable.reserve(entries);
    std::int64_t dataEnd = 0;
    for (std::uint64_t k = 0; k < entries; ++k) {
        std::uint32_t e = be32(raw, k * 4);
        blockTable.push_back(e);
        if (e != kUnallocated)
            dataEnd = std::max<std::int64_t>(dataEnd, static_cast<std::int64_t>(e) * kSectorSize +
                                                          static_cast<std::int64_t>(bitmapBytes_ + blockSize_));
    }
    tableEntriesRead = entries;
    checkTruncation(dataEnd, "VHD");
    differencing_ = footer.diskType == 4;
    return !differencing_ || openParentDisk(head);
}

bool FileReadSeekVHD::openParentDisk(Bytes head) {
    // Parent names: the locators' paths (relative first), then the bare name.
    std::vector<std::string> names;
    for (const char* want : {"W2ru", "W2ku", "MacX", "Mac "})
        for (const VhdParentLocator& l : header.locators) {
            if (l.code != want || l.dataLength == 0 || l.dataLength > kMaxLocatorBytes) continue;
            std::vector<std::uint8_t> raw(l.dataLength);
            if (file_.readAt(static_cast<std::int64_t>(l.dataOffset), raw.data(), raw.size()) != static_cast<std::int64_t>(raw.size()))
                continue;
            std::string name = l.code[0] == 'W' ? utf16leToUtf8(raw, 0, raw.size() / 2, true)
                                                : std::string(raw.begin(), std::find(raw.begin(), raw.end(), 0));
            if (name.rfind("file://", 0) == 0) name.erase(0, 7);
            if (!name.empty()) names.push_back(name);
        }
    std::string unicodeName = utf16beToUtf8(head.subspan(512 + 0x40, 512), 0, 256);
    unicodeName = unicodeName.substr(0, unicodeName.find('\0'));
    if (!unicodeName.empty()) names.push_back(unicodeName);
    if (names.empty()) return fail("The differencing VHD " + path_ + " names no parent disk.");
    if (!openParent(names, std::nullopt)) return false;
    std::vector<ImageLayer> above = parentDisk()->layers();
    std::string parentPath = above.empty() ? names.front() : above.front().path;
    // The parent must be a VHD, and the very disk this one was made from.
    std::optional<VhdFooter> parentFooter;
    if (auto* vhd = dynamic_cast<const FileReadSeekVHD*>(parentDisk())) parentFooter = vhd->footer;
    else if (parentKind_ == ImageKind::FixedVhd && parentDisk()->imageFile()) {
        const ReadOnlyFile& f = *parentDisk()->imageFile();
        std::array<std::uint8_t, 512> tail{};
        if (f.size() >= 512 && f.readAt(f.size() - 512, tail.data(), tail.size()) == 512) parentFooter = parseVhdFooter(tail);
    }
    if (!parentFooter || !parentFooter->hasCookie)
        return fail("The parent disk " + parentPath + " named by the differencing VHD " + path_ +
                    " is not a VHD: a differencing VHD is read only over the VHD it was made from.");
    if (parentFooter->uniqueId != header.parentUniqueId)
        return fail("The parent disk " + parentPath + " does not match the differencing VHD " + path_ +
                    ": its unique ID is not the one the child records.");
    if (parentDisk()->sectorCount() != sectorCount_)
        return fail("The parent disk " + parentPath + " holds " + std::to_string(parentDisk()->sectorCount()) +
                    " sectors, the differencing VHD " + path_ + " " + std::to_string(sectorCount_) + ".");
    return true;
}

std::shared_ptr<const std::vector<std::uint8_t>> FileReadSeekVHD::bitmap(std::uint32_t entry) const {
    return bitmaps_.get(entry, [&] {
        std::vector<std::uint8_t> bits(bitmapBytes_);
        if (file_.readAt(static_cast<std::int64_t>(entry) * kSectorSize, bits.data(), bits.size()) !=
            static_cast<std::int64_t>(bits.size()))
            bits.clear();
        return bits;
    });
}

ReaderDetails FileReadSeekVHD::details() const {
    ReaderDetails d;
    d.version = std::to_string(footer.formatVersion);
    d.sectorsPerTrack = std::to_string(footer.sectorsPerTrack);
    d.heads = std::to_string(footer.heads);
    d.cylinders = std::to_string(footer.cylinders);
    d.maxTableEntries = header.maxTableEntries;
    d.add("MAXIMUM TABLE ENTRIES:", std::to_string(header.maxTableEntries));
    d.add("Block size:", std::to_string(header.blockSize) + " bytes");
    return d;
}

BlockMappedReader::Mapping FileReadSeekVHD::mapAt(std::uint64_t a) const {
    std::uint64_t block = a / blockSize_;
    std::uint64_t inBlock = a % blockSize_;
    Mapping m;
    m.length = blockSize_ - inBlock;
    if (block >= blockTable.size()) {
        m.reason = "its block lies beyond the block table";
        return m;
    }
    std::uint32_t entry = blockTable[block];
    if (entry == kUnallocated) {
        m.kind = differencing_ ? Kind::Parent : Kind::Zero;
        return m;
    }
    m.kind = Kind::Data;
    m.fileOffset = static_cast<std::int64_t>(static_cast<std::uint64_t>(entry) * kSectorSize + bitmapBytes_ + inBlock);
    if (!differencing_) return m;
    // A set bit (most significant first) means the sector is this disk's own.
    std::shared_ptr<const std::vector<std::uint8_t>> held = bitmap(entry);
    const std::vector<std::uint8_t>& bits = *held;
    if (bits.empty()) {
        m.kind = Kind::Unmapped;
        m.reason = "its sector bitmap cannot be read";
        return m;
    }
    std::uint64_t sector = inBlock / kSectorSize, sectors = blockSize_ / kSectorSize;
    auto own = [&](std::uint64_t s) { return (bits[s / 8] >> (7 - s % 8)) & 1; };
    bool first = own(sector);
    std::uint64_t last = sector;
    while (last + 1 < sectors && own(last + 1) == first) ++last;
    m.length = (last + 1) * kSectorSize - inBlock;
    if (!first) m.kind = Kind::Parent;
    return m;
}

}  // namespace ondrel
