#include "fs/exfat/ExFatEntrySet.h"

#include "common/Endian.h"
#include "common/Utf16.h"

#include <vector>

namespace ondrel {

namespace {
constexpr std::size_t kSlot = 32;

bool isFileEntry(std::uint8_t type) { return type == 0x85 || type == 0x05; }

bool allZero(const std::uint8_t* p, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i <= to; ++i)
        if (p[i] != 0) return false;
    return true;
}
}  // namespace

SetResult decodeEntrySet(const std::uint8_t* s, std::size_t slotCount, bool moreFollow, ExFatEntryRecord& r) {
    if (slotCount == 0 || !isFileEntry(s[0])) return {};
    if (slotCount < 2) return moreFollow ? SetResult{SetStatus::NeedMore, 0} : SetResult{};
    // Secondaries carry the in-use bit of their file entry: a deleted set is
    // 05 40 41..., a live one 85 C0 C1....
    const std::uint8_t inUse = s[0] & 0x80;
    const std::uint8_t* stream = s + kSlot;
    if (stream[0] != (0x40 | inUse)) return {};
    std::size_t nameLength = stream[3];
    if (nameLength == 0) return {};
    std::size_t nameSlots = (nameLength + 14) / 15;
    if (slotCount < 2 + nameSlots && moreFollow) return {SetStatus::NeedMore, 0};

    Bytes file(s, kSlot), st(stream, kSlot);
    r = ExFatEntryRecord{};
    r.entryType = s[0];
    r.fileAttributes = le16(file, 4);
    r.createTimestamp = le32(file, 8);
    r.lastModifiedTimestamp = le32(file, 12);
    r.lastAccessedTimestamp = le32(file, 16);
    r.create10ms = s[20];
    r.lastModified10ms = s[21];
    r.createUtcOffset = s[22];
    r.lastModifiedUtcOffset = s[23];
    r.lastAccessedUtcOffset = s[24];
    r.streamEntryType = stream[0];
    r.generalSecondaryFlags = stream[1];
    r.nameLength = static_cast<std::uint8_t>(nameLength);
    r.validDataLength = le64(st, 8);
    r.firstCluster = le32(st, 20);
    r.dataLength = le64(st, 24);

    // The name's UTF-16 units, gathered across its entries (a surrogate pair
    // may straddle two) and cut at the name length.
    std::vector<std::uint8_t> units;
    std::size_t used = 2;
    for (std::size_t i = 0; i < nameSlots && 2 + i < slotCount; ++i) {
        const std::uint8_t* n = s + (2 + i) * kSlot;
        if (n[0] != (0x41 | inUse)) break;
        units.insert(units.end(), n + 2, n + kSlot);
        ++used;
    }
    std::size_t chars = std::min(units.size() / 2, nameLength);
    r.name = utf16leToUtf8(Bytes(units), 0, chars, true);
    if (r.name.empty()) return {};
    return {SetStatus::Decoded, used};
}

bool looksLikeEntrySet(const std::uint8_t* s, std::size_t available, std::size_t toClusterEnd) {
    if (available < 3 || !isFileEntry(s[0])) return false;
    const std::uint8_t inUse = s[0] & 0x80;
    // File entry: only the read-only, hidden, system, directory and archive
    // bits; reserved bytes zero; a secondary count a name can need.
    if ((s[4] & ~0x37) != 0 || s[5] != 0 || s[6] != 0 || s[7] != 0 || !allZero(s, 25, 31)) return false;
    if (s[1] < 2 || s[1] > 18) return false;
    const std::uint8_t* st = s + kSlot;
    if (st[0] != (0x40 | inUse) || st[2] != 0 || st[6] != 0 || st[7] != 0 || !allZero(st, 16, 19)) return false;
    std::uint8_t flags = st[1];
    Bytes stream(st, kSlot);
    bool empty = le32(stream, 20) == 0 && le64(stream, 24) == 0;
    if (flags != 1 && flags != 3 && !(flags == 0 && empty)) return false;
    std::size_t nameLength = st[3];
    if (nameLength == 0) return false;
    std::size_t nameSlots = (nameLength + 14) / 15;
    if (s[1] < 1 + nameSlots) return false;
    if (toClusterEnd < 2 + nameSlots) {
        if (toClusterEnd < 3) return false;
        nameSlots = toClusterEnd - 2;
    }
    if (available < 2 + nameSlots) return false;
    for (std::size_t i = 0; i < nameSlots; ++i) {
        const std::uint8_t* n = s + (2 + i) * kSlot;
        if (n[0] != (0x41 | inUse) || n[1] > 3) return false;
    }
    return true;
}

bool decodeBitmapEntry(const std::uint8_t* s, ExFatBitmapEntry& out) {
    if (s[0] != 0x81 || (s[1] & 1) != 0) return false;
    Bytes b(s, kSlot);
    out.firstCluster = le32(b, 20);
    out.length = le64(b, 24);
    return true;
}

bool looksLikeRootStart(const std::uint8_t* s, std::size_t available) {
    std::size_t i = 0;
    if (available > 0 && (s[0] == 0x83 || s[0] == 0x03)) i = 1;  // the volume label, set or not
    if (available < i + 2) return false;
    const std::uint8_t* bitmap = s + i * kSlot;
    const std::uint8_t* upcase = bitmap + kSlot;
    if (bitmap[0] != 0x81 || upcase[0] != 0x82) return false;
    Bytes b(bitmap, kSlot), u(upcase, kSlot);
    return le32(b, 20) >= 2 && le64(b, 24) > 0 && le32(u, 20) >= 2 && le64(u, 24) > 0;
}

}  // namespace ondrel
