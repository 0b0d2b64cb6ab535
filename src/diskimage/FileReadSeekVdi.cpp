#include "diskimage/FileReadSeekVdi.h"

#include "diskimage/Guid.h"
#include "diskimage/ParentImage.h"
#include "platform/ReadOnlyFile.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

namespace ondrel {

namespace {
constexpr std::uint32_t kUnallocated = 0xFFFFFFFF;
constexpr std::uint32_t kZeroBlock = 0xFFFFFFFE;
constexpr int kMaxFilesLookedAt = 10000;
}  // namespace

bool FileReadSeekVdi::open(const std::string& path, const OpenOptions& options) {
    if (!openFile(path, options)) return false;
    std::array<std::uint8_t, kVdiHeaderSize> raw{};
    if (file_.readAt(0, raw.data(), raw.size()) < static_cast<std::int64_t>(raw.size()))
        return fail("The VDI file is truncated: its header is incomplete.");
    header = parseVdiHeader(raw);
    sectorsPerBlock = header.blockSize / kSectorSize;

    if (header.diskSize <= 0 || header.headerSize == 0 || header.allocatedBlocks == 0 || header.blockSize == 0)
        return fail("The VDI header is not valid (disk size, header size, block size or allocated blocks is 0).");
    if (header.blockSize % kSectorSize != 0)
        return fail("The VDI header names a block size that is not a whole number of sectors.");

    std::uint64_t entries = header.blockCount;
    std::uint64_t available = header.blockMapOffset < static_cast<std::uint64_t>(fileLength)
                                  ? (static_cast<std::uint64_t>(fileLength) - header.blockMapOffset) / 4
                                  : 0;
    if (entries > available) {
        warn("The VDI file is truncated: its block map is incomplete.");
        entries = available;
    }
    std::vector<std::uint8_t> map(entries * 4);
    if (!map.empty()) file_.readAt(header.blockMapOffset, map.data(), map.size());
    blockMap.clear();
    blockMap.reserve(entries);
    std::int64_t dataEnd = 0;
    for (std::uint64_t k = 0; k < entries; ++k) {
        std::uint32_t e = le32(map, k * 4);
        blockMap.push_back(e);
        std::int64_t end = 0;  // a hostile entry or block size cannot overflow it
        if (e < kZeroBlock &&
            (__builtin_mul_overflow(static_cast<std::int64_t>(e) + 1, static_cast<std::int64_t>(header.blockSize), &end) ||
             __builtin_add_overflow(end, static_cast<std::int64_t>(std::min<std::uint64_t>(header.dataOffset, kMaxDiskBytes)), &end)))
            end = kMaxDiskBytes;
        dataEnd = std::max(dataEnd, end);
    }
    mapEntriesRead = entries;
    mapEntries = static_cast<std::int64_t>(blockMap.size());
    setSectorCount(static_cast<std::uint64_t>(header.diskSize) / kSectorSize);
    checkTruncation(dataEnd, "VDI");
    return header.imageType != kVdiDifferencing || openParentDisk();
}

bool FileReadSeekVdi::openParentDisk() {
    // The child names its parent only by UUID: look at the VDI files beside it.
    std::string folder = folderOfPath(path_), found;
    std::error_code ec;
    int looked = 0;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end && looked < kMaxFilesLookedAt;
         it.increment(ec), ++looked) {
        std::error_code fileError;
        if (!it->is_regular_file(fileError)) continue;
        ReadOnlyFile f;
        std::array<std::uint8_t, kVdiHeaderSize> raw{};
        if (!f.open(it->path().string()) || f.readAt(0, raw.data(), raw.size()) != static_cast<std::int64_t>(raw.size()))
            continue;
        VdiHeader h = parseVdiHeader(raw);
        if (h.signature == kVdiSignature && h.uuidCreate == header.uuidLinkage && h.uuidCreate != header.uuidCreate) {
            found = it->path().filename().string();
            break;
        }
    }
    if (found.empty())
        return fail("The differencing VDI " + path_ + " needs its parent, the VDI with UUID " + guidText(header.uuidLinkage) +
                    "; no file in " + folder + " is that disk.");
    if (!openParent(found, ImageKind::Vdi)) return false;
    if (parentDisk()->sectorCount() != sectorCount_)
        return fail("The parent disk " + folder + "/" + found + " holds " + std::to_string(parentDisk()->sectorCount()) +
                    " sectors, the differencing VDI " + path_ + " " + std::to_string(sectorCount_) + ".");
    return true;
}

ReaderDetails FileReadSeekVdi::details() const {
    ReaderDetails d;
    d.version = std::to_string(header.version);
    d.sectorsPerTrack = std::to_string(header.sectorsPerTrack);
    d.heads = std::to_string(header.heads);
    d.cylinders = std::to_string(header.cylinders);
    d.add("Block size:", std::to_string(header.blockSize) + " bytes");
    d.add("Blocks allocated:", std::to_string(header.allocatedBlocks) + " of " + std::to_string(header.blockCount));
    return d;
}

BlockMappedReader::Mapping FileReadSeekVdi::mapAt(std::uint64_t a) const {
    std::uint64_t block = a / header.blockSize;
    std::uint64_t inBlock = a % header.blockSize;
    Mapping m;
    m.length = header.blockSize - inBlock;
    if (block >= blockMap.size()) {
        m.reason = "its block lies beyond the block map";
        return m;
    }
    std::uint32_t entry = blockMap[block];
    // A zero block (0xFFFFFFFE) has no data in the file; it reads as zeros.
    if (entry == kUnallocated || entry == kZeroBlock) {
        m.kind = entry == kUnallocated && header.imageType == kVdiDifferencing ? Kind::Parent : Kind::Zero;
        return m;
    }
    m.kind = Kind::Data;
    m.fileOffset = static_cast<std::int64_t>(header.dataOffset + static_cast<std::uint64_t>(entry) * header.blockSize + inBlock);
    return m;
}

}  // namespace ondrel
