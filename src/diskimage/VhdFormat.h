#pragma once
// The VHD footer and dynamic-disk header, big-endian on disk, in host order here.
#include "common/Endian.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace ondrel {

struct VhdFooter {
    bool hasCookie = false;  // "conectix"
    std::uint32_t features = 0;
    std::uint32_t formatVersion = 0;
    std::uint64_t dataOffset = 0;
    std::uint32_t timeStamp = 0;
    std::uint64_t originalSize = 0;
    std::uint64_t currentSize = 0;
    std::uint16_t cylinders = 0;
    std::uint8_t heads = 0;
    std::uint8_t sectorsPerTrack = 0;
    std::uint32_t diskType = 0;  // 2 fixed, 3 dynamic, 4 differencing
    std::array<std::uint8_t, 16> uniqueId{};
};

// Where a differencing disk says its parent lives: a platform code ("W2ru"
// relative and "W2ku" absolute UTF-16LE paths, "Mac "/"MacX" others) and the
// bytes of the path in the file.
struct VhdParentLocator {
    std::string code;
    std::uint32_t dataLength = 0;
    std::uint64_t dataOffset = 0;
};

struct VhdDynamicHeader {
    bool hasCookie = false;  // "cxsparse"
    std::uint64_t dataOffset = 0;
    std::uint64_t tableOffset = 0;
    std::uint32_t maxTableEntries = 0;
    std::uint32_t blockSize = 0;
    std::array<std::uint8_t, 16> parentUniqueId{};
    std::array<VhdParentLocator, 8> locators{};
};

inline VhdFooter parseVhdFooter(Bytes b) {
    VhdFooter f;
    f.hasCookie = hasText(b, 0, "conectix");
    f.features = be32(b, 0x08);
    f.formatVersion = be32(b, 0x0C);
    f.dataOffset = be64(b, 0x10);
    f.timeStamp = be32(b, 0x18);
    f.originalSize = be64(b, 0x28);
    f.currentSize = be64(b, 0x30);
    f.cylinders = be16(b, 0x38);
    f.heads = le8(b, 0x3A);
    f.sectorsPerTrack = le8(b, 0x3B);
    f.diskType = be32(b, 0x3C);
    if (b.size() >= 0x54) std::copy(b.begin() + 0x44, b.begin() + 0x54, f.uniqueId.begin());
    return f;
}

inline VhdDynamicHeader parseVhdDynamicHeader(Bytes b) {
    VhdDynamicHeader h;
    h.hasCookie = hasText(b, 0, "cxsparse");
    h.dataOffset = be64(b, 0x08);
    h.tableOffset = be64(b, 0x10);
    h.maxTableEntries = be32(b, 0x1C);
    h.blockSize = be32(b, 0x20);
    if (b.size() >= 0x240 + 8 * 24) {
        std::copy(b.begin() + 0x28, b.begin() + 0x38, h.parentUniqueId.begin());
        for (std::size_t i = 0; i < 8; ++i) {
            std::size_t e = 0x240 + 24 * i;
            h.locators[i].code.assign(reinterpret_cast<const char*>(b.data() + e), 4);
            h.locators[i].dataLength = be32(b, e + 8);
            h.locators[i].dataOffset = be64(b, e + 16);
        }
    }
    return h;
}

}  // namespace ondrel
