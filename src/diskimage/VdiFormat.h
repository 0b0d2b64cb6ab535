#pragma once
// The VDI header (little-endian), the fields we use or show.
#include "common/Endian.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace ondrel {

inline constexpr std::uint32_t kVdiSignature = 0xBEDA107F;
inline constexpr std::size_t kVdiHeaderSize = 472;

struct VdiHeader {
    std::uint32_t signature = 0;
    std::uint32_t version = 0;
    std::uint32_t headerSize = 0;
    std::uint32_t blockMapOffset = 0;
    std::uint32_t dataOffset = 0;
    std::uint32_t cylinders = 0;
    std::uint32_t heads = 0;
    std::uint32_t sectorsPerTrack = 0;
    std::int64_t diskSize = 0;
    std::uint32_t blockSize = 0;
    std::uint32_t blockCount = 0;
    std::uint32_t allocatedBlocks = 0;
    std::uint32_t imageType = 0;  // 1 normal, 2 fixed, 3 undo, 4 differencing
    std::array<std::uint8_t, 16> uuidCreate{}, uuidLinkage{};
};

inline constexpr std::uint32_t kVdiDifferencing = 4;

inline VdiHeader parseVdiHeader(Bytes b) {
    VdiHeader h;
    h.signature = le32(b, 0x40);
    h.version = le32(b, 0x44);
    h.headerSize = le32(b, 0x48);
    h.blockMapOffset = le32(b, 0x154);
    h.dataOffset = le32(b, 0x158);
    h.cylinders = le32(b, 0x15C);
    h.heads = le32(b, 0x160);
    h.sectorsPerTrack = le32(b, 0x164);
    h.diskSize = static_cast<std::int64_t>(le64(b, 0x170));
    h.blockSize = le32(b, 0x178);
    h.blockCount = le32(b, 0x180);
    h.allocatedBlocks = le32(b, 0x184);
    h.imageType = le32(b, 0x4C);
    if (b.size() >= 0x1B8) {
        std::copy(b.begin() + 0x188, b.begin() + 0x198, h.uuidCreate.begin());
        std::copy(b.begin() + 0x1A8, b.begin() + 0x1B8, h.uuidLinkage.begin());
    }
    return h;
}

}  // namespace ondrel
