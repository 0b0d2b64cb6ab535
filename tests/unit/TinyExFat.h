#pragma once
// A small exFAT volume built byte by byte, for the cases the real tools cannot
// be made to write: sets across cluster ends, reused sets, looping chains,
// cleared FAT entries, UTC offsets, hostile fields.
#include "unit/BootSectors.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace ondrel::test {

// 512-byte sectors; the FAT at sector 24, the heap at sector 64; cluster 2
// holds the allocation bitmap, 3 the up-case table, 4 the root folder.
class TinyExFat {
public:
    using Slot = std::array<std::uint8_t, 32>;
    static constexpr std::size_t kFat = 24 * 512;
    static constexpr std::size_t kHeap = 64 * 512;

    explicit TinyExFat(unsigned clusterShift = 0, std::uint32_t clusters = 200)
        : shift(clusterShift), cb(std::size_t(512) << clusterShift), count(clusters),
          d(kHeap + clusters * (std::size_t(512) << clusterShift), 0) {
        std::uint8_t* b = d.data();
        b[0] = 0xEB, b[1] = 0x76, b[2] = 0x90;
        std::memcpy(b + 3, "EXFAT   ", 8);
        putLe(d, 72, d.size() / 512, 8);
        putLe(d, 80, 24, 4);
        putLe(d, 84, 40, 4);
        putLe(d, 88, 64, 4);
        putLe(d, 92, clusters, 4);
        putLe(d, 96, 4, 4);
        b[108] = 9;
        b[109] = static_cast<std::uint8_t>(clusterShift);
        b[110] = 1;
        putLe(d, 510, 0xAA55, 2);
        fat(0, 0xFFFFFFF8);
        fat(1, 0xFFFFFFFF);
        for (std::uint32_t c : {2u, 3u, 4u}) {
            fat(c, 0xFFFFFFFF);
            use(c);
        }
        for (int i = 0; i < 128; ++i) putLe(d, at(3) + 2 * i, i, 2);  // the up-case table's identity start
        std::size_t r = at(4);
        d[r] = 0x83;  // an empty label
        d[r + 32] = 0x81;
        putLe(d, r + 32 + 20, 2, 4);
        putLe(d, r + 32 + 24, (clusters + 7) / 8, 8);
        d[r + 64] = 0x82;
        putLe(d, r + 64 + 20, 3, 4);
        putLe(d, r + 64 + 24, 5836, 8);
    }

    std::size_t at(std::uint32_t c) const { return kHeap + (c - 2) * cb; }
    void fat(std::uint32_t c, std::uint32_t v) { putLe(d, kFat + 4 * c, v, 4); }
    void use(std::uint32_t c, bool used = true) {
        std::size_t bit = c - 2;
        std::uint8_t& byte = d[at(2) + bit / 8];
        byte = static_cast<std::uint8_t>(used ? byte | (1u << (bit % 8)) : byte & ~(1u << (bit % 8)));
    }
    // A chain through clusters in the FAT, each marked in use.
    void chain(const std::vector<std::uint32_t>& cs) {
        for (std::size_t i = 0; i < cs.size(); ++i) {
            fat(cs[i], i + 1 < cs.size() ? cs[i + 1] : 0xFFFFFFFF);
            use(cs[i]);
        }
    }
    void fill(std::uint32_t c, char ch) { std::memset(d.data() + at(c), ch, cb); }

    struct File {
        std::u16string name;
        std::uint16_t attributes = 0x20;
        std::uint32_t firstCluster = 0;
        std::uint64_t size = 0;
        std::uint64_t validSize = UINT64_MAX;  // the size unless set
        std::uint8_t flags = 1;                // 1: FAT chain, 3: no FAT chain
        bool deleted = false;
        std::uint32_t modified = (44u << 25) | (3u << 21) | (5u << 16) | (13u << 11) | (5u << 5) | 29u;  // 2024-03-05 13:05:58
        std::uint8_t utcOffset = 0;  // of all three stamps
        std::uint8_t secondaryCount = 0;  // 0: what the name needs
    };
    static std::vector<Slot> set(const File& f) {
        std::size_t names = (f.name.size() + 14) / 15;
        std::vector<Slot> s(2 + names);
        std::uint8_t live = f.deleted ? 0 : 0x80;
        s[0][0] = 0x05 | live;
        s[0][1] = f.secondaryCount ? f.secondaryCount : static_cast<std::uint8_t>(1 + names);
        s[0][4] = static_cast<std::uint8_t>(f.attributes);
        s[0][5] = static_cast<std::uint8_t>(f.attributes >> 8);
        auto put32 = [](Slot& x, std::size_t o, std::uint64_t v, int n) {
            for (int i = 0; i < n; ++i) x[o + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
        };
        put32(s[0], 8, f.modified, 4);
        put32(s[0], 12, f.modified, 4);
        put32(s[0], 16, f.modified, 4);
        s[0][22] = s[0][23] = s[0][24] = f.utcOffset;
        s[1][0] = 0x40 | live;
        s[1][1] = f.flags;
        s[1][3] = static_cast<std::uint8_t>(f.name.size());
        put32(s[1], 8, f.validSize == UINT64_MAX ? f.size : f.validSize, 8);
        put32(s[1], 20, f.firstCluster, 4);
        put32(s[1], 24, f.size, 8);
        for (std::size_t k = 0; k < names; ++k) {
            s[2 + k][0] = 0x41 | live;
            for (std::size_t i = 0; i < 15 && k * 15 + i < f.name.size(); ++i) put32(s[2 + k], 2 + 2 * i, f.name[k * 15 + i], 2);
        }
        return s;
    }
    // Writes slots into a folder made of clusters, from slot index first on;
    // returns the index after them.
    std::size_t put(const std::vector<std::uint32_t>& folder, std::size_t first, const std::vector<Slot>& slots) {
        std::size_t perCluster = cb / 32;
        for (std::size_t i = 0; i < slots.size(); ++i) {
            std::size_t n = first + i;
            std::memcpy(d.data() + at(folder[n / perCluster]) + (n % perCluster) * 32, slots[i].data(), 32);
        }
        return first + slots.size();
    }

    unsigned shift;
    std::size_t cb;
    std::uint32_t count;
    ByteVector d;
};

}  // namespace ondrel::test
