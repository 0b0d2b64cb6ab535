#include "diskimage/FileReadSeekVHD.h"

#include "diskimage/ReaderState.h"

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
}  // namespace

bool FileReadSeekVHD::open(const std::string& path) {
    if (requireVhdExtension && !endsWithVhd(path)) return fail("Not a valid vhd file");
    if (!file_.open(path)) {
        lastErrorCode_ = file_.errorCode();
        return fail("Invalid handle.");
    }
    fileLength = file_.size();

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
    if (diskSizeOverride != 0) setSectorCount(diskSizeOverride >> 9);

    std::uint64_t entries = (tableEntriesOverride & 0xFFFFFFFFu) != 0 ? (tableEntriesOverride & 0xFFFFFFFFu)
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
    return true;
}

BlockMappedReader::Mapping FileReadSeekVHD::mapAt(std::uint64_t a) {
    std::uint64_t block = a / blockSize_;
    std::uint64_t inBlock = a % blockSize_;
    Mapping m;
    m.length = blockSize_ - inBlock;
    if (block >= blockTable.size()) return m;
    std::uint32_t entry = blockTable[block];
    if (entry == kUnallocated) {
        m.kind = Kind::Zero;
        return m;
    }
    m.kind = Kind::Data;
    m.fileOffset = static_cast<std::int64_t>(static_cast<std::uint64_t>(entry) * kSectorSize + bitmapBytes_ + inBlock);
    return m;
}

}  // namespace ondrel
